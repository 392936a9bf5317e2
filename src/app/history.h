#pragma once

#include "history/history_options.h"
#include "history/history_store.h"

#include <memory>

class Shell;
struct Reading;

// The history store fed by the shell: a row for each completed poll cycle, a day at each
// midnight save; its failure lines go to the status pane and standard error.
std::unique_ptr<HistoryStore> StartHistory(Shell& shell, const Clock& clock,
                                           const HistorySettings& settings = {});

// A cycle's figures, and the day that ended from the last cycle's (its date left to the store).
CycleRow CycleFromReading(const Reading& reading);
DayRow DayFromReading(const Reading& reading);

struct CommandLine;

// --export: the store in the working folder as CSV on standard output. Returns the exit status:
// 0, or 1 with a message on standard error when there is no store to read.
int ExportHistory(const CommandLine& options);
