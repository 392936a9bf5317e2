#pragma once

#include "link/command_queue.h"
#include "link/dispatch.h"

#include <QByteArray>
#include <cstdint>
#include <optional>

// The requests on the wire and those waiting for it: one outstanding at a time, the poll's reads
// and the operator's, the queued commands (writes and their read-backs), the transaction ids.
// Pure bookkeeping: it hands out the bytes to send and takes in the frames that came back.
class RequestQueue {
public:
    bool awaiting() const { return awaiting_; }
    int32_t nextTid() const { return nextTid_; }

    // A poll or operator read: its bytes to send now, or none while a request is outstanding
    // (held for after a queued command, else dropped as the one-at-a-time lock always did) or
    // while polling is held.
    std::optional<QByteArray> read(int32_t start, int16_t quantity, int32_t transactionId);
    // A single-register write with the next write transaction id.
    QByteArray write(int32_t reg, int32_t value);
    // The bytes handed out went on the wire and wait for their answer.
    void sent(const QByteArray& adu);

    void queue(const QList<QueuedRequest>& requests, CommandQueue::Done done) {
        commands_.add(requests, std::move(done));
    }
    bool commandsQueued() const { return !commands_.empty(); }
    // The next request of a queued command, when nothing is outstanding.
    std::optional<QByteArray> nextQueued();
    // A read held for a queued command, once it is done and nothing is outstanding.
    std::optional<QByteArray> heldRead();
    void holdPolling(bool hold);

    struct Taken {
        Asked asked;
        bool forCommand = false; // the queued command's own answer: no decoder's business
        bool idle = false;       // nothing outstanding any more
    };
    // What a frame answers. commandOut: a queued request was outstanding before these frames.
    Taken take(const QByteArray& frame, bool commandOut);
    bool commandOutstanding() const { return commands_.outstanding(); }
    void commandAnswered(const QByteArray& frame) { commands_.answered(frame); }

    // Nothing is outstanding any more: a time-out, a lost connection.
    void forget();
    // The queued commands fail with the reason, and a held read goes.
    void failCommands(const QString& reason);

private:
    struct HeldRead {
        int32_t start = 0;
        int16_t quantity = 0;
        int32_t transactionId = 0;
    };

    PendingRequests pending_;
    CommandQueue commands_;
    bool awaiting_ = false;
    bool pollingHeld_ = false;
    int32_t nextTid_ = 0;
    uint16_t writeTid_ = 0;
    std::optional<HeldRead> held_;
};
