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

void DispatchFrame(const QByteArray& data, const DecoderTable& decoders, StatusPane& status) {
    if (data.size() < 9) {
        return;
    }
    const auto byte = [&data](int i) { return static_cast<unsigned char>(data[i]); };
    if (byte(7) & 0x80) {
        DescribeModbusException(status, byte(7) & 0x7F, byte(8));
        return;
    }
    // A write's echo or any other function carries no register block, whatever its byte 8 says.
    if (byte(7) != 3) {
        return;
    }
    const int n = byte(8);
    if (data.size() < 9 + n) {
        return;
    }
    const int32_t tid = byte(0) * 256 + byte(1);
    switch (n) {
    case 8:
        if (decoders.blockD) {
            CallDecoder("DecodeBlockD", [&] { decoders.blockD(data); });
        }
        break;
    case 36:
        if (decoders.blockC) {
            CallDecoder("DecodeBlockC", [&] { decoders.blockC(data); });
        }
        break;
    case 48:
        if (decoders.blockB) {
            CallDecoder("DecodeBlockB", [&] { decoders.blockB(data); });
        }
        break;
    case 192:
        if (decoders.blockA) {
            CallDecoder("DecodeBlockA", [&] { decoders.blockA(data); });
        }
        break;
    default:
        if (decoders.other) {
            CallDecoder("DecodeOther", [&] { decoders.other(data, tid); });
        }
        break;
    }
}
