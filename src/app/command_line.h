#pragma once

#include "publish/broker_settings.h"

#include <QDate>
#include <QString>
#include <QStringList>

// What the command line asks for. The positional words, joined by single blanks, are the classic
// command line that replaces the IP field.
struct CommandLine {
    QString classic;
    QString port; // empty: the Port field stays as it is
    QString poll; // empty: polling is not switched on
    int timeoutMs = 5000;
    bool connect = false;
    bool headless = false;
    bool demo = false; // a simulated installation, files in modbusclient-demo/
    // The --mqtt options as given; all empty: the settings file alone decides.
    BrokerOptions mqtt;
    QString workdir; // --workdir, or the user's data folder with --data-folder; empty: stay
    QString config;  // --config FILE; empty: modbusclient.conf in the working folder, if there
    // --export: "cycles" or "daily" from the history store to standard output, then exit.
    QString exportKind;
    QDate exportFrom; // invalid: from the oldest
    QDate exportTo;   // invalid: to the newest
    // --end-charge: write 0 W, confirm it by read-back and exit; with --if-charging only when the
    // state file says a charge may still run.
    bool endCharge = false;
    bool endChargeIfCharging = false;
};

// A port of 1 to 65535 as its plain number, as --port takes it; false for anything else.
bool ParsePort(const QString& text, QString* port);

// Parses the arguments (argv[0] first). Returns false with a one-line reason in *error for bad
// input; *exitNow is set for --help and --version, whose text is in *output.
bool ParseCommandLine(const QStringList& arguments, CommandLine* result, QString* error, bool* exitNow,
                      QString* output);
