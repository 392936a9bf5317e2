#include "e2e/e2e_support.h"

#include "common/test_support.h"
#include "installation.h"

#include <QFile>
#include <QHostAddress>
#include <QTcpServer>

#include <cstdio>
#include <signal.h>

Program::Program(const QString& path, const QStringList& arguments, const QString& folder) {
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    if (!folder.isEmpty()) {
        process_.setWorkingDirectory(folder);
    }
    process_.start(path, arguments);
}

Program::~Program() {
    stop();
}

int Program::stop() {
    if (process_.state() != QProcess::NotRunning) {
        process_.terminate();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(5000);
            return -1;
        }
    }
    return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
}

int Program::signal(int number) {
    ::kill(static_cast<pid_t>(process_.processId()), number);
    return wait(15000);
}

int Program::wait(int ms) {
    if (!process_.waitForFinished(ms)) {
        return -1;
    }
    return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
}

QStringList Program::lines() {
    output_ += process_.readAllStandardOutput();
    QStringList result = QString::fromLocal8Bit(output_).split(QLatin1Char('\n'));
    result.removeLast(); // the unfinished line, or the empty one after the last line end
    return result;
}

int Program::countLines(const QString& prefix) {
    const QStringList all = lines();
    return static_cast<int>(
        std::count_if(all.begin(), all.end(), [&](const QString& l) { return l.startsWith(prefix); }));
}

quint16 Program::listeningPort() {
    if (!WaitUntil([this] { return !lines().isEmpty(); })) {
        return 0;
    }
    const QString first = lines().first();
    const QString prefix = QStringLiteral("listening on 127.0.0.1:");
    const qsizetype at = first.indexOf(prefix);
    return at < 0 ? 0 : static_cast<quint16>(first.mid(at + prefix.size()).toUInt());
}

Image PolledImage(const Installation& installation) {
    Image image;
    for (const auto& [first, count] : {std::pair{60000, 96}, std::pair{60166, 24}}) {
        QList<quint16> values;
        installation.read(first, count, &values);
        for (int i = 0; i < values.size(); ++i) {
            image[first + i] = values[i];
        }
    }
    return image;
}

Image ReadImage(const QString& path) {
    Image image;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        for (const QString& line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
            const QStringList parts = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
            if (parts.size() == 2 && !line.startsWith(QLatin1Char('#'))) {
                image[parts[0].toInt()] = parts[1].toInt();
            }
        }
    }
    return image;
}

namespace {
// Up to 15 significant digits, the exponent form from 1E+15.
QString Decimal(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.15G", value);
    return QString::fromLatin1(text);
}

// The signed power words: a high word of 0xFFFF marks a negative value.
int Signed(const Image& image, int address) {
    const int high = image.value(address);
    const int low = image.value(address + 1);
    return high == 0xFFFF ? low - 65536 : low;
}

double Counter(const Image& image, int address) {
    double value = 0;
    for (int i = 0; i < 4; ++i) {
        value = value * 65536.0 + image.value(address + i);
    }
    return value;
}
} // namespace

QStringList ExpectedBatteryLines(const Image& image) {
    const double size = image.value(60031) * 65536.0 + image.value(60032);
    const int soc = image.value(60095);
    const int pv = Signed(image, 60071);
    const int grid = Signed(image, 60073);
    const auto charge = [](int v) { return QString::number(v < 0 ? -v : 0); };
    const auto discharge = [](int v) { return QString::number(v < 0 ? 0 : v); };
    // With no night snapshot, today's figures are the lifetime counters.
    const QString pvCharge = Decimal(Counter(image, 60166));
    const QString pvDischarge = Decimal(Counter(image, 60172));
    const QString gridDischarge = Decimal(Counter(image, 60178));
    const QString gridCharge = Decimal(Counter(image, 60184));
    return {QStringLiteral("BatterySize = ") + Decimal(size),
            QStringLiteral("PVCharge = ") + charge(pv),
            QStringLiteral("GridCharge = ") + charge(grid),
            QStringLiteral("PVChargeToday = ") + pvCharge,
            QStringLiteral("GridChargeToday = ") + gridCharge,
            QStringLiteral("PVChargeLife = ") + pvCharge,
            QStringLiteral("GridChargeLife = ") + gridCharge,
            QStringLiteral("PVDischarge = ") + discharge(pv),
            QStringLiteral("GridDischarge = ") + discharge(grid),
            QStringLiteral("PVDischargeToday = ") + pvDischarge,
            QStringLiteral("GridDischargeToday = ") + gridDischarge,
            QStringLiteral("PVDischargeLife = ") + pvDischarge,
            QStringLiteral("GridDischargeLife = ") + gridDischarge,
            QStringLiteral("BatteryPercent = ") + QString::number(soc),
            QStringLiteral("CurrentLevelKWh = ") + Decimal(soc / 100.0 * size)};
}

QStringList ExpectedRegisterLines(const Image& image) {
    QStringList lines;
    for (const auto& [first, count] : {std::pair{60000, 96}, std::pair{60166, 24}}) {
        for (int a = first; a < first + count; ++a) {
            lines.append(QStringLiteral("%1 %2").arg(a).arg(image.value(a)));
        }
    }
    lines.append(QString());
    return lines;
}

QStringList ExpectedSocValues(const QList<Image>& cycles) {
    QStringList values;
    int last = 0;
    for (const Image& image : cycles) {
        if (image.value(60095) != last) {
            last = image.value(60095);
            values.append(QString::number(last));
        }
    }
    return values;
}

std::string Text(const QStringList& lines) {
    return lines.join(QLatin1Char('\n')).toStdString();
}

QStringList LastWords(const QStringList& lines) {
    QStringList words;
    for (const QString& line : lines) {
        words.append(line.section(QLatin1Char(' '), -1));
    }
    return words;
}

quint16 FreePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}
