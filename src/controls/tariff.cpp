#include "controls/tariff.h"

#include "support/text_forms.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <algorithm>
#include <cmath>

const char* const kTariffFile = "tariff.csv";

namespace {

QDateTime ParseTime(const QString& text) {
    const QDateTime t = QDateTime::fromString(text.trimmed(), Qt::ISODateWithMs);
    return t.isValid() ? t : QDateTime::fromString(text.trimmed(), Qt::ISODate);
}

// One slot from its three texts; reason names the entry.
bool MakeSlot(const QString& start, const QString& end, double price, int index, PriceSlot* slot,
              QString* reason) {
    slot->start = ParseTime(start);
    slot->end = ParseTime(end);
    slot->price = price;
    if (!slot->start.isValid() || !slot->end.isValid()) {
        *reason = QStringLiteral("entry %1: start and end must be ISO 8601 times").arg(index + 1);
        return false;
    }
    if (!std::isfinite(price)) {
        *reason = QStringLiteral("entry %1: the price must be a number").arg(index + 1);
        return false;
    }
    return true;
}

bool ParseList(const QJsonArray& list, int first, QVector<PriceSlot>* slots, QString* reason) {
    for (int i = 0; i < list.size(); ++i) {
        const QJsonObject entry = list.at(i).toObject();
        const QJsonValue price = entry.contains(QLatin1String("price")) ? entry.value(QLatin1String("price"))
                                                                        : entry.value(QLatin1String("value"));
        if (!list.at(i).isObject() || !price.isDouble()) {
            *reason = QStringLiteral("entry %1 is not {\"start\", \"end\", \"price\" or \"value\"}")
                          .arg(first + i + 1);
            return false;
        }
        PriceSlot slot;
        if (!MakeSlot(entry.value(QLatin1String("start")).toString(),
                      entry.value(QLatin1String("end")).toString(), price.toDouble(), first + i, &slot,
                      reason)) {
            return false;
        }
        slots->append(slot);
    }
    return true;
}

} // namespace

bool ParseTariffJson(const QByteArray& payload, QVector<PriceSlot>* slots, QString* reason) {
    slots->clear();
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(payload, &error);
    if (document.isArray()) {
        return ParseList(document.array(), 0, slots, reason);
    }
    if (!document.isObject()) {
        *reason = error.error != QJsonParseError::NoError
                      ? QStringLiteral("not JSON (%1 at byte %2)").arg(error.errorString()).arg(error.offset)
                      : QStringLiteral("not a JSON list");
        return false;
    }
    const QJsonObject object = document.object();
    const QJsonValue today = object.value(QLatin1String("raw_today"));
    const QJsonValue tomorrow = object.value(QLatin1String("raw_tomorrow"));
    if (!today.isArray()) {
        *reason = QStringLiteral("an object needs a \"raw_today\" list");
        return false;
    }
    // Tomorrow's list is empty, or null, until the day-ahead auction is published.
    if (!tomorrow.isArray() && !tomorrow.isNull() && !tomorrow.isUndefined()) {
        *reason = QStringLiteral("\"raw_tomorrow\" must be a list");
        return false;
    }
    return ParseList(today.toArray(), 0, slots, reason) &&
           ParseList(tomorrow.toArray(), static_cast<int>(today.toArray().size()), slots, reason);
}

bool ParseTariffCsv(const QByteArray& text, QVector<PriceSlot>* slots, QString* reason) {
    slots->clear();
    const QList<QByteArray> lines = text.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        // A spreadsheet's UTF-8 export starts with a byte-order mark.
        const QString line = QString::fromUtf8(lines.at(i)).remove(QChar(0xFEFF)).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')) ||
            (i == 0 && line.startsWith(QLatin1String("start"), Qt::CaseInsensitive))) {
            continue;
        }
        const QStringList fields = line.split(QLatin1Char(','));
        double price = 0;
        if (fields.size() != 3 || !ParseNumber(fields.at(2), &price)) {
            *reason = QStringLiteral("line %1 is not start,end,price").arg(i + 1);
            return false;
        }
        PriceSlot slot;
        if (!MakeSlot(fields.at(0), fields.at(1), price, i, &slot, reason)) {
            reason->replace(QStringLiteral("entry"), QStringLiteral("line"));
            return false;
        }
        slots->append(slot);
    }
    return true;
}

bool CheckTariff(QVector<PriceSlot>* slots, const QDateTime& now, QString* reason) {
    if (slots->isEmpty()) {
        *reason = QStringLiteral("no prices in it");
        return false;
    }
    std::stable_sort(slots->begin(), slots->end(),
                     [](const PriceSlot& a, const PriceSlot& b) { return a.start < b.start; });
    for (int i = 0; i < slots->size(); ++i) {
        const PriceSlot& slot = slots->at(i);
        if (slot.end <= slot.start) {
            *reason = QStringLiteral("the slot starting %1 does not end after it starts")
                          .arg(HostNow(slot.start.toLocalTime()));
            return false;
        }
        if (i > 0 && slot.start < slots->at(i - 1).end) {
            *reason =
                QStringLiteral("the slots starting %1 and %2 overlap")
                    .arg(HostNow(slots->at(i - 1).start.toLocalTime()), HostNow(slot.start.toLocalTime()));
            return false;
        }
    }
    if (slots->last().end <= now) {
        *reason = QStringLiteral("every slot is in the past (the last ended %1)")
                      .arg(HostNow(slots->last().end.toLocalTime()));
        return false;
    }
    return true;
}
