#include "publish/state_message.h"

#include "model/form.h"
#include "support/text_forms.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

// The identity texts hold the registers' characters as they stand, zero bytes and padding too.
QString Printable(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c.unicode() >= 0x20 && c.unicode() != 0x7f) {
            out += c;
        }
    }
    return out.trimmed();
}

double WholeNumber(const QString& grouped) {
    // The digits of "5,000 W" straight into a buffer, as this runs every cycle; other digits, or
    // very many, the slow way.
    char digits[40];
    int n = 0;
    bool plain = true;
    for (const QChar c : grouped) {
        if (c.isDigit()) {
            plain = plain && c.unicode() <= '9' && n < static_cast<int>(sizeof digits);
            if (plain) {
                digits[n++] = static_cast<char>(c.unicode());
            }
        }
    }
    if (!plain) {
        QString all;
        for (const QChar c : grouped) {
            if (c.isDigit()) {
                all += c;
            }
        }
        return all.toDouble();
    }
    double value = 0;
    std::from_chars(digits, digits + n, value);
    return value;
}

QString IsoTime(const QDateTime& t) {
    const QDate d = t.date();
    const QTime h = t.time();
    const int offset = t.offsetFromUtc() / 60;
    const int magnitude = offset < 0 ? -offset : offset;
    if (d.year() < 0 || d.year() > 9999) {
        char text[48];
        const int n = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", d.year(),
                                    d.month(), d.day(), h.hour(), h.minute(), h.second(),
                                    offset < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
        return QString::fromLatin1(text, std::min(n, static_cast<int>(sizeof text) - 1));
    }
    char text[] = "0000-00-00T00:00:00+00:00";
    PutDigits(text, d.year(), 4);
    PutDigits(text + 5, d.month(), 2);
    PutDigits(text + 8, d.day(), 2);
    PutDigits(text + 11, h.hour(), 2);
    PutDigits(text + 14, h.minute(), 2);
    PutDigits(text + 17, h.second(), 2);
    text[19] = offset < 0 ? '-' : '+';
    PutDigits(text + 20, magnitude / 60 % 100, 2);
    PutDigits(text + 23, magnitude % 60, 2);
    return QString::fromLatin1(text, static_cast<int>(sizeof text) - 1);
}

char* ShortestNumberText(char* first, char* last, double value) {
    // The figures are whole or have at most three decimals: those are written from their digits,
    // as to_chars would write them, because its tables are what a cycle after ten idle seconds
    // pays for most. While the scaled value stays below 2^50 it is found exactly, and the step
    // of the last decimal is wider than the double's spacing, so those digits are the shortest.
    if (value == 0 && last - first >= 2) {
        char* out = first;
        if (std::signbit(value)) {
            *out++ = '-';
        }
        *out++ = '0';
        return out;
    }
    const double magnitude = std::fabs(value);
    constexpr double kExact = 1125899906842624.0; // 2^50
    double scale = 1;
    for (int decimals = 0; magnitude > 0 && magnitude * scale < kExact && decimals <= 3;
         ++decimals, scale *= 10) {
        const double scaled = std::nearbyint(magnitude * scale);
        if (scaled / scale != magnitude) {
            continue;
        }
        char digits[20];
        const int n = static_cast<int>(
            std::to_chars(digits, digits + sizeof digits, static_cast<unsigned long long>(scaled)).ptr -
            digits);
        int zeros = 0;
        while (digits[n - 1 - zeros] == '0') {
            ++zeros;
        }
        // to_chars picks the shorter of the fixed and the exponent form, the fixed one on a tie.
        const int whole = n - decimals;
        const int fixedLength = decimals == 0 ? n : (whole > 0 ? n + 1 : decimals + 2);
        const int significant = n - zeros;
        const int exponent = whole - 1;
        const int exponentLength =
            significant + (significant > 1 ? 1 : 0) + 2 + (std::abs(exponent) >= 100 ? 3 : 2);
        if (fixedLength > exponentLength || last - first < fixedLength + 1) {
            break;
        }
        char* out = first;
        if (value < 0) {
            *out++ = '-';
        }
        if (whole <= 0) {
            *out++ = '0';
            *out++ = '.';
            out = std::fill_n(out, -whole, '0');
            out = std::copy(digits, digits + n, out);
        } else {
            out = std::copy(digits, digits + whole, out);
            if (decimals > 0) {
                *out++ = '.';
                out = std::copy(digits + whole, digits + n, out);
            }
        }
        return out;
    }
    const auto [end, error] = std::to_chars(first, last, value);
    return error == std::errc() ? end : first;
}

