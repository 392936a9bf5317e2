#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <cstdint>
#include <optional>

extern const char* const kChargeStateFile;

// What the program means the installation to do, kept across runs: a charge that is running
// (or whose start is not confirmed yet), an end that is not confirmed yet, and the last night
// whose window ran. The next run reads it before it acts, so a crash or a power cut never leaves
// a charge that nobody ends.
struct ChargeIntent {
    enum class Phase { Idle, Running, Ending };
    Phase phase = Phase::Idle;
    QString source;
    int32_t watts = 0;
    QDateTime started; // UTC
    QDateTime endsAt;  // UTC; invalid: no time limit
    std::optional<int> targetSoc;
    QString endReason; // why the end was asked, while it waits for confirmation
    QDate windowNight; // the last night whose window ran (or was skipped at its target)

    bool operator==(const ChargeIntent& other) const;
};

// Reads the state file in the working folder: an absent file is an idle intent; false with the
// reason for a file that is there but cannot be read whole.
bool ReadChargeIntent(ChargeIntent* intent, QString* error);
// Replaces the state file: written beside it, forced to disk, then swapped in. False with the
// reason.
bool WriteChargeIntent(const ChargeIntent& intent, QString* error);
