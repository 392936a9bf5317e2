#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVector>

// One slot of a day-ahead tariff: [start, end) at a price per kWh.
struct TariffSlot {
    QDateTime start;
    QDateTime end;
    double price = 0;
};

// A made-up but plausible quarter-hour day-ahead curve in EUR/kWh from local midnight of `first`
// for `days` days: cheap at night and at midday when the sun floods the market, dear in the
// morning and the evening. The same day always gives the same prices.
QVector<TariffSlot> GenerateTariff(const QDate& first, int days);

// A day's prices as CSV (`start,end,price`, ISO times, a header line allowed) or JSON (a list of
// {"start", "end", "price"}, or "value" as Home Assistant's price integrations keep them; also an
// object holding such lists as "raw_today" and "raw_tomorrow"). False with the reason.
bool ReadTariff(const QByteArray& bytes, QVector<TariffSlot>* slots, QString* error);

// The client's two shapes: tariff.csv, and the JSON list it takes on PREFIX/tariff.
QByteArray TariffCsv(const QVector<TariffSlot>& slots);
QByteArray TariffJson(const QVector<TariffSlot>& slots);

// Writes tariff.csv and tariff.json into a folder: from a file once, or, for "auto", today's and
// tomorrow's made-up prices again after each local midnight.
class TariffWriter : public QObject {
    Q_OBJECT
public:
    TariffWriter(QString source, QString folder, QObject* parent = nullptr);
    // Writes the files; false with the reason.
    bool start(QString* error);

private:
    bool write(const QVector<TariffSlot>& slots, QString* error);
    // "auto": writes the next two days once the date has changed, and waits for the next midnight.
    void renew();

    QString source_;
    QString folder_;
    QDate written_; // the first day of the prices an "auto" run wrote last
    QTimer midnight_;
};
