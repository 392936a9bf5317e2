#include "decode/block_a.h"
#include "decode/block_b.h"
#include "decode/decode_fixture.h"
#include "decode/register_listing.h"

#include <QDir>
#include <QFile>

using Listing = DecodeFixture;

TEST_F(Listing, OneCycleWritesBlockAThenBlockBAndAnEmptyLine) {
    form.RegisterDetails = QStringLiteral("regs.txt");
    WriteAll(form.RegisterDetails, QByteArray(5000, 'x')); // a longer old file is replaced whole
    const QList<int> a = BlockAImage();
    const QList<int> b = BlockBImage();
    DeviceIdentity identity;
    for (int cycle = 0; cycle < 2; ++cycle) {
        DecodeBlockA(ctx, identity, ReadResponse(1, a));
        DecodeBlockB(ctx, ReadResponse(2, b));

        const QStringList lines = CrLfLines(form.RegisterDetails);
        ASSERT_EQ(lines.size(), 121) << cycle;
        for (int i = 0; i < 96; ++i) {
            EXPECT_EQ(lines[i], QStringLiteral("%1 %2").arg(60000 + i).arg(a[i]));
        }
        for (int i = 0; i < 24; ++i) {
            EXPECT_EQ(lines[96 + i], QStringLiteral("%1 %2").arg(60166 + i).arg(b[i]));
        }
        EXPECT_EQ(lines[120], QString());
        EXPECT_TRUE(ReadAll(form.RegisterDetails).endsWith("60189 9999\r\n\r\n"));
    }
}

TEST_F(Listing, NoRegistersFileWithoutAName) {
    DeviceIdentity identity;
    DecodeBlockA(ctx, identity, ReadResponse(1, BlockAImage()));
    DecodeBlockB(ctx, ReadResponse(2, BlockBImage()));
    EXPECT_EQ(QDir().entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name),
              (QStringList{"Battery.txt", "Battery.txt.tmp", "BatterySoC.log"}));

    // An unwritable name is skipped without a word.
    form.RegisterDetails = QStringLiteral("missing/regs.txt");
    writedetails(form);
    EXPECT_FALSE(QFile::exists(form.RegisterDetails));
    EXPECT_EQ(LogEntries(), 0);
    EXPECT_TRUE(prompter.messages.isEmpty());
}

TEST_F(Listing, OtherReadsOnlyReportTheirCountInTheStatusPane) {
    form.txtStatus = QStringLiteral("Connected to server at 127.0.0.1:502\r\n");
    form.RegisterDetailsText = QStringLiteral("60000 1\r\n");
    const struct {
        int count;
        const char* line;
    } cases[] = {
        {10, "Polled 10 registers at "}, {1, "Polled 1 registers at "}, {125, "Polled 125 registers at "}};
    QString expected = form.txtStatus;
    for (const auto& c : cases) {
        DecodeOther(ctx, ReadResponse(3, QList<int>(c.count, 77)), 3);
        expected += QLatin1String(c.line) + Now() + QStringLiteral("\r\n");
        EXPECT_EQ(form.txtStatus, expected);
        EXPECT_EQ(form.txtStatusSelStart, form.txtStatus.size());
    }
    EXPECT_EQ(form.RegisterDetailsText, QStringLiteral("60000 1\r\n"));
    EXPECT_TRUE(reads.isEmpty());
}
