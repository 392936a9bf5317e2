#pragma once

#include "app/command_line.h"
#include "controls/charge_window.h"
#include "history/history_options.h"

// The settings file, read once: --config FILE or else modbusclient.conf in the working folder.
// Its top holds address, port and poll, then the [mqtt], [charge] and [history] sections.
struct SettingsFile {
    QString path; // the file read; empty when there was none
    QString address;
    QString port;
    QString poll;
    BrokerOptions mqtt;
    ChargeSettings charge;
    HistorySettings history;
};

// Reads the file. A missing modbusclient.conf is no error, a missing --config FILE is; so is a
// bad value in any section. False with a one-line reason that names the file.
bool ReadSettingsFile(const QString& named, SettingsFile* settings, QString* error);

// Fills what the command line left empty from the file.
void ApplySettingsFile(const SettingsFile& settings, CommandLine* options);

// Makes the folder when missing and works in it. False with a one-line reason.
bool EnterWorkingFolder(const QString& folder, QString* error);
