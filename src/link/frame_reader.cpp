#include "link/frame_reader.h"

namespace {

constexpr int kHeaderBytes = 8; // MBAP header and function code

} // namespace

void FrameReader::append(const QByteArray& bytes) {
    discarded_ = 0;
    buffer_.append(bytes);
}

int FrameReader::LengthAt(int at) const {
    if (buffer_.size() < at + kHeaderBytes) {
        return 0;
    }
    const int function = static_cast<unsigned char>(buffer_[at + 7]);
    switch (function) {
    case 0x03: {
        if (buffer_.size() < at + kHeaderBytes + 1) {
            return 0;
        }
        const int count = static_cast<unsigned char>(buffer_[at + 8]);
        return count == 0 || count % 2 != 0 ? -1 : 9 + count;
    }
    case 0x06:
        return 12;
    case 0x83:
    case 0x86:
        return 9;
    default:
        return -1;
    }
}

int FrameReader::SkipToNextStart() {
    int at = 1;
    while (buffer_.size() >= at + kHeaderBytes && LengthAt(at) < 0) {
        ++at;
    }
    // Too few bytes left to tell whether a response starts there: no sender splits one so.
    if (buffer_.size() < at + kHeaderBytes) {
        at = static_cast<int>(buffer_.size());
    }
    buffer_.remove(0, at);
    return at;
}

QByteArray FrameReader::next() {
    for (;;) {
        const int length = LengthAt(0);
        if (length == 0 || (length > 0 && buffer_.size() < length)) {
            return {};
        }
        if (length < 0) {
            discarded_ += SkipToNextStart();
            continue;
        }
        QByteArray frame = buffer_.left(length);
        buffer_.remove(0, length);
        // What came with the response and starts none belongs to it, not to the next one.
        if (!buffer_.isEmpty() && LengthAt(0) <= 0) {
            SkipToNextStart();
        }
        return frame;
    }
}

QList<QByteArray> FrameReader::feed(const QByteArray& bytes) {
    append(bytes);
    QList<QByteArray> frames;
    for (QByteArray frame = next(); !frame.isEmpty(); frame = next()) {
        frames.append(frame);
    }
    return frames;
}
