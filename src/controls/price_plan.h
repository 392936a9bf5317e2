#pragma once

#include <QDateTime>
#include <QString>
#include <QVector>

// One slot of a day-ahead tariff: [start, end) at a price per kWh in the tariff's currency.
struct PriceSlot {
    QDateTime start;
    QDateTime end;
    double price = 0;
};

// A slot the charge plan chose, and how far it got.
struct PlanSlot {
    enum State { Planned, Running, Ran };
    QDateTime start;
    QDateTime end;
    double price = 0;
    State state = Planned;
};

// What the plan shows: the prices it knows and the slots it chose, for the topic, the sensors and
// the day chart.
struct PlanView {
    QVector<PriceSlot> prices;
    QVector<PlanSlot> slots;
    double energyKwh = 0;    // what the chosen slots deliver into the battery
    double expectedCost = 0; // grid energy of the chosen slots times their prices
    QDateTime made;
    QString reason; // why it was made ("new prices", "state of charge 42 %", ...)
    QString unmet;  // empty, or why the target is not reached ("max_price 0.25 leaves 3.1 kWh")
};
