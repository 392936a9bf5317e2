#include "link/frame_reader.h"

QList<QByteArray> FrameReader::feed(const QByteArray& bytes) {
    outOfStep_ = false;
    discarded_ = 0;
    buffer_.append(bytes);
    QList<QByteArray> frames;
    while (buffer_.size() >= 6) {
        const auto byte = [this](int i) { return static_cast<unsigned char>(buffer_[i]); };
        const int protocol = byte(2) * 256 + byte(3);
        const int length = byte(4) * 256 + byte(5);
        if (protocol != 0 || length < 2 || length > 254) {
            discarded_ = static_cast<int>(buffer_.size());
            buffer_.clear();
            outOfStep_ = true;
            break;
        }
        const int total = 6 + length;
        if (buffer_.size() < total) {
            break;
        }
        frames.append(buffer_.left(total));
        buffer_.remove(0, total);
    }
    return frames;
}
