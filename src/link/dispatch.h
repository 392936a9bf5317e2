#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>

class StatusPane;

// The decoders, filled in by the shell so that the link knows none of them. An empty entry
// drops the answers to that read.
struct DecoderTable {
    std::function<void(const QByteArray&)> blockA; // 96 registers at 60000
    std::function<void(const QByteArray&)> blockB; // 24 at 60166
    std::function<void(const QByteArray&)> blockC; // 18 at 60300
    std::function<void(const QByteArray&)> blockD; // 4 at 60200
    std::function<void(const QByteArray&, int32_t)> other;
};

// What a response answers.
struct Asked {
    enum class Kind { Nothing, Read, Write };
    Kind kind = Kind::Nothing;
    int start = 0;
    int quantity = 0;
};

// The requests on the wire. One read is outstanding at a time; the writes of a command go out
// back to back, and their echoes are told apart from a read's answer by the function code. An
// answer carries the transaction id of its request; one with another id answers nothing sent.
class PendingRequests {
public:
    // From the request as sent, so that the start is the 16-bit address the server saw.
    void AddRead(const QByteArray& adu);
    void AddWrite(const QByteArray& adu);
    void Clear() { *this = PendingRequests(); }
    bool Empty() const { return !reading_ && writeTids_.isEmpty(); }
    // Takes what a complete response answers off the list. Nothing for a response nobody is
    // waiting for (a second copy of an answer, a stray), which is dropped.
    Asked Take(const QByteArray& frame);

private:
    bool reading_ = false;
    int start_ = 0;
    int quantity_ = 0;
    int readTid_ = 0;
    QList<int> writeTids_;
};

// Exception response text, written as "Modbus return error " + text.
QString ExceptionText(int exceptionCode);
void DescribeModbusException(StatusPane& status, int functionCode, int exceptionCode);

// One complete response, decoded as what was asked: an exception is reported, a write's echo
// dropped, a read's answer goes to the block decoder of the read's range (the poll's four) or to
// DecodeOther. A failure inside a decoder escapes as RunError naming that decoder.
void DispatchResponse(const QByteArray& frame, const Asked& asked, const DecoderTable& decoders,
                      StatusPane& status);
