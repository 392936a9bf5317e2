#include "decode/block_b.h"

#include "decode/conversions.h"
#include "decode/decode_context.h"
#include "decode/register_listing.h"
#include "energy/battery_file.h"
#include "link/status_pane.h"
#include "model/form.h"
#include "model/reading.h"
#include "support/clock.h"
#include "support/file_failures.h"
#include "support/file_replacement.h"
#include "support/text_forms.h"

#include <QFileInfo>

namespace {

constexpr int kWords = 24;

QString Today(const QString& life, const QString& night) {
    return DecimalText(LeadingNumber(life) - LeadingNumber(night));
}

} // namespace

void DecodeBlockB(DecodeContext& ctx, const QByteArray& data) {
    Form& form = ctx.form;
    // 1.
    int32_t r[kWords];
    for (int i = 0; i < kWords; ++i) {
        r[i] = RegisterWord(data, i);
    }
    AppendListing(form, data, 60166, kWords);

    // 2. The grid pair stands discharge before charge.
    form.PVChargeLife = DecimalText(ToUInt64(r[0], r[1], r[2], r[3]));
    form.PVDischargeLife = DecimalText(ToUInt64(r[6], r[7], r[8], r[9]));
    form.GridDischargeLife = DecimalText(ToUInt64(r[12], r[13], r[14], r[15]));
    form.GridChargeLife = DecimalText(ToUInt64(r[18], r[19], r[20], r[21]));

    // 3. Unclamped: a counter that went back gives a negative day.
    form.PVChargeToday = Today(form.PVChargeLife, form.NightPVChargeLife);
    form.PVDischargeToday = Today(form.PVDischargeLife, form.NightPVDischargeLife);
    form.GridChargeToday = Today(form.GridChargeLife, form.NightGridChargeLife);
    form.GridDischargeToday = Today(form.GridDischargeLife, form.NightGridDischargeLife);

    if (ctx.reading != nullptr) {
        Reading& reading = *ctx.reading;
        reading.lifetime = {ToUInt64(r[0], r[1], r[2], r[3]), ToUInt64(r[6], r[7], r[8], r[9]),
                            ToUInt64(r[18], r[19], r[20], r[21]), ToUInt64(r[12], r[13], r[14], r[15])};
        const QString* nights[] = {&form.NightPVChargeLife, &form.NightPVDischargeLife,
                                   &form.NightGridChargeLife, &form.NightGridDischargeLife};
        for (size_t i = 0; i < reading.lifetime.size(); ++i) {
            reading.today[i].reset();
            if (!nights[i]->isEmpty()) {
                reading.today[i] = reading.lifetime[i] - LeadingNumber(*nights[i]);
            }
        }
        reading.time = ctx.clock.now();
    }

    // 4.
    ctx.status.AppendStatusLine(QStringLiteral("Polled 24 registers at ") + HostNow(ctx.clock.now()));
    ctx.status.CaretToEnd();

    // 5, 6. Only a complete temporary file may replace the battery state file, and a disk that
    // stays full is reported once, not every cycle. The copy takes the bytes checked on disk
    // as they are in hand; rewritten every cycle, it is not forced to disk each time (the night
    // snapshot taken from it is).
    FileFailure failure;
    QByteArray bytes;
    if (WriteBatteryTemp(form, ctx.clock, &failure, &bytes) &&
        ReplaceFileDeferred(form.BatteryToday, bytes, &failure)) {
        ctx.fileFailures.succeeded(form.BatteryToday);
    } else {
        // Only a file that is there keeps anything.
        const bool kept = QFileInfo::exists(form.BatteryToday);
        ctx.fileFailures.failed(form.BatteryToday, failure,
                                kept ? QStringLiteral("its last good content is kept") : QString());
    }

    // 7.
    writedetails(form);
}
