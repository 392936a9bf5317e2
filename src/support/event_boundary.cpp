#include "support/event_boundary.h"

#include "support/error_log.h"
#include "support/run_error.h"

#include <exception>

void EventBoundary::failed(const QString& handler, const QString& number, const QString& procedure,
                           const QString& description) {
    // A device that keeps sending a value the decoder cannot take would add an entry every poll.
    const QString key = number + QLatin1Char('|') + procedure + QLatin1Char('|') + description;
    if (!runs_.failed(handler, key)) {
        return;
    }
    texts_.insert(handler, description.isEmpty() ? QStringLiteral("error ") + number : description);
    log_.ErrorHandle(number, QStringLiteral("0"), procedure, description);
}

void EventBoundary::run(const QString& handler, const std::function<void()>& body) {
    ++depth_;
    try {
        body();
        if (runs_.succeeded(handler)) {
            const QString text = handler + QStringLiteral(" runs again after ") + texts_.take(handler);
            if (notify) {
                notify(text);
            }
        }
    } catch (const RunError& e) {
        failed(handler, QString::number(e.number), e.procedure.isEmpty() ? handler : e.procedure,
               e.description);
    } catch (const std::exception& e) {
        failed(handler, QStringLiteral("5"), handler, QString::fromLocal8Bit(e.what()));
    } catch (...) {
        failed(handler, QStringLiteral("5"), handler, QStringLiteral("Unknown failure"));
    }
    --depth_;
    if (depth_ == 0 && afterEvent) {
        afterEvent();
    }
}
