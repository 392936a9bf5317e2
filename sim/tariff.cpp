#include "tariff.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSaveFile>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

namespace {
constexpr int kSlotSeconds = 15 * 60;

// A bump of height 1 at `hour`, `width` hours wide either side.
double Bump(double hour, double centre, double width) {
    const double d = (hour - centre) / width;
    return std::exp(-d * d);
}

QString IsoText(const QDateTime& t) {
    return t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODate);
}

QDateTime ParseTime(const QString& text) {
    return QDateTime::fromString(text.trimmed(), Qt::ISODateWithMs);
}

bool ReadJsonList(const QJsonArray& list, QVector<TariffSlot>* slots, QString* error) {
    for (const QJsonValue item : list) {
        const QJsonObject o = item.toObject();
        const QJsonValue price = o.contains(QStringLiteral("price")) ? o.value(QStringLiteral("price"))
                                                                     : o.value(QStringLiteral("value"));
        const TariffSlot slot{ParseTime(o.value(QStringLiteral("start")).toString()),
                              ParseTime(o.value(QStringLiteral("end")).toString()), price.toDouble()};
        if (!slot.start.isValid() || !slot.end.isValid() || slot.end <= slot.start || !price.isDouble()) {
            *error = QStringLiteral("entry %1 needs a start before its end (ISO times) and a price")
                         .arg(slots->size() + 1);
            return false;
        }
        slots->append(slot);
    }
    return true;
}

bool ReadCsv(const QByteArray& bytes, QVector<TariffSlot>* slots, QString* error) {
    const QList<QByteArray> lines = bytes.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString line = QString::fromUtf8(lines[i]).trimmed();
        if (line.isEmpty() || (i == 0 && line.startsWith(QStringLiteral("start")))) {
            continue;
        }
        const QStringList fields = line.split(QLatin1Char(','));
        bool ok = false;
        const TariffSlot slot{ParseTime(fields.value(0)), ParseTime(fields.value(1)),
                              fields.value(2).trimmed().toDouble(&ok)};
        if (!ok || fields.size() != 3 || !slot.start.isValid() || !slot.end.isValid() ||
            slot.end <= slot.start) {
            *error =
                QStringLiteral("line %1 is not start,end,price with ISO times, the start first").arg(i + 1);
            return false;
        }
        slots->append(slot);
    }
    return true;
}
} // namespace

QVector<TariffSlot> GenerateTariff(const QDate& first, int days) {
    QVector<TariffSlot> slots;
    for (int d = 0; d < days; ++d) {
        const QDate day = first.addDays(d);
        // Each day its own weather: the midday dip deeper on a sunny day, the peaks higher on a calm one.
        QRandomGenerator random(static_cast<quint32>(day.toJulianDay()));
        const double sun = 0.06 + 0.08 * random.generateDouble();
        const double peak = 0.05 + 0.06 * random.generateDouble();
        const QDateTime end(day.addDays(1), QTime(0, 0));
        // Whole quarter hours from midnight: 92 or 100 of them on the days the clocks change.
        for (QDateTime t(day, QTime(0, 0)); t < end; t = t.addSecs(kSlotSeconds)) {
            const double hour = t.time().hour() + t.time().minute() / 60.0;
            const double price = 0.28 - 0.06 * Bump(hour, 3.5, 2.5) - sun * Bump(hour, 13, 2.2) +
                                 peak * Bump(hour, 8, 1.3) + 1.4 * peak * Bump(hour, 19, 1.8) +
                                 0.01 * (random.generateDouble() - 0.5);
            slots.append({t, t.addSecs(kSlotSeconds), std::round(price * 10000) / 10000});
        }
    }
    return slots;
}

bool ReadTariff(const QByteArray& bytes, QVector<TariffSlot>* slots, QString* error) {
    slots->clear();
    const QByteArray text = bytes.trimmed();
    if (!text.startsWith('[') && !text.startsWith('{')) {
        return ReadCsv(text, slots, error);
    }
    QJsonParseError parse{};
    const QJsonDocument document = QJsonDocument::fromJson(text, &parse);
    if (document.isNull()) {
        *error = QStringLiteral("not JSON: %1 at offset %2").arg(parse.errorString()).arg(parse.offset);
        return false;
    }
    if (document.isArray()) {
        return ReadJsonList(document.array(), slots, error);
    }
    const QJsonObject attributes = document.object();
    return ReadJsonList(attributes.value(QStringLiteral("raw_today")).toArray(), slots, error) &&
           ReadJsonList(attributes.value(QStringLiteral("raw_tomorrow")).toArray(), slots, error);
}

QByteArray TariffCsv(const QVector<TariffSlot>& slots) {
    QByteArray out = "start,end,price\n";
    for (const TariffSlot& slot : slots) {
        out += QStringLiteral("%1,%2,%3\n")
                   .arg(IsoText(slot.start), IsoText(slot.end), QString::number(slot.price, 'g', 10))
                   .toUtf8();
    }
    return out;
}

QByteArray TariffJson(const QVector<TariffSlot>& slots) {
    QJsonArray list;
    for (const TariffSlot& slot : slots) {
        list.append(QJsonObject{{QStringLiteral("start"), IsoText(slot.start)},
                                {QStringLiteral("end"), IsoText(slot.end)},
                                {QStringLiteral("price"), slot.price}});
    }
    return QJsonDocument(list).toJson(QJsonDocument::Compact) + '\n';
}

TariffWriter::TariffWriter(QString source, QString folder, QObject* parent)
    : QObject(parent), source_(std::move(source)), folder_(std::move(folder)) {
    midnight_.setSingleShot(true);
    connect(&midnight_, &QTimer::timeout, this, &TariffWriter::renew);
}

bool TariffWriter::start(QString* error) {
    if (source_ == QStringLiteral("auto")) {
        written_ = QDate::currentDate();
        renew();
        return write(GenerateTariff(written_, 2), error);
    }
    QFile file(source_);
    QVector<TariffSlot> slots;
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(source_, file.errorString());
        return false;
    }
    if (!ReadTariff(file.readAll(), &slots, error)) {
        *error = QStringLiteral("%1: %2").arg(source_, *error);
        return false;
    }
    return write(slots, error);
}

void TariffWriter::renew() {
    const QDateTime now = QDateTime::currentDateTime();
    if (now.date() != written_) {
        written_ = now.date();
        QString error;
        if (!write(GenerateTariff(written_, 2), &error)) {
            std::fprintf(stderr, "battery-sim: %s\n", error.toLocal8Bit().constData());
        }
    }
    // Just past the next midnight; at least once an hour, should the clock be set meanwhile.
    const QDateTime next(now.date().addDays(1), QTime(0, 0, 5));
    midnight_.start(static_cast<int>(std::min<qint64>(now.msecsTo(next), 3600000)));
}

bool TariffWriter::write(const QVector<TariffSlot>& slots, QString* error) {
    const QDir folder(folder_);
    for (const auto& [name, bytes] : {std::pair{QStringLiteral("tariff.csv"), TariffCsv(slots)},
                                      std::pair{QStringLiteral("tariff.json"), TariffJson(slots)}}) {
        QSaveFile file(folder.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
            *error = QStringLiteral("cannot write %1: %2").arg(file.fileName(), file.errorString());
            return false;
        }
    }
    return true;
}
