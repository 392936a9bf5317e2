#include "support/clock.h"

QDateTime SystemClock::now() const {
    return QDateTime::currentDateTime();
}
