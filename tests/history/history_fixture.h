#pragma once

#include "app/history.h"
#include "app/shell.h"
#include "common/fake_server.h"
#include "common/test_support.h"
#include "history/csv_export.h"
#include "history/sqlite.h"
#include "model/form.h"
#include "support/clock.h"
#include "support/prompter.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QSignalSpy>

#include <ctime>

// The store in a working folder of its own, fed by a shell polling a loopback server.

// RFC 4180 as a spreadsheet reads it: CR LF rows, quoted fields with doubled quotes.
inline QList<QStringList> ParseCsv(const QByteArray& bytes) {
    QList<QStringList> rows;
    QStringList row;
    QString field;
    bool quoted = false;
    const QString text = QString::fromUtf8(bytes);
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < text.size() && text[i + 1] == QLatin1Char('"')) {
                field += c;
                ++i;
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            row << field;
            field.clear();
        } else if (c == QLatin1Char('\r') && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n')) {
            row << field;
            rows << row;
            row.clear();
            field.clear();
            ++i;
        } else {
            field += c;
        }
    }
    return rows;
}

inline QList<QStringList> Export(ExportKind kind, QDate from = {}, QDate to = {}) {
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    QString error;
    EXPECT_TRUE(ExportCsv(QStringLiteral("history.sqlite"), kind, from, to, out, &error))
        << error.toStdString();
    return ParseCsv(out.data());
}

inline int ErrorLogEntries() {
    return static_cast<int>(ReadAll(QStringLiteral("ModbusClient errors.log")).count("HistoryStore"));
}

// A cycle that carries only its state of charge, as an imported line does.
inline CycleRow SocCycle(const QDateTime& time, double percent) {
    CycleRow row;
    row.timeMs = time.toMSecsSinceEpoch();
    row.set(0, percent);
    return row;
}

class HistoryTest : public InTempDir {
protected:
    void SetUp() override {
        InTempDir::SetUp();
        // A zone with an offset, so the exported times show theirs.
        qputenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
        tzset();
        ASSERT_TRUE(server.listen());
        server.registers[60095] = 57;   // state of charge
        server.registers[60169] = 1500; // PV charge, lifetime
        server.registers[60187] = 90;   // grid charge, lifetime
    }

    // Connects, and runs cycles more poll cycles after the first, each a few seconds later.
    void Poll(Shell& shell, int cycles) {
        QSignalSpy completed(&shell, &Shell::pollCycleCompleted);
        if (!shell.form().isConnected) {
            shell.Form_Load(QStringLiteral("127.0.0.1"));
            shell.form().Port = QString::number(server.port());
            shell.connectcmd_Click();
            ASSERT_TRUE(completed.wait(5000));
        }
        for (int i = 0; i < cycles; ++i) {
            clock.advance(7000);
            const qsizetype before = completed.size();
            shell.Timer1_Timer();
            ASSERT_TRUE(WaitUntil([&] { return completed.size() > before; }));
        }
    }

    SettableClock clock{QDateTime(QDate(2026, 12, 7), QTime(21, 4, 5))};
    RecordingPrompter prompter;
    FakeServer server;
};
