#pragma once

#include <QByteArray>
#include <QDir>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>

// Runs each test in a fresh empty working directory, since the program writes its files into
// the current directory.
class InTempDir : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    QString path(const QString& name) const { return dir_.filePath(name); }

private:
    QTemporaryDir dir_;
    QString previous_;
};

QByteArray ReadAll(const QString& path);
void WriteAll(const QString& path, const QByteArray& bytes);
// Lines of a CR LF text file, without their CR LF; a final CR LF gives no extra empty entry.
QStringList CrLfLines(const QString& path);

// Runs the event loop until the condition holds or the time is up; returns the condition.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 5000);

// Local time in another zone while it lives, e.g. "Europe/Berlin" for days of 23 and 25 hours.
struct ScopedTimeZone {
    explicit ScopedTimeZone(const char* zone);
    ~ScopedTimeZone();
    QByteArray previous;
};

// Bytes from a hex text such as "00 01 ff".
QByteArray Hex(const char* text);

// A read-holding-registers response frame with the given transaction id and register values.
QByteArray ReadResponse(int tid, const QList<int>& registers);
