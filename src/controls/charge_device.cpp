#include "controls/charge_device.h"

#include "controls/forced_charge.h"
#include "link/connection.h"

ChargeDevice::ChargeDevice(ModbusLink& link, QObject* parent) : QObject(parent), link_(link) {
    retry_.setSingleShot(true);
    connect(&retry_, &QTimer::timeout, this, [this] { Send(); });
}

void ChargeDevice::command(int32_t watts) {
    const bool changed = intended_ != watts;
    intended_ = watts;
    if (changed) {
        confirmed_ = false;
        backoff_.reset();
    }
    retry_.stop();
    Send();
}

void ChargeDevice::forget() {
    intended_.reset();
    confirmed_ = false;
    retry_.stop();
    backoff_.reset();
}

void ChargeDevice::Send() {
    // The newest intent goes when the batch in the link has come back.
    if (inFlight_ || !intended_) {
        return;
    }
    const int32_t watts = *intended_;
    QList<QueuedRequest> requests;
    for (const auto& [reg, value] : ForcedChargeWrites(watts)) {
        requests.append({false, reg, value});
    }
    requests.append({true, kFirstRegister, kRegisterCount});
    inFlight_ = true;
    link_.QueueCommand(requests, [this, watts](const CommandAnswer& answer) { Settled(watts, answer); });
}

void ChargeDevice::Take(const CommandAnswer& answer) {
    if (answer.ok && answer.registers.size() == kRegisterCount) {
        device_.mode = answer.registers.first();
        device_.watts = answer.registers.last();
    }
}

void ChargeDevice::Settled(int32_t sent, const CommandAnswer& answer) {
    inFlight_ = false;
    Take(answer);
    if (answer.ok) {
        Q_EMIT readBackDone();
    }
    if (intended_ != sent) {
        Send(); // a newer intent came meanwhile
        return;
    }
    if (answer.ok && device_.shows(sent)) {
        confirmed_ = true;
        backoff_.reset();
        Q_EMIT commandConfirmed(sent);
        return;
    }
    const QString reason = answer.ok ? QStringLiteral("the installation reads back %1 W (60310 = %2)")
                                           .arg(device_.watts)
                                           .arg(device_.mode)
                                     : answer.failure;
    if (sent == 0) {
        retry_.start(backoff_.next());
    }
    Q_EMIT commandFailed(sent, reason);
}

void ChargeDevice::readBack() {
    if (inFlight_ || !link_.isConnected()) {
        return;
    }
    inFlight_ = true;
    link_.QueueCommand({{true, kFirstRegister, kRegisterCount}},
                       [this](const CommandAnswer& answer) { ReadBackSettled(answer); });
}

void ChargeDevice::ReadBackSettled(const CommandAnswer& answer) {
    inFlight_ = false;
    Take(answer);
    if (intended_ && answer.ok) {
        // A read-back on its own confirms an end that a slow installation carried out late, and
        // finds a running charge that is no longer what was asked.
        const bool shows = device_.shows(*intended_);
        if (shows && !confirmed_) {
            confirmed_ = true;
            retry_.stop();
            backoff_.reset();
            Q_EMIT readBackDone();
            Q_EMIT commandConfirmed(*intended_);
            return;
        }
        confirmed_ = shows;
    }
    if (answer.ok) {
        Q_EMIT readBackDone();
    }
    if (intended_ && !confirmed_ && !retry_.isActive()) {
        Send();
    }
}

void ChargeDevice::onConnected() {
    if (intended_ && !confirmed_) {
        retry_.stop();
        Send();
    }
}
