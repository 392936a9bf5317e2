#include "link/command_queue.h"

#include "link/dispatch.h"

#include <utility>

namespace {
int Word(const QByteArray& bytes, int at) {
    return static_cast<unsigned char>(bytes[at]) * 256 + static_cast<unsigned char>(bytes[at + 1]);
}
} // namespace

void CommandQueue::add(const QList<QueuedRequest>& requests, Done done) {
    if (requests.isEmpty()) {
        if (done) {
            done(CommandAnswer{true, QString(), {}});
        }
        return;
    }
    for (const QueuedRequest& request : requests) {
        items_.append({request, nullptr});
    }
    items_.last().done = std::move(done);
}

bool CommandQueue::answersRead(int start, int quantity) const {
    return outstanding_ && !items_.isEmpty() && next().read && next().reg == start &&
           next().value == quantity;
}

void CommandQueue::answered(const QByteArray& frame) {
    outstanding_ = false;
    if (items_.isEmpty()) {
        return;
    }
    const QueuedRequest request = next();
    const int function = frame.size() >= 9 ? static_cast<unsigned char>(frame[7]) : 0;
    if ((function & 0x80) != 0) {
        Fail(QStringLiteral("register %1 answered with exception %2 (%3)")
                 .arg(request.reg)
                 .arg(static_cast<unsigned char>(frame[8]))
                 .arg(ExceptionText(static_cast<unsigned char>(frame[8]))));
        return;
    }
    if (!request.read) {
        // The echo of a single-register write repeats the register and the value as written.
        if (frame.size() < 12 || function != 6 || Word(frame, 8) != (request.reg & 0xFFFF) ||
            Word(frame, 10) != (request.value & 0xFFFF)) {
            Fail(QStringLiteral("the echo of %1 = %2 differs from the write")
                     .arg(request.reg)
                     .arg(request.value));
            return;
        }
    } else {
        if (frame.size() < 9 + 2 * request.value ||
            static_cast<unsigned char>(frame[8]) != 2 * request.value) {
            Fail(QStringLiteral("the read of %1 came back short").arg(request.reg));
            return;
        }
        for (int i = 0; i < request.value; ++i) {
            registers_.append(Word(frame, 9 + 2 * i));
        }
    }
    Item item = items_.takeFirst();
    if (item.done) {
        CommandAnswer answer{true, QString(), std::exchange(registers_, {})};
        item.done(answer);
    }
}

void CommandQueue::Fail(const QString& reason) {
    registers_.clear();
    while (!items_.isEmpty()) {
        Item item = items_.takeFirst();
        if (item.done) {
            item.done(CommandAnswer{false, reason, {}});
            return;
        }
    }
}

void CommandQueue::failAll(const QString& reason) {
    outstanding_ = false;
    registers_.clear();
    // Taken first: a done may queue its next batch, which is not failed with these.
    const QList<Item> items = std::exchange(items_, {});
    for (const Item& item : items) {
        if (item.done) {
            item.done(CommandAnswer{false, reason, {}});
        }
    }
}
