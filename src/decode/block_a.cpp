#include "decode/block_a.h"

#include "decode/conversions.h"
#include "decode/decode_context.h"
#include "decode/register_listing.h"
#include "decode/soc_log.h"
#include "link/status_pane.h"
#include "model/form.h"
#include "model/reading.h"
#include "support/clock.h"
#include "support/error_log.h"
#include "support/file_failures.h"
#include "support/text_forms.h"

QString VersionText(int32_t x) {
    return QLatin1Char('V') + QString::number(x / 256) + QLatin1Char('.') + QString::number(x % 256);
}

namespace {

constexpr int kWords = 96;
// Beyond any home battery (1 MWh) whether the register counts Wh or kWh, as devices differ.
constexpr int32_t kMostCapacity = 1000000;
constexpr int32_t kMostPercent = 100;

// Says an implausible reading when its run starts; true while it lasts.
bool Implausible(DecodeContext& ctx, bool implausible, bool* saidBefore, const QString& text) {
    if (implausible && !*saidBefore) {
        ctx.status.AppendStatusLine(text);
        ctx.log.ErrorHandle(QStringLiteral("Implausible value"), QStringLiteral("0"),
                            QStringLiteral("DecodeBlockA"), text);
    }
    *saidBefore = implausible;
    return implausible;
}

// Two characters per word, high byte first; zero bytes kept like any other.
QString WordText(const int32_t* words, int first, int count) {
    QString text;
    for (int i = first; i < first + count; ++i) {
        text += QChar(static_cast<char16_t>(words[i] / 256));
        text += QChar(static_cast<char16_t>(words[i] & 255));
    }
    return text;
}

// Magnitude split of a signed power: the negative part is charge, the rest discharge.
void Split(int32_t v, QString& charge, QString& discharge) {
    if (v < 0) {
        charge = IntText(-static_cast<qint64>(v));
        discharge = QStringLiteral("0");
    } else {
        charge = QStringLiteral("0");
        discharge = IntText(v);
    }
}

} // namespace

void DecodeBlockA(DecodeContext& ctx, DeviceIdentity& identity, const QByteArray& data) {
    Form& form = ctx.form;
    // 1. Working array and a fresh listing.
    int32_t w[kWords];
    for (int i = 0; i < kWords; ++i) {
        w[i] = RegisterWord(data, i);
    }
    form.RegisterDetailsText.clear();
    AppendListing(form, data, 60000, kWords);

    // 2. Identity, while the serial number field is empty.
    if (form.SNum.isEmpty()) {
        identity.SerialText = WordText(w, 0, 10);
        identity.HardwareVersion = w[10];
        identity.FirmwareText = WordText(w, 11, 15);
        identity.ProtocolVersion = w[26];
        identity.RatedPVPower = ToUInt32(w[27], w[28]);
        identity.RatedBatteryPower = ToUInt32(w[29], w[30]);
        identity.BatteryCapacityValue = ToUInt32(w[31], w[32]);
        form.SNum = identity.SerialText;
        form.HW = VersionText(identity.HardwareVersion);
        form.FW = identity.FirmwareText;
        form.Protocol = VersionText(identity.ProtocolVersion);
        form.PVPower = IntText(identity.RatedPVPower);
        form.BatteryPower = GroupedPattern(identity.RatedBatteryPower, QStringLiteral(" W"));
        form.BatteryCapacity = GroupedPattern(identity.BatteryCapacityValue, QStringLiteral(" kWh"));
    }

    // 3.
    const int32_t size = ToUInt32(w[31], w[32]);
    const bool badSize = size > kMostCapacity;
    form.BatterySize = badSize ? QString() : IntText(size);

    // 4. State of charge: a line only when it changed (an empty text counts as 0).
    const bool badSoc = w[95] > kMostPercent;
    FileFailure logFailure;
    bool logged = true;
    if (badSoc) {
        form.BatteryPercent.clear();
    } else if (LeadingNumber(form.BatteryPercent) != static_cast<double>(w[95])) {
        form.BatteryPercent = IntText(w[95]);
        logged = LogSoc(form, ctx.clock, &logFailure);
    }

    // 5. No level from a figure that is none.
    if (badSize || badSoc) {
        form.CurrentLevelKWh.clear();
        form.Capacity.clear();
    } else {
        const double level = (LeadingNumber(form.BatteryPercent) / 100.0) * LeadingNumber(form.BatterySize);
        form.CurrentLevelKWh = DecimalText(level);
        form.Capacity = GroupedPattern(level, QStringLiteral(" kWh"));
    }

    // 6, 7.
    Split(ToInt32(w[71], w[72]), form.PVCharge, form.PVDischarge);
    Split(ToInt32(w[73], w[74]), form.GridCharge, form.GridDischarge);

    if (ctx.reading != nullptr) {
        Reading& reading = *ctx.reading;
        if (!ValidSerial(identity.readingSerial)) {
            identity.readingSerial = WordText(w, 0, 10);
            identity.readingHardware = VersionText(w[10]);
            identity.readingFirmware = WordText(w, 11, 15);
            identity.readingRatedPvW = ToUInt32(w[27], w[28]);
        }
        reading.serial = identity.readingSerial;
        reading.hardware = identity.readingHardware;
        reading.firmware = identity.readingFirmware;
        reading.ratedPvW = identity.readingRatedPvW;
        reading.ratedBatteryW = ToUInt32(w[29], w[30]);
        // An implausible figure is none.
        reading.capacityKWh = badSize ? std::nullopt : std::optional<int64_t>(size);
        reading.socPercent = badSoc ? std::nullopt : std::optional<double>(w[95]);
        reading.levelKWh.reset();
        if (!badSize && !badSoc) {
            // Multiplied first: 57 % of 10240 kWh is 5836.8, not 5836.799999999999.
            reading.levelKWh = static_cast<double>(w[95]) * static_cast<double>(size) / 100.0;
        }
        const int32_t pv = ToInt32(w[71], w[72]);
        const int32_t grid = ToInt32(w[73], w[74]);
        reading.pvChargeW = pv < 0 ? -static_cast<int64_t>(pv) : 0;
        reading.pvDischargeW = pv < 0 ? 0 : pv;
        reading.gridChargeW = grid < 0 ? -static_cast<int64_t>(grid) : 0;
        reading.gridDischargeW = grid < 0 ? 0 : grid;
    }

    // 8. Each cycle starts the status pane afresh.
    ctx.status.Replace(QStringLiteral("Polled 95 registers at ") + HostNow(ctx.clock.now()));
    // Said after the pane starts afresh, so that it stays in view.
    Implausible(ctx, badSoc, &identity.implausibleSoc,
                QStringLiteral("State of charge ") + IntText(w[95]) +
                    QStringLiteral(" % is not plausible: not recorded"));
    Implausible(ctx, badSize, &identity.implausibleCapacity,
                QStringLiteral("Battery capacity ") + IntText(size) +
                    QStringLiteral(" kWh is not plausible: not recorded"));
    if (logged) {
        ctx.fileFailures.succeeded(form.BatterySoC);
    } else {
        ctx.fileFailures.failed(form.BatterySoC, logFailure, QStringLiteral("this line is lost"));
    }
    ctx.status.CaretToEnd();

    // 9.
    ctx.sendRead(QStringLiteral("60166"), QStringLiteral("24"));
}
