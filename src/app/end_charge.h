#pragma once

#include "app/command_line.h"
#include "app/config_file.h"

class Clock;

// --end-charge: connects to the installation as a run would, writes the end of a forced charge
// (0 W), confirms it by reading the registers back, and returns the exit status: 0 once
// confirmed (or, with --if-charging, when the state file says nothing may run), 1 with the
// reason on standard error when it could not be confirmed within the settings' end_wait.
int EndChargeAndExit(const CommandLine& options, const SettingsFile& settings, const Clock& clock);
