#pragma once

#include "history/history_file.h"

#include <QString>

class QSettings;

#include <limits>

// How the store is run: where, what it imports, how often it commits, the room it leaves.
struct HistoryOptions {
    QString path = QString::fromLatin1(kHistoryFile);
    // Imported when the store is new.
    QString summaryLog;
    QString socLog;
    // Lines of the state-of-charge log from this time on were written by this run: not imported.
    qint64 importBeforeMs = std::numeric_limits<qint64>::max();
    int flushMs = 2000;
    // Fewer rows than a batch wait at most this long, so a crash loses at most a minute of them.
    int longestWaitMs = 60000;
    int keepFullDays = 90;
    // The store writes only while the folder keeps this much free, so the classic files always
    // find room; 0: no reserve.
    qint64 reserveBytes = qint64(64) << 20;
    // Beyond this size older cycles are thinned early, then dropped (their minutes stay); 0: none.
    qint64 maxBytes = 0;
};

// The [history] section of the settings file: reserve_mb and max_mb, in MiB.
struct HistorySettings {
    qint64 reserveMb = 64;
    qint64 maxMb = 0; // unlimited
};

// Reads [history] from the settings file; a missing file or section leaves the defaults. False
// with a one-line reason when a value is not a whole number of MiB.
bool ReadHistorySettings(const QString& path, HistorySettings* settings, QString* error);
bool ReadHistorySettings(QSettings& file, HistorySettings* settings, QString* error);
void ApplyHistorySettings(const HistorySettings& settings, HistoryOptions* options);
