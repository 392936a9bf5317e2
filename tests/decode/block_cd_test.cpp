#include "decode/block_c.h"
#include "decode/block_d.h"
#include "decode/decode_fixture.h"

using BlockCD = DecodeFixture;

TEST_F(BlockCD, ControlBlocksFillTheEditorChainOnceAndWriteTheRegistersFile) {
    form.RegisterDetails = QStringLiteral("regs.txt");
    form.RegisterDetailsText = QStringLiteral("60000 1\r\n"); // the lines since the last block A
    QList<int> c(18);
    for (int i = 0; i < 18; ++i) {
        c[i] = 100 + i;
    }
    c[14] = 0xFFFF;
    DecodeBlockC(ctx, ReadResponse(1, c));

    // Rows 1 to 5 show the register one below their number; 60301 goes to no field.
    EXPECT_EQ((QStringList{controls.F60301, controls.F60310, controls.F60311, controls.F60312,
                           controls.F60313, controls.F60314, controls.F60316}),
              (QStringList{"100", "109", "110", "111", "112", "65535", "116"}));
    EXPECT_EQ(reads, (QList<QStringList>{{"60200", "4"}}));
    EXPECT_TRUE(form.txtStatus.endsWith(QStringLiteral("Polled 18 registers at ") + Now() + "\r\n"));
    EXPECT_FALSE(QFile::exists(QStringLiteral("regs.txt")));

    // A 0xFFFF high word makes the low word negative.
    DecodeBlockD(ctx, ReadResponse(2, {0x0000, 0x1388, 0xFFFF, 0xFFFE}));
    EXPECT_EQ(controls.F60200, QStringLiteral("5000"));
    EXPECT_EQ(controls.F60202, QStringLiteral("-2"));
    EXPECT_EQ(reads.size(), 1);
    EXPECT_TRUE(form.txtStatus.endsWith(QStringLiteral("Polled 04 registers at ") + Now() + "\r\n"));

    const QStringList lines = CrLfLines(QStringLiteral("regs.txt"));
    ASSERT_EQ(lines.size(), 1 + 18 + 4 + 1);
    EXPECT_EQ(lines[0], QStringLiteral("60000 1"));
    EXPECT_EQ(lines[1], QStringLiteral("60300 100"));
    EXPECT_EQ(lines[15], QStringLiteral("60314 65535"));
    EXPECT_EQ(lines[19], QStringLiteral("60200 0"));
    EXPECT_EQ(lines[22], QStringLiteral("60203 65534"));
    EXPECT_EQ(lines[23], QString());
}
