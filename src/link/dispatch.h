#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

class StatusPane;

// The decoders, filled in by the shell so that the link knows none of them. An empty entry
// drops responses of that size.
struct DecoderTable {
    std::function<void(const QByteArray&)> blockA; // byte count 192
    std::function<void(const QByteArray&)> blockB; // 48
    std::function<void(const QByteArray&)> blockC; // 36
    std::function<void(const QByteArray&)> blockD; // 8
    std::function<void(const QByteArray&, int32_t)> other;
};

// Exception response text, written as "Modbus return error " + text.
QString ExceptionText(int exceptionCode);
void DescribeModbusException(StatusPane& status, int functionCode, int exceptionCode);

// One complete response frame: exception report, or, for a read (function 3), the decoder chosen
// by the byte count; frames of other functions are not decoded.
// A frame shorter than 9 bytes, or than 9 + byte count, is dropped. A failure inside a decoder
// escapes as RunError naming that decoder.
void DispatchFrame(const QByteArray& data, const DecoderTable& decoders, StatusPane& status);
