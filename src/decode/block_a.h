#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

struct DecodeContext;

// What the identity step decoded last.
struct DeviceIdentity {
    QString SerialText;
    int32_t HardwareVersion = 0;
    QString FirmwareText;
    int32_t ProtocolVersion = 0;
    int32_t RatedPVPower = 0;
    int32_t RatedBatteryPower = 0;
    int32_t BatteryCapacityValue = 0;
    // The identity handed on with each reading: read again every cycle until its serial number is
    // valid text, then kept, so that one bad read neither names nor renames the device.
    QString readingSerial;
    QString readingHardware;
    QString readingFirmware;
    int64_t readingRatedPvW = 0;
    // A state of charge or a capacity no battery has is being read (said once per run of them).
    bool implausibleSoc = false;
    bool implausibleCapacity = false;
};

// "V" high byte "." low byte: 258 reads V1.2.
QString VersionText(int32_t x);

// The 96 registers from 60000: identity (once), battery figures, state of charge, status pane,
// then the read of 24 registers from 60166. A state of charge beyond 100 % or a capacity beyond
// 1 MWh is no figure: it leaves its fields empty, writes no log line, and is said once per run. A failure
// ends it at the failing step.
void DecodeBlockA(DecodeContext& ctx, DeviceIdentity& identity, const QByteArray& data);
