#pragma once

#include "common/test_support.h"
#include "decode/decode_context.h"
#include "link/status_pane.h"
#include "model/controls_form.h"
#include "model/form.h"
#include "support/clock.h"
#include "support/error_log.h"
#include "support/file_failures.h"
#include "support/prompter.h"

#include <QList>
#include <QStringList>

// A decoder's surroundings: the form, its status pane, a fixed clock, the error log and a
// request sender that only records what it was asked to read.
class DecodeFixture : public InTempDir {
protected:
    Form form;
    StatusPane status{form};
    SettableClock clock{QDateTime(QDate(2026, 12, 7), QTime(21, 4, 5))};
    RecordingPrompter prompter;
    ErrorLog log{clock, prompter};
    FileFailures fileFailures{log};
    QList<QStringList> reads; // {start, quantity} per SendReadRegisters call
    ControlsForm controls;
    DecodeContext ctx{form,
                      status,
                      clock,
                      log,
                      fileFailures,
                      [this](const QString& start, const QString& quantity) {
                          reads.append({start, quantity});
                          return true;
                      },
                      [this]() -> ControlsForm& { return controls; }};

    // The clock's "now" in the test locale's short date and long time.
    static QString Now() { return QStringLiteral("07/12/2026 21:04:05"); }

    // The identity fields in the order of the window.
    QStringList Identity() const {
        return {form.SNum,           form.HW, form.FW, form.Protocol, form.PVPower, form.BatteryPower,
                form.BatteryCapacity};
    }

    // Entries in the error log: each ends with CR LF CR LF.
    static int LogEntries() {
        return static_cast<int>(ReadAll(QStringLiteral("ModbusClient errors.log")).count("\r\n\r\n"));
    }
};

// Two characters per word, high byte first, from word `first` on.
inline void PutText(QList<int>& words, int first, const QByteArray& text) {
    for (int i = 0; i + 1 < text.size(); i += 2) {
        words[first + i / 2] =
            static_cast<unsigned char>(text[i]) * 256 + static_cast<unsigned char>(text[i + 1]);
    }
}

// Block A of a 10,240 kWh battery at 52 %, PV at -100 and grid at 300; unnamed words are listed only.
inline QList<int> BlockAImage() {
    QList<int> w(96, 0);
    for (int i = 33; i < 95; ++i) {
        w[i] = 1000 + i;
    }
    PutText(w, 0, QByteArray("TX0001")); // the other 14 bytes of the serial stay zero
    PutText(w, 11, QByteArray("ARM V01.02 DSP V03.04 BMS V056"));
    // Versions, rated PV power 6000, rated battery power 68928, capacity 10240, powers, charge.
    const int named[][2] = {{10, 0x0103}, {26, 0x0201}, {28, 6000}, {29, 1},   {30, 3392}, {32, 10240},
                            {71, 65535},  {72, 65436},  {73, 0},    {74, 300}, {95, 52}};
    for (const auto& [index, value] : named) {
        w[index] = value;
    }
    return w;
}

// Block B with lifetime counters PV charge 1500, PV discharge 700, grid discharge 65536 and grid
// charge 42; the words between the counters are listed only.
inline QList<int> BlockBImage() {
    QList<int> r(24, 9999);
    const int counters[][4] = {{0, 0, 0, 1500}, {0, 0, 0, 700}, {0, 0, 1, 0}, {0, 0, 0, 42}};
    for (int c = 0; c < 4; ++c) {
        for (int k = 0; k < 4; ++k) {
            r[6 * c + k] = counters[c][k];
        }
    }
    return r;
}
