#include "link/dispatch.h"

#include "link/status_pane.h"
#include "support/run_error.h"

QString ExceptionText(int exceptionCode) {
    switch (exceptionCode) {
    case 1:
        return QStringLiteral("Illegal function");
    case 2:
        return QStringLiteral("Illegal data address");
    case 3:
        return QStringLiteral("Illegal data value");
    case 4:
        return QStringLiteral("Server device failure");
    default:
        return QStringLiteral("Modbus exception: ") + QString::number(exceptionCode);
    }
}

void DescribeModbusException(StatusPane& status, int /*functionCode*/, int exceptionCode) {
    status.AppendStatusLine(QStringLiteral("Modbus return error ") + ExceptionText(exceptionCode));
}

namespace {

template <typename Call> void CallDecoder(const char* name, Call&& call) {
    try {
        call();
    } catch (RunError& e) {
        if (e.procedure.isEmpty()) {
            e.procedure = QString::fromLatin1(name);
        }
        throw;
    }
}

} // namespace

namespace {

int Word(const QByteArray& bytes, int at) {
    return static_cast<unsigned char>(bytes[at]) * 256 + static_cast<unsigned char>(bytes[at + 1]);
}

} // namespace

void PendingRequests::AddRead(const QByteArray& adu) {
    reading_ = true;
    readTid_ = Word(adu, 0);
    start_ = Word(adu, 8);
    quantity_ = Word(adu, 10);
}

void PendingRequests::AddWrite(const QByteArray& adu) {
    writeTids_.append(Word(adu, 0));
}

Asked PendingRequests::Take(const QByteArray& frame) {
    Asked asked;
    if (frame.size() < 9) {
        return asked;
    }
    const int function = static_cast<unsigned char>(frame[7]);
    const bool exception = (function & 0x80) != 0;
    const int tid = Word(frame, 0);
    if ((function & 0x7F) == 3 && reading_ && tid == readTid_ &&
        (exception || static_cast<unsigned char>(frame[8]) == 2 * quantity_)) {
        reading_ = false;
        return {Asked::Kind::Read, start_, quantity_};
    }
    if ((function & 0x7F) == 6 && writeTids_.removeOne(tid)) {
        asked.kind = Asked::Kind::Write;
    }
    return asked;
}

void DispatchResponse(const QByteArray& frame, const Asked& asked, const DecoderTable& decoders,
                      StatusPane& status) {
    if (asked.kind == Asked::Kind::Nothing || frame.size() < 9) {
        return;
    }
    const auto byte = [&frame](int i) { return static_cast<unsigned char>(frame[i]); };
    if (byte(7) & 0x80) {
        DescribeModbusException(status, byte(7) & 0x7F, byte(8));
        return;
    }
    if (asked.kind != Asked::Kind::Read || frame.size() < 9 + 2 * asked.quantity) {
        return;
    }
    const struct {
        int start;
        int quantity;
        const std::function<void(const QByteArray&)>& decoder;
        const char* name;
    } blocks[] = {{60000, 96, decoders.blockA, "DecodeBlockA"},
                  {60166, 24, decoders.blockB, "DecodeBlockB"},
                  {60300, 18, decoders.blockC, "DecodeBlockC"},
                  {60200, 4, decoders.blockD, "DecodeBlockD"}};
    for (const auto& block : blocks) {
        if (asked.start == block.start && asked.quantity == block.quantity) {
            if (block.decoder) {
                CallDecoder(block.name, [&] { block.decoder(frame); });
            }
            return;
        }
    }
    if (decoders.other) {
        const int32_t tid = Word(frame, 0);
        CallDecoder("DecodeOther", [&] { decoders.other(frame, tid); });
    }
}
