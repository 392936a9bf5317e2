#pragma once

#include <QByteArray>
#include <QList>

// Reassembles Modbus TCP frames from the byte stream by their MBAP header: a response may come
// split over several segments, and several responses may come in one.
class FrameReader {
public:
    // Adds received bytes; returns every frame now complete, in order. When the stream is out of
    // step (protocol identifier not 0, or a length outside 2..254) the buffer is discarded and
    // outOfStep() is true until the next feed.
    QList<QByteArray> feed(const QByteArray& bytes);

    bool outOfStep() const { return outOfStep_; }
    // Bytes thrown away by the last feed because the stream was out of step.
    int discarded() const { return discarded_; }
    // The bytes of a partial frame, kept for its remaining bytes.
    int pending() const { return static_cast<int>(buffer_.size()); }
    void clear() { buffer_.clear(); }

private:
    QByteArray buffer_;
    bool outOfStep_ = false;
    int discarded_ = 0;
};
