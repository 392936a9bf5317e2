#pragma once

#include <QByteArray>
#include <QList>

// Cuts Modbus TCP responses out of the byte stream: a response may come split over several
// segments, and several responses may come in one. A response's end is taken from its PDU, not
// from the MBAP length, which gateways get wrong: a read answer is 9 + its byte count (the
// link decodes only one whose count is what was asked), an exception 9 bytes, a write echo 12.
// The protocol and unit identifiers are not looked at.
class FrameReader {
public:
    void append(const QByteArray& bytes);
    // The next complete response, or an empty array while the one at the head is still coming.
    // Bytes that follow a complete response and start none (a checksum a serial gateway passes
    // on) are dropped with it; bytes where a response should start are dropped up to the next
    // one that could (counted in discarded()).
    QByteArray next();
    // append() and every next().
    QList<QByteArray> feed(const QByteArray& bytes);

    // Bytes thrown away as out of step since the last append: no response started there.
    int discarded() const { return discarded_; }
    bool outOfStep() const { return discarded_ > 0; }
    // The bytes of a partial frame, kept for its remaining bytes.
    int pending() const { return static_cast<int>(buffer_.size()); }
    void clear() { buffer_.clear(); }

private:
    // A response's length if one could start at `at`; 0 when more bytes are needed to tell,
    // -1 when none starts there.
    int LengthAt(int at) const;
    // Drops the bytes before the next place a response could start (all of them if none);
    // returns how many.
    int SkipToNextStart();

    QByteArray buffer_;
    int discarded_ = 0;
};
