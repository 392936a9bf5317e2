#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <cstdint>
#include <functional>

// What a queued batch came to: every write echoed as sent and every read answered in full, or
// the first failure in words. registers holds the values of the batch's reads, in order.
struct CommandAnswer {
    bool ok = false;
    QString failure;
    QList<int> registers;
};

// One request of a batch: a single-register write, or a read of count holding registers.
struct QueuedRequest {
    bool read = false;
    int32_t reg = 0;
    int32_t value = 0; // the value written, or the count read
};

// Batches of requests that keep the one-request-at-a-time rule: a batch goes out back to back,
// request after answer, and its done hears once how it came out. A failed request drops the
// rest of its batch, since half a command is not the command.
class CommandQueue {
public:
    using Done = std::function<void(const CommandAnswer&)>;

    void add(const QList<QueuedRequest>& requests, Done done);
    bool empty() const { return items_.isEmpty(); }
    bool outstanding() const { return outstanding_; }
    // The request to send next; only while empty() is false.
    const QueuedRequest& next() const { return items_.first().request; }
    void sent() { outstanding_ = true; }
    // Whether a read's answer (by its start and quantity) answers the outstanding request.
    bool answersRead(int start, int quantity) const;
    // The answer to the outstanding request: an echo, a read's registers or an exception.
    void answered(const QByteArray& frame);
    // Every batch fails with the reason (a time-out, a lost connection).
    void failAll(const QString& reason);

private:
    struct Item {
        QueuedRequest request;
        Done done; // on the last request of a batch only
    };
    void Fail(const QString& reason);

    QList<Item> items_;
    bool outstanding_ = false;
    QList<int> registers_; // the reads of the batch under way
};
