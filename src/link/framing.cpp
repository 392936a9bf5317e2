#include "link/framing.h"

void PutField(QByteArray& adu, int index, int32_t v) {
    adu[index] = static_cast<char>((v / 256) & 0xFF);
    adu[index + 1] = static_cast<char>(v & 0xFF);
}

namespace {

QByteArray Build(int32_t tid, uint8_t function, int32_t a, int32_t b) {
    QByteArray adu(12, '\0');
    PutField(adu, 0, tid);
    PutField(adu, 2, 0);
    PutField(adu, 4, 6);
    adu[6] = 0x01;
    adu[7] = static_cast<char>(function);
    PutField(adu, 8, a);
    PutField(adu, 10, b);
    return adu;
}

} // namespace

QByteArray BuildReadRequest(int32_t start, int16_t quantity, int32_t transactionId) {
    return Build(transactionId, 0x03, start, quantity);
}

QByteArray BuildWriteRequest(uint16_t transactionId, int32_t reg, int32_t value) {
    return Build(transactionId, 0x06, reg, value);
}
