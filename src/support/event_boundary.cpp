#include "support/event_boundary.h"

#include "support/error_log.h"
#include "support/run_error.h"

#include <exception>

void EventBoundary::run(const QString& handler, const std::function<void()>& body) {
    ++depth_;
    try {
        body();
    } catch (const RunError& e) {
        log_.ErrorHandle(QString::number(e.number), QStringLiteral("0"),
                         e.procedure.isEmpty() ? handler : e.procedure, e.description);
    } catch (const std::exception& e) {
        log_.ErrorHandle(QStringLiteral("5"), QStringLiteral("0"), handler, QString::fromLocal8Bit(e.what()));
    } catch (...) {
        log_.ErrorHandle(QStringLiteral("5"), QStringLiteral("0"), handler,
                         QStringLiteral("Unknown failure"));
    }
    --depth_;
    if (depth_ == 0 && afterEvent) {
        afterEvent();
    }
}
