#include "link/request_queue.h"

#include "link/framing.h"

std::optional<QByteArray> RequestQueue::read(int32_t start, int16_t quantity, int32_t transactionId) {
    if (pollingHeld_) {
        return std::nullopt;
    }
    if (awaiting_ || commands_.outstanding()) {
        if (commands_.outstanding()) {
            held_ = HeldRead{start, quantity, transactionId};
        }
        return std::nullopt;
    }
    awaiting_ = true;
    return BuildReadRequest(start, quantity, transactionId);
}

QByteArray RequestQueue::write(int32_t reg, int32_t value) {
    writeTid_ = static_cast<uint16_t>(writeTid_ + 1);
    awaiting_ = true;
    return BuildWriteRequest(writeTid_, reg, value);
}

void RequestQueue::sent(const QByteArray& adu) {
    if (static_cast<unsigned char>(adu[7]) == 6) {
        pending_.AddWrite(adu);
    } else {
        pending_.AddRead(adu);
    }
}

std::optional<QByteArray> RequestQueue::nextQueued() {
    if (commands_.empty() || commands_.outstanding() || awaiting_) {
        return std::nullopt;
    }
    commands_.sent();
    const QueuedRequest& request = commands_.next();
    if (request.read) {
        awaiting_ = true;
        return BuildReadRequest(request.reg, static_cast<int16_t>(request.value), nextTid_);
    }
    return write(request.reg, request.value);
}

std::optional<QByteArray> RequestQueue::heldRead() {
    if (!held_ || !commands_.empty() || awaiting_) {
        return std::nullopt;
    }
    const HeldRead held = *held_;
    held_.reset();
    return read(held.start, held.quantity, held.transactionId);
}

void RequestQueue::holdPolling(bool hold) {
    pollingHeld_ = hold;
    if (hold) {
        held_.reset();
    }
}

RequestQueue::Taken RequestQueue::take(const QByteArray& frame, bool commandOut) {
    Taken taken;
    taken.asked = pending_.Take(frame);
    if (taken.asked.kind == Asked::Kind::Nothing) {
        return taken; // a second copy of an answer, or one nobody waits for
    }
    if (pending_.Empty()) {
        awaiting_ = false;
        taken.idle = true;
    }
    taken.forCommand = commandOut && (taken.asked.kind == Asked::Kind::Write ||
                                      (taken.asked.kind == Asked::Kind::Read &&
                                       commands_.answersRead(taken.asked.start, taken.asked.quantity)));
    return taken;
}

void RequestQueue::forget() {
    pending_.Clear();
    awaiting_ = false;
}

void RequestQueue::failCommands(const QString& reason) {
    held_.reset();
    commands_.failAll(reason);
}
