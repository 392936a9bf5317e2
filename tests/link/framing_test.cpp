#include "common/test_support.h"
#include "link/frame_reader.h"
#include "link/framing.h"

TEST(Framing, RequestBytesPutEachValueIntoItsTwoByteField) {
    const struct {
        int32_t start;
        int16_t quantity;
        int32_t tid;
        const char* bytes;
    } reads[] = {
        {60000, 96, 0, "00 00 00 00 00 06 01 03 EA 60 00 60"},
        {40000, 2, 0, "00 00 00 00 00 06 01 03 9C 40 00 02"},
        {65535, 32767, 65535, "FF FF 00 00 00 06 01 03 FF FF 7F FF"},
        // Beyond 16 bits only the low 16 bits remain; negatives divide toward zero.
        {65536, 0, 70000, "11 70 00 00 00 06 01 03 00 00 00 00"},
        {-1, -300, 0, "00 00 00 00 00 06 01 03 00 FF FF D4"},
        {0, -32768, -1, "00 FF 00 00 00 06 01 03 00 00 80 00"},
    };
    for (const auto& r : reads) {
        EXPECT_EQ(BuildReadRequest(r.start, r.quantity, r.tid).toHex(' '), Hex(r.bytes).toHex(' '))
            << r.bytes;
    }
    EXPECT_EQ(BuildWriteRequest(1, 60301, 11), Hex("00 01 00 00 00 06 01 06 EB 8D 00 0B"));
    EXPECT_EQ(BuildWriteRequest(65535, 60300, 65535), Hex("FF FF 00 00 00 06 01 06 EB 8C FF FF"));
    EXPECT_EQ(BuildWriteRequest(2, 60301, -1), Hex("00 02 00 00 00 06 01 06 EB 8D 00 FF"));
    EXPECT_EQ(BuildWriteRequest(3, 60301, -300), Hex("00 03 00 00 00 06 01 06 EB 8D FF D4"));
}

TEST(FrameReader, ReassemblesFramesFromTheByteStream) {
    const QByteArray first = ReadResponse(7, {1, 2, 3});
    const QByteArray second = ReadResponse(8, QList<int>(96, 0x1234));

    // One byte at a time: nothing until the last byte, then the whole frame once.
    FrameReader reader;
    for (int i = 0; i < first.size() - 1; ++i) {
        EXPECT_TRUE(reader.feed(first.mid(i, 1)).isEmpty()) << i;
        EXPECT_EQ(reader.pending(), i + 1);
    }
    EXPECT_EQ(reader.feed(first.right(1)), QList<QByteArray>({first}));
    EXPECT_EQ(reader.pending(), 0);

    // Two in one segment, in order.
    EXPECT_EQ(reader.feed(first + second), QList<QByteArray>({first, second}));
    EXPECT_FALSE(reader.outOfStep());
}

TEST(FrameReader, OutOfStepStreamIsDiscarded) {
    const QByteArray good = ReadResponse(0, {5});
    QByteArray bent = good; // protocol identifier 1, unit 9, a length one too small
    bent.replace(3, 4, Hex("01 00 04 09"));
    FrameReader reader;
    // What follows an answer and starts none goes with it; so do protocol and unit identifiers.
    EXPECT_EQ(reader.feed(bent + Hex("AB CD") + good + Hex("AB")), QList<QByteArray>({bent, good}));
    EXPECT_FALSE(reader.outOfStep());
    // Where a response should start, bytes are dropped up to the next one, and counted.
    EXPECT_EQ(reader.feed(QByteArray("HTTP/1.1 4") + good), QList<QByteArray>({good}));
    EXPECT_EQ(reader.discarded(), 10);
    EXPECT_EQ(reader.pending(), 0);
}
