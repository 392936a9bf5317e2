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

    // Two in one segment, in order; a third begun is kept for its remaining bytes.
    EXPECT_EQ(reader.feed(first + second), QList<QByteArray>({first, second}));
    EXPECT_TRUE(reader.feed(first.left(9)).isEmpty());
    EXPECT_EQ(reader.pending(), 9);
    EXPECT_EQ(reader.feed(first.mid(9)), QList<QByteArray>({first}));
    EXPECT_FALSE(reader.outOfStep());

    // The longest answer, an exception and a write echo, whatever their length fields say.
    const QByteArray exception = Hex("00 01 00 00 00 02 01 83 02");
    const QByteArray echo = Hex("00 02 00 00 00 FF 01 06 EB 8D 00 0B");
    const QByteArray longest = Hex("00 02 00 00 00 03 01 03 FA") + QByteArray(250, '\0');
    EXPECT_EQ(reader.feed(exception + echo + longest), QList<QByteArray>({exception, echo, longest}));
    EXPECT_FALSE(reader.outOfStep());
}

TEST(FrameReader, BentFramingIsReadAndWhatStartsNoResponseDropped) {
    const QByteArray good = ReadResponse(0, {5});
    QByteArray shortLength = good;
    shortLength[5] = 4;
    QByteArray protocolOne = good;
    protocolOne[3] = 1;
    QByteArray unitNine = good;
    unitNine[6] = 9;
    FrameReader reader;
    EXPECT_EQ(reader.feed(shortLength + protocolOne + unitNine),
              QList<QByteArray>({shortLength, protocolOne, unitNine}));
    // A checksum after each answer goes with it, unreported.
    EXPECT_EQ(reader.feed(good + Hex("AB CD") + good + Hex("AB CD")), QList<QByteArray>({good, good}));
    EXPECT_FALSE(reader.outOfStep());
    EXPECT_EQ(reader.pending(), 0);
    // Bytes where a response should start are dropped up to the next one, and counted.
    EXPECT_EQ(reader.feed(QByteArray("HTTP/1.1 4") + good), QList<QByteArray>({good}));
    EXPECT_EQ(reader.discarded(), 10);
    EXPECT_TRUE(reader.feed(QByteArray("HTTP/1.1 400 Bad Request\r\n\r\n")).isEmpty());
    EXPECT_EQ(reader.discarded(), 28);
    EXPECT_EQ(reader.pending(), 0);
}
