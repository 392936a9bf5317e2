#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

// The main window's fields and variables as plain data. Every subsystem reads and writes this;
// the window is only a view of it.
struct Form {
    // Text fields, with their design-time texts.
    QString IP = QStringLiteral("192.168.1.50");
    QString Port = QStringLiteral("502");
    QString Pollrate = QStringLiteral("10");
    QString Start = QStringLiteral("60000");
    QString Number = QStringLiteral("96");
    QString ChargeRate = QStringLiteral("60000");
    QString BatterySoC = QStringLiteral("BatterySoC.log");
    QString BatteryToday = QStringLiteral("Battery.txt");
    QString RegisterDetails;
    QString WinState = QStringLiteral("0");
    QString BatteryCapacity = QStringLiteral("0");
    QString Protocol = QStringLiteral("0");
    QString BatteryPower = QStringLiteral("0");
    QString PVPower = QStringLiteral("0");
    QString Capacity;
    QString Update;
    QString SNum;
    QString HW;
    QString FW;
    QString txtStatus;
    // Caret of txtStatus (selection start); the decoders that move it put it at the end.
    int txtStatusSelStart = 0;

    // Lists, check box, buttons, picture and labels.
    QStringList SelTypeEntries{QStringLiteral("Auto"), QStringLiteral("Manual-T"),
                               QStringLiteral("Manual-S")};
    int SelTypeIndex = -1;
    bool Check1 = false;
    QString StopStart = QStringLiteral("Stop");
    int Image1 = 101; // picture resource: 101 disconnected, 102 connected
    QString Versionlbl = QStringLiteral("V1.1.10");

    // Window size in twips.
    int Height = 6700;
    int Width = 4080;

    // Main-window variables.
    QString DeviceMode;
    QString ManualDeviceType;
    QString DeviceType;
    QString* CurrentTextbox = nullptr;
    int32_t ExpectedTid = 0;
    QString LastTargetValue;
    bool isConnected = false;
    QString LastPollDate;
    QString LastPollTime;
    QString RegisterDetailsText;
    QString BatterySize;
    QString BatteryPercent;
    QString CurrentLevelKWh;
    QString PVCharge;
    QString PVDischarge;
    QString GridCharge;
    QString GridDischarge;
    QString PVChargeLife;
    QString PVDischargeLife;
    QString GridChargeLife;
    QString GridDischargeLife;
    QString PVChargeToday;
    QString PVDischargeToday;
    QString GridChargeToday;
    QString GridDischargeToday;
    QString NightPVChargeLife;
    QString NightPVDischargeLife;
    QString NightGridChargeLife;
    QString NightGridDischargeLife;
};

// Window sizes in twips.
constexpr int kCompactHeight = 5355;
constexpr int kExpandedHeight = 6700;
constexpr int kWindowWidth = 4080;
