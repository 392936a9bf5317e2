// Arbitrary bytes, cut into arbitrary chunks, go the way a response does: the frame reader, the
// dispatcher and every decoder into a Form, with its files in a scratch folder.
#include "decode/block_a.h"
#include "decode/block_b.h"
#include "decode/block_c.h"
#include "decode/block_d.h"
#include "decode/decode_context.h"
#include "decode/register_listing.h"
#include "link/connection.h"
#include "link/dispatch.h"
#include "link/frame_reader.h"
#include "link/framing.h"
#include "link/status_pane.h"
#include "model/controls_form.h"
#include "model/form.h"
#include "support/clock.h"
#include "support/error_log.h"
#include "support/event_boundary.h"
#include "support/file_failures.h"
#include "support/prompter.h"
#include "support/text_forms.h"

#include <QFile>
#include <QLocale>
#include <QTemporaryDir>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>

namespace {

struct Surroundings {
    Surroundings() {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
        // Named in full: the fuzzer itself reads its corpus relative to the working directory.
        if (!scratch.isValid()) {
            std::abort();
        }
        decoders.blockA = [this](const QByteArray& data) { DecodeBlockA(ctx, identity, data); };
        decoders.blockB = [this](const QByteArray& data) { DecodeBlockB(ctx, data); };
        decoders.blockC = [this](const QByteArray& data) { DecodeBlockC(ctx, data); };
        decoders.blockD = [this](const QByteArray& data) { DecodeBlockD(ctx, data); };
        decoders.other = [this](const QByteArray& data, int32_t tid) { DecodeOther(ctx, data, tid); };
    }

    // A fresh form each input, so the status pane and listing stay the size one input makes.
    void Reset() {
        form = Form{};
        form.RegisterDetails = scratch.filePath(QStringLiteral("regs.txt"));
        form.BatteryToday = scratch.filePath(QStringLiteral("Battery.txt"));
        form.BatterySoC = scratch.filePath(QStringLiteral("BatterySoC.log"));
        form.CurrentTextbox = &form.LastTargetValue;
        controls = ControlsForm{};
        identity = DeviceIdentity{};
        QFile::remove(log.path()); // entries are expected; only their count is bounded
        prompter.messages.clear();
    }

    QTemporaryDir scratch;
    SettableClock clock;
    RecordingPrompter prompter;
    ErrorLog log{clock, prompter, scratch.filePath(QStringLiteral("errors.log"))};
    EventBoundary boundary{log};
    Form form;
    StatusPane status{form};
    FileFailures fileFailures{log};
    ControlsForm controls;
    DeviceIdentity identity;
    DecodeContext ctx{
        form,
        status,
        clock,
        log,
        fileFailures,
        [](const QString& start, const QString& quantity) {
            qint64 s = 0;
            qint64 q = 0;
            if (!ConvertWhole(start, INT32_MIN, INT32_MAX, &s) ||
                !ConvertWhole(quantity, INT16_MIN, INT16_MAX, &q)) {
                return false;
            }
            return BuildReadRequest(static_cast<int32_t>(s), static_cast<int16_t>(q), 0).size() == 12;
        },
        [this]() -> ControlsForm& { return controls; }};
    DecoderTable decoders;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Surroundings* s = new Surroundings; // kept for the whole run, like the program's own
    s->Reset();
    FuzzedDataProvider input(data, size);
    FrameReader reader;
    PendingRequests pending;
    // The reads the program makes: the poll's four blocks, the signature, an operator's "Get".
    const int reads[][2] = {{60000, 96}, {60166, 24}, {60300, 18}, {60200, 4}, {40000, 2}, {100, 18}};
    while (input.remaining_bytes() > 0) {
        // Chunk lengths come from the input's end, the bytes from its front.
        if (pending.Empty()) {
            const int* read = reads[input.ConsumeIntegralInRange<size_t>(0, 5)];
            pending.AddRead(BuildReadRequest(read[0], static_cast<int16_t>(read[1]), 0));
            pending.AddWrite(BuildWriteRequest(0, 60310, 0));
        }
        const size_t chunk = input.ConsumeIntegralInRange<size_t>(1, 300);
        const std::string bytes = input.ConsumeBytesAsString(chunk);
        reader.append(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
        for (QByteArray frame = reader.next(); !frame.isEmpty(); frame = reader.next()) {
            const Asked asked = pending.Take(frame);
            s->boundary.run(QStringLiteral("Winsock1_DataArrival"),
                            [&] { DispatchResponse(frame, asked, s->decoders, s->status); });
        }
    }
    return 0;
}
