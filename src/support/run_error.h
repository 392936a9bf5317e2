#pragma once

#include <QString>

// A failure that ends the event being handled: thrown by decoders and conversions, caught at the
// event boundary. Numbers are the classic run-time error numbers (6 overflow, 13 type mismatch ...).
struct RunError {
    int number = 0;
    QString description;
    // Which procedure raised it; filled in by the dispatcher when a decoder lets it escape.
    QString procedure;
};

inline RunError OverflowError() {
    return RunError{6, QStringLiteral("Overflow"), QString()};
}