namespace {

// Printable text: only the quote and the backslash need escaping.
void AppendJsonString(QByteArray& json, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    json += '"';
    if (!utf8.contains('"') && !utf8.contains('\\')) {
        json += utf8;
    } else {
        for (const char c : utf8) {
            if (c == '"' || c == '\\') {
                json += '\\';
            }
            json += c;
        }
    }
    json += '"';
}

// The figures are the decoders' decimal texts ("5836.8", "1E+15"). Read without a locale
// object, as that is most of the cost of a cycle; any other text is read as the decoders read it.
double Number(const QString& text) {
    char digits[40];
    int n = 0;
    for (const QChar c : text) {
        if (n == static_cast<int>(sizeof digits) || c.unicode() > 0x7f) {
            break;
        }
        digits[n++] = static_cast<char>(c.unicode());
    }
    double value = 0;
    const auto [end, error] = std::from_chars(digits, digits + n, value);
    if (error != std::errc() || end != digits + n) {
        return LeadingNumber(text);
    }
    return value;
}

// A day's counter: unknown until a night snapshot has given the day its start, and never below
// zero (a counter that went back).
double Today(const QString& today, const QString& night) {
    const double value = Number(today);
    return night.isEmpty() || value < 0 ? qQNaN() : value;
}

} // namespace

QString PlainTopicSerial(const Form& form) {
    QString serial;
    for (const QChar c : Printable(form.SNum)) {
        const bool plain = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                           (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                           (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('-');
        serial += plain ? c : QLatin1Char('_');
    }
    return serial.isEmpty() ? QStringLiteral("unknown") : serial;
}

QString TopicSerial(const Form& form) {
    QString serial = PlainTopicSerial(form);
    const QString printable = Printable(form.SNum);
    if (serial == printable || printable.isEmpty()) {
        return serial;
    }
    // Characters were replaced: "TX/2026 0042" and "TX 2026/0042" must stay two devices.
    const QByteArray hash = QCryptographicHash::hash(printable.toUtf8(), QCryptographicHash::Sha1);
    return serial + QLatin1Char('_') + QString::fromLatin1(hash.left(4).toHex());
}

QString DefaultTopicPrefix(const Form& form) {
    return QStringLiteral("modbusclient/") + TopicSerial(form);
}

QByteArray StateJson(const Form& form, const QDateTime& pollTime, bool deviceCountsKwh) {
    // Written by hand rather than through a JSON object: this runs every cycle and the object's
    // keyed inserts cost more than the whole rest of the publish path.
    // Divided rather than multiplied by 0.001, so that 4390788 Wh reads 4390.788 and not
    // 4390.7880000000005. The capacity register counts kWh, as the window shows it.
    const double perKwh = deviceCountsKwh ? 1.0 : 1000.0;
    const std::pair<const char*, double> numbers[] = {
        {"soc", Number(form.BatteryPercent)},
        {"pv_charge_power", Number(form.PVCharge)},
        {"pv_discharge_power", Number(form.PVDischarge)},
        {"grid_charge_power", Number(form.GridCharge)},
        {"grid_discharge_power", Number(form.GridDischarge)},
        {"rated_battery_power", WholeNumber(form.BatteryPower)},
        {"rated_pv_power", Number(form.PVPower)},
        {"level_kwh", Number(form.CurrentLevelKWh)},
        {"capacity_kwh", Number(form.BatterySize)},
        {"pv_charge_today", Today(form.PVChargeToday, form.NightPVChargeLife) / perKwh},
        {"pv_discharge_today", Today(form.PVDischargeToday, form.NightPVDischargeLife) / perKwh},
        {"grid_charge_today", Today(form.GridChargeToday, form.NightGridChargeLife) / perKwh},
        {"grid_discharge_today", Today(form.GridDischargeToday, form.NightGridDischargeLife) / perKwh},
        {"pv_charge_total", Number(form.PVChargeLife) / perKwh},
        {"pv_discharge_total", Number(form.PVDischargeLife) / perKwh},
        {"grid_charge_total", Number(form.GridChargeLife) / perKwh},
        {"grid_discharge_total", Number(form.GridDischargeLife) / perKwh},
    };
    QByteArray json;
    json.reserve(640);
    json += '{';
    for (const auto& [key, value] : numbers) {
        json += '"';
        json += key;
        json += "\":";
        char text[32];
        const char* end = qIsFinite(value) ? ShortestNumberText(text, text + sizeof text, value) : text;
        json += end != text ? QByteArrayView(text, end - text) : "null";
        json += ',';
    }
    json += "\"serial\":";
    AppendJsonString(json, Printable(form.SNum));
    json += ",\"firmware\":";
    AppendJsonString(json, Printable(form.FW));
    json += ",\"time\":";
    AppendJsonString(json, IsoTime(pollTime));
    json += '}';
    return json;
}

QByteArray ErrorsJson(int count, const QString& lastEntry) {
    QJsonObject errors;
    errors.insert(QLatin1String("count"), count);
    errors.insert(QLatin1String("last_entry"), lastEntry);
    return QJsonDocument(errors).toJson(QJsonDocument::Compact);
}
