#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

#include <array>
#include <cstdint>

// A home installation in a few lines of physics: a PV array that follows the sun, a house with a
// morning and an evening peak, a battery that soaks up the surplus and covers the deficit, and
// the grid for the rest. Time is simulated: it moves only when advance() is called, so the same
// start and the same steps always give the same register image.
class Installation {
public:
    static constexpr int kRatedPvW = 6000;
    static constexpr int kRatedBatteryW = 5000;
    static constexpr int kCapacityKWh = 10;
    static constexpr double kReserveSoc = 10.0;

    explicit Installation(const QDateTime& start, bool sunspec = false);

    // Runs the simulated clock forward, integrating the energy flows in steps of at most a minute.
    void advance(double seconds);

    // Holding registers [address, address + count) when they all lie in one served range.
    bool read(int address, int count, QList<quint16>* values) const;
    // A single-register write; only the control block and the limits take one.
    bool write(int address, quint16 value);

    QDateTime now() const { return now_; }
    double stateOfCharge() const { return soc_; }
    // Power in watts: the battery on the house side (negative while charging from PV) and the grid
    // (negative while drawing from it).
    int pvBatteryW() const { return pvBatteryW_; }
    int gridW() const { return gridW_; }

    // Lifetime counters in Wh, as served at 60166, 60172, 60178 and 60184.
    enum Counter { PvCharge, PvDischarge, GridDischarge, GridCharge };
    std::uint64_t counter(Counter c) const { return static_cast<std::uint64_t>(counters_[c]); }

private:
    void step(double seconds);
    int wordAt(int address) const;
    double maxPowerW(int limitAddress) const;

    QDateTime now_;
    double pending_ = 0; // simulated seconds not yet integrated (under a millisecond)
    bool sunspec_;
    double soc_ = 50.0;
    int pvBatteryW_ = 0;
    int gridW_ = 0;
    std::array<double, 4> counters_{};
    QList<quint16> control_ = QList<quint16>(18, 0);
    QList<quint16> limits_ = QList<quint16>(4, 0);
};
