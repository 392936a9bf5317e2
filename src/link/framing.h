#pragma once

#include <QByteArray>
#include <cstdint>

// Modbus TCP request ADUs (MBAP header and PDU), 12 bytes each, unit identifier 1.

// A 16-bit field from a signed integer: high = (v / 256 truncated) AND 0xFF, low = v AND 0xFF.
void PutField(QByteArray& adu, int index, int32_t v);

// Function 0x03, read holding registers.
QByteArray BuildReadRequest(int32_t start, int16_t quantity, int32_t transactionId);
// Function 0x06, write single register.
QByteArray BuildWriteRequest(uint16_t transactionId, int32_t reg, int32_t value);
