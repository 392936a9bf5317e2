#pragma once

#include <QHash>
#include <QString>

// Which things are failing, so that each run of failures is said once: the first failure of a
// thing is said, the ones after it stay quiet until it works again, and that is said too. A
// failure of another kind than the run's (another error number, another cause) is said as well.
class FailureRuns {
public:
    // A failure of what; true when it is to be said.
    bool failed(const QString& what, const QString& kind = QString()) {
        const auto it = runs_.constFind(what);
        if (it != runs_.constEnd() && *it == kind) {
            return false;
        }
        runs_.insert(what, kind);
        return true;
    }
    // What worked; true when that ends a run of failures.
    bool succeeded(const QString& what) { return !runs_.isEmpty() && runs_.remove(what) > 0; }
    bool failing(const QString& what) const { return runs_.contains(what); }

private:
    QHash<QString, QString> runs_; // what -> the kind of its run
};
