#pragma once

#include "app/shell.h"
#include "common/fake_server.h"
#include "common/test_support.h"
#include "support/clock.h"
#include "support/prompter.h"

// An installation on a loopback server with a rated battery power of 5 kW at 40 %, and a clock
// set to a winter evening.
class ChargeFixture : public InTempDir {
protected:
    void SetUp() override {
        InTempDir::SetUp();
        ASSERT_TRUE(server.listen());
        server.registers[60030] = 5000; // rated battery power 5 kW
        server.registers[60095] = 40;   // state of charge
    }
    static QStringList Command(int watts) {
        return {QStringLiteral("60310=0"), QStringLiteral("60314=%1").arg(watts)};
    }

    SettableClock clock{QDateTime(QDate(2026, 12, 7), QTime(23, 0))};
    RecordingPrompter prompter;
    FakeServer server;
};
