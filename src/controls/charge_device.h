#pragma once

#include "support/backoff.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <optional>

class ModbusLink;
struct CommandAnswer;

// The command registers as the installation last reported them: 60310 (0 charge, 1 discharge)
// and 60314 (watts).
struct DeviceCommand {
    int mode = -1;
    int watts = -1;
    bool known() const { return watts >= 0; }
    bool charging() const { return mode == 0 && watts > 0; }
    // What the forced-charge command of these watts leaves in the registers.
    bool shows(int32_t intended) const { return intended == 0 ? watts == 0 : mode == 0 && watts == intended; }
};

// The forced-charge command as the installation carries it out. The program's intent (a power,
// or 0 W for the end) goes out as the two writes and is read back; it counts as done only when
// the registers read back show it. One command is in the link at a time and a newer intent
// replaces one not sent yet. An end that fails or is not confirmed is written again after 1, 2,
// 4 ... 30 s for as long as the program runs; a start that fails is the caller's to end.
class ChargeDevice : public QObject {
    Q_OBJECT
public:
    static constexpr int kFirstRegister = 60310;
    static constexpr int kRegisterCount = 5; // 60310 to 60314

    explicit ChargeDevice(ModbusLink& link, QObject* parent = nullptr);

    void command(int32_t watts);
    // No intent any more: nothing is written again.
    void forget();
    // One read of the command registers, unless a command is on its way (its own read-back comes).
    void readBack();
    const DeviceCommand& device() const { return device_; }
    // The link is up again: an intent not confirmed goes out at once.
    void onConnected();

Q_SIGNALS:
    // The registers show the intent.
    void commandConfirmed(int32_t watts);
    // A command failed or its read-back did not show it; the reason in words.
    void commandFailed(int32_t watts, const QString& reason);
    // A read-back came in (device() is new).
    void readBackDone();

private:
    void Send();
    void Settled(int32_t sent, const CommandAnswer& answer);
    void ReadBackSettled(const CommandAnswer& answer);
    void Take(const CommandAnswer& answer);

    ModbusLink& link_;
    std::optional<int32_t> intended_;
    bool confirmed_ = false;
    bool inFlight_ = false;
    DeviceCommand device_;
    Backoff backoff_{1000, 30000};
    QTimer retry_;
};
