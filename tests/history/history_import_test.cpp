#include "history_fixture.h"

namespace {

// Imports the classic files of the folder into a new store; returns what the import said.
QStringList Import(const Clock& clock, Prompter& prompter) {
    ErrorLog log(clock, prompter);
    HistoryOptions options;
    options.summaryLog = QStringLiteral("battery daily summary.log");
    options.socLog = QStringLiteral("BatterySoC.log");
    QStringList said;
    HistoryStore store(clock, log, options);
    store.notify = [&said](const QString& text) { said << text; };
    store.start();
    store.flush();
    QCoreApplication::processEvents();
    return said;
}

QStringList Column(const QList<QStringList>& rows, int column) {
    QStringList out;
    for (qsizetype i = 1; i < rows.size(); ++i) {
        out << rows[i][column];
    }
    return out;
}

} // namespace

TEST_F(HistoryTest, ImportKeepsTheHourTheClocksGoBackOverAndSaysWhatItRead) {
    // Europe/Berlin's rule: at 03:00 summer time on 25 October the clocks show 02:00 again. Given
    // as a rule, and as a file the way the service pins it (a link into the zone database).
    QFile::link(QStringLiteral("/usr/share/zoneinfo/Europe/Berlin"), QStringLiteral("zone"));
    WriteAll(QStringLiteral("BatterySoC.log"), "25/10/2026 01:30:00 50\r\n25/10/2026 02:00:00 51\r\n"
                                               "25/10/2026 02:40:00 52\r\n25/10/2026 02:10:00 53\r\n"
                                               "25/10/2026 02:50:00 54\r\n25/10/2026 03:00:00 55\r\n");
    for (const QByteArray& tz : {QByteArray("CET-1CEST,M3.5.0,M10.5.0/3"),
                                 ":" + QFile::encodeName(QDir().absoluteFilePath("zone"))}) {
        qputenv("TZ", tz);
        tzset();
        QFile::remove(QStringLiteral("history.sqlite"));
        const QStringList said = Import(clock, prompter);
        EXPECT_EQ(Column(Export(ExportKind::Cycles), 0),
                  QStringList({"2026-10-25T01:30:00+02:00", "2026-10-25T02:00:00+02:00",
                               "2026-10-25T02:40:00+02:00", "2026-10-25T02:10:00+01:00",
                               "2026-10-25T02:50:00+01:00", "2026-10-25T03:00:00+01:00"}))
            << tz.toStdString();
        EXPECT_EQ(said,
                  QStringList({"History: imported 6 lines from BatterySoC.log (dates read day/month/year)"}));
    }
}

TEST_F(HistoryTest, ImportWorksOutEachFilesDateOrderAndCountsWhatItCannotRead) {
    // Written under a day-first locale, imported under en_US: the 13th settles the order.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    WriteAll(QStringLiteral("BatterySoC.log"), "10/11/2026 08:00:00 50\r\n13/11/2026 08:00:00 51\r\n"
                                               "garbage\r\n10/11/2026 09:00 52\r\n\r\n");
    // Ambiguous throughout: the locale's order, and said so. Another script's digits read as well.
    WriteAll(QStringLiteral("battery daily summary.log"),
             "12/1/2026 11:59:50 PM\r\nPVChargeToday = 7\r\nGridChargeToday = x\r\n\r\n"
             "\xD9\xA1\xD9\xA2/\xD9\xA2/\xD9\xA2\xD9\xA0\xD9\xA2\xD9\xA6 23:59:50\r\nPVChargeToday = "
             "\xD9\xA8\r\n");
    const QStringList said = Import(clock, prompter);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
    EXPECT_EQ(Column(Export(ExportKind::Cycles), 0),
              QStringList({"2026-11-10T08:00:00+01:00", "2026-11-13T08:00:00+01:00"}));
    const QList<QStringList> days = Export(ExportKind::Days);
    EXPECT_EQ(Column(days, 0), QStringList({"2026-12-01", "2026-12-02"}));
    EXPECT_EQ(Column(days, 1), QStringList({"7", "8"}));
    EXPECT_EQ(said,
              QStringList({"History: imported 2 days from battery daily summary.log (dates read "
                           "month/day/year: the locale's order, no date in the file settles it; 1 line "
                           "could not be read) and 2 lines from BatterySoC.log (dates read day/month/year; "
                           "2 lines could not be read)"}));
}

TEST_F(HistoryTest, AnImportedDayWithoutANightBeforeItHasNoDayFigures) {
    // The first block's day counters are its lifetimes (no night snapshot yet); a counter that
    // really started from nothing, and the days after, keep theirs.
    WriteAll(QStringLiteral("battery daily summary.log"),
             "05/12/2026 23:59:40\r\nPVChargeToday = 4800\r\nPVChargeLife = 4800\r\nGridChargeToday = 0\r\n"
             "GridChargeLife = 0\r\nBatteryPercent = 60\r\n\r\n"
             "06/12/2026 23:59:40\r\nPVChargeToday = 20\r\nPVChargeLife = 4820\r\nGridChargeToday = 3\r\n"
             "GridChargeLife = 3\r\nBatteryPercent = 61\r\n\r\n");
    Import(clock, prompter);
    const QList<QStringList> days = Export(ExportKind::Days);
    ASSERT_EQ(days.size(), 1 + 2);
    EXPECT_EQ(days[1].join(','), QStringLiteral("2026-12-05,,,0,,60"));
    EXPECT_EQ(days[2].join(','), QStringLiteral("2026-12-06,20,,3,,61"));
}
