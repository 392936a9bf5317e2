#pragma once

#include <QList>
#include <QMap>
#include <QProcess>
#include <QStringList>

#include <string>

class Installation;

// A program started for a test; stopped (SIGTERM, then SIGKILL) when the object goes.
class Program {
public:
    Program(const QString& path, const QStringList& arguments, const QString& folder = QString());
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Standard output so far, one entry per whole line.
    QStringList lines();
    int countLines(const QString& prefix);
    // Waits for "... listening on 127.0.0.1:PORT" as the first line; 0 when it does not come.
    quint16 listeningPort();
    // SIGTERM and the exit code, or -1 when it does not end in time.
    int stop();
    // The signal, then the exit code once it ends (-1 for a kill or when it does not end within
    // 15 s).
    int signal(int number);
    // The exit code once it ends by itself, -1 when it does not within ms.
    int wait(int ms);

private:
    QProcess process_;
    QByteArray output_;
};

// Register address to value; a register not named reads 0.
using Image = QMap<int, int>;

// What the simulation serves at this moment in the two poll blocks.
Image PolledImage(const Installation& installation);
// A "register value" file (lines starting with # are comments).
Image ReadImage(const QString& path);

// The lines the client must write for one poll cycle of this image, worked out here from the
// register map: "Battery.txt" without its "Date = " line, and the registers file.
QStringList ExpectedBatteryLines(const Image& image);
QStringList ExpectedRegisterLines(const Image& image);
// The state-of-charge values logged over these cycles, from a start with no value.
QStringList ExpectedSocValues(const QList<Image>& cycles);

// Lines as one text, so that a failed comparison prints readably.
std::string Text(const QStringList& lines);
// The last word of each line.
QStringList LastWords(const QStringList& lines);
// A free loopback port, for servers that cannot report the one they took.
quint16 FreePort();
