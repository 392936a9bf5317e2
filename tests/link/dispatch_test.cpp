#include "common/test_support.h"
#include "link/dispatch.h"
#include "link/framing.h"
#include "link/status_pane.h"
#include "model/form.h"
#include "support/run_error.h"

namespace {
// Records which decoder saw which frame.
struct Recorder {
    QStringList calls;
    QList<QByteArray> frames;
    int32_t otherTid = -1;

    DecoderTable table() {
        DecoderTable t;
        t.blockA = [this](const QByteArray& d) { record("A", d); };
        t.blockB = [this](const QByteArray& d) { record("B", d); };
        t.blockC = [this](const QByteArray& d) { record("C", d); };
        t.blockD = [this](const QByteArray& d) { record("D", d); };
        t.other = [this](const QByteArray& d, int32_t tid) {
            record("other", d);
            otherTid = tid;
        };
        return t;
    }
    void record(const char* name, const QByteArray& d) {
        calls.append(QString::fromLatin1(name));
        frames.append(d);
    }
};

class DispatchTest : public ::testing::Test {
protected:
    Form form;
    StatusPane status{form};
    Recorder recorder;
};
} // namespace

TEST_F(DispatchTest, WhatWasAskedChoosesTheDecoder) {
    const struct {
        int start;
        int registers;
        const char* decoder;
    } cases[] = {{60000, 96, "A"},    {60166, 24, "B"},   {60300, 18, "C"},   {60200, 4, "D"},
                 {40000, 2, "other"}, {100, 24, "other"}, {100, 18, "other"}, {60000, 4, "other"}};
    const DecoderTable table = recorder.table();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.registers);
        recorder = Recorder();
        const QByteArray frame = ReadResponse(0x1234, QList<int>(c.registers, 0xABCD));
        DispatchResponse(frame, {Asked::Kind::Read, c.start, c.registers}, table, status);
        EXPECT_EQ(recorder.calls, QStringList({QString::fromLatin1(c.decoder)}));
        EXPECT_EQ(recorder.frames, QList<QByteArray>({frame}));
    }
    EXPECT_EQ(ReadResponse(0, QList<int>(96, 0)).size(), 201);
    EXPECT_EQ(recorder.otherTid, 0x1234);
    EXPECT_TRUE(form.txtStatus.isEmpty());
}

TEST_F(DispatchTest, ShortFramesAndWriteEchoesAreDropped) {
    const QByteArray blockA = ReadResponse(0, QList<int>(96, 1));
    const QByteArray dropped[] = {
        blockA.left(200),
        blockA.left(150),
        Hex("00 00 00 00 00 02 01 03"),
        QByteArray(),
        // The echo of a write to 60301 has 0xEB where the byte count would be.
        BuildWriteRequest(1, 60301, 11),
    };
    const DecoderTable table = recorder.table();
    for (const QByteArray& frame : dropped) {
        DispatchResponse(frame, {Asked::Kind::Read, 60000, 96}, table, status);
    }
    EXPECT_TRUE(recorder.calls.isEmpty()) << recorder.calls.join(' ').toStdString();

    // A size whose decoder is not registered is dropped, not handed to DecodeOther.
    DecoderTable partial = table;
    partial.blockC = nullptr;
    DispatchResponse(ReadResponse(0, QList<int>(18, 0)), {Asked::Kind::Read, 60300, 18}, partial, status);
    EXPECT_TRUE(recorder.calls.isEmpty());
    EXPECT_TRUE(form.txtStatus.isEmpty());
}

TEST_F(DispatchTest, ExceptionResponsesAreReported) {
    const struct {
        const char* frame;
        const char* line;
    } cases[] = {
        {"00 00 00 00 00 03 01 83 02", "Modbus return error Illegal data address"},
        {"00 00 00 00 00 03 01 86 0B", "Modbus return error Modbus exception: 11"},
        {"00 05 00 00 00 03 01 83 01", "Modbus return error Illegal function"},
        {"00 00 00 00 00 03 01 83 03", "Modbus return error Illegal data value"},
        {"00 00 00 00 00 03 01 83 04", "Modbus return error Server device failure"},
    };
    QString expected;
    for (const auto& c : cases) {
        DispatchResponse(Hex(c.frame), Asked{Asked::Kind::Read, 60000, 96}, recorder.table(), status);
        expected += QString::fromLatin1(c.line) + QStringLiteral("\r\n");
    }
    EXPECT_EQ(form.txtStatus, expected);
    EXPECT_TRUE(recorder.calls.isEmpty());
}

TEST_F(DispatchTest, FailingDecoderIsNamedInTheEscapingError) {
    DecoderTable table;
    table.blockA = [](const QByteArray&) { throw OverflowError(); };
    try {
        DispatchResponse(ReadResponse(0, QList<int>(96, 0)), {Asked::Kind::Read, 60000, 96}, table, status);
        FAIL() << "the failure must end the event";
    } catch (const RunError& e) {
        EXPECT_EQ(e.number, 6);
        EXPECT_EQ(e.procedure, QStringLiteral("DecodeBlockA"));
    }
}

TEST(PendingRequests, AnAnswerWithAnotherTransactionIdAnswersNothing) {
    PendingRequests pending;
    pending.AddRead(BuildReadRequest(60000, 96, 7));
    pending.AddWrite(BuildWriteRequest(8, 60310, 0));
    pending.AddWrite(BuildWriteRequest(9, 60314, 2500));
    EXPECT_EQ(pending.Take(ReadResponse(6, QList<int>(96, 0))).kind, Asked::Kind::Nothing);
    EXPECT_EQ(pending.Take(BuildWriteRequest(10, 60310, 0)).kind, Asked::Kind::Nothing);
    // Echoes in any order, each once; the read still awaited.
    EXPECT_EQ(pending.Take(BuildWriteRequest(9, 60314, 2500)).kind, Asked::Kind::Write);
    EXPECT_EQ(pending.Take(BuildWriteRequest(9, 60314, 2500)).kind, Asked::Kind::Nothing);
    EXPECT_EQ(pending.Take(BuildWriteRequest(8, 60310, 0)).kind, Asked::Kind::Write);
    EXPECT_FALSE(pending.Empty());
    EXPECT_EQ(pending.Take(ReadResponse(7, QList<int>(96, 0))).kind, Asked::Kind::Read);
    EXPECT_TRUE(pending.Empty());
}
