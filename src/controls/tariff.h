#pragma once

#include "controls/price_plan.h"

#include <QByteArray>
#include <QString>
#include <QVector>

extern const char* const kTariffFile;

// Prices as JSON: a list of {"start", "end", "price"}, or Home Assistant's day-ahead attribute
// lists ({"start", "end", "value"}) bare or as an object holding "raw_today" and "raw_tomorrow".
// Times are ISO 8601, with an offset or else local. False with the reason.
bool ParseTariffJson(const QByteArray& payload, QVector<PriceSlot>* slots, QString* reason);

// tariff.csv: "start,end,price" a line, ISO times, an optional header line, "#" comments.
bool ParseTariffCsv(const QByteArray& text, QVector<PriceSlot>* slots, QString* reason);

// Sorts the slots by start and refuses a list that is empty, has a slot that does not end after
// it starts, two slots that overlap, or only slots that ended by now.
bool CheckTariff(QVector<PriceSlot>* slots, const QDateTime& now, QString* reason);
