#pragma once

#include "app/command_line.h"

// The settings file, --config FILE or else modbusclient.conf in the working folder: address, port
// and poll at its top, the [mqtt] section below. Fills what the command line left empty and puts
// the [mqtt] options in *broker. A missing modbusclient.conf is no error, a missing --config FILE
// is. False with a one-line reason.
bool ApplyConfigFile(CommandLine* options, BrokerOptions* broker, QString* error);

// Makes the folder when missing and works in it. False with a one-line reason.
bool EnterWorkingFolder(const QString& folder, QString* error);
