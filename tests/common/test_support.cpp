#include "common/test_support.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTest>

#include <ctime>

void InTempDir::SetUp() {
    ASSERT_TRUE(dir_.isValid());
    previous_ = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir_.path()));
}

void InTempDir::TearDown() {
    QDir::setCurrent(previous_);
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        return {};
    }
    return f.readAll();
}

void WriteAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

QStringList CrLfLines(const QString& path) {
    QString text = QString::fromLatin1(ReadAll(path));
    if (text.endsWith(QLatin1String("\r\n"))) {
        text.chop(2);
    }
    return text.split(QStringLiteral("\r\n"));
}

ScopedTimeZone::ScopedTimeZone(const char* zone) : previous(qgetenv("TZ")) {
    qputenv("TZ", zone);
    tzset();
}

ScopedTimeZone::~ScopedTimeZone() {
    previous.isNull() ? qunsetenv("TZ") : qputenv("TZ", previous);
    tzset();
}

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
    return QTest::qWaitFor(condition, timeoutMs);
}

QByteArray Hex(const char* text) {
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

QByteArray ReadResponse(int tid, const QList<int>& registers) {
    QByteArray frame;
    const int byteCount = static_cast<int>(registers.size()) * 2;
    const int length = 3 + byteCount;
    frame.append(char((tid >> 8) & 0xff)).append(char(tid & 0xff));
    frame.append('\0').append('\0');
    frame.append(char((length >> 8) & 0xff)).append(char(length & 0xff));
    frame.append('\x01').append('\x03').append(char(byteCount & 0xff));
    for (int value : registers) {
        frame.append(char((value >> 8) & 0xff)).append(char(value & 0xff));
    }
    return frame;
}
