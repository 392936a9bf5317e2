#pragma once

#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QString>

class Shell;
struct ChargeSettings;

extern const char* const kDemoFolder;

// The demo: a simulated installation on a free loopback port, the client pointed at it and
// polling every 2 s. The simulator lives as long as this object.
class Demo : public QObject {
    Q_OBJECT
public:
    explicit Demo(Shell& shell, QObject* parent = nullptr);
    ~Demo() override;

    // Makes the demo folder under the current directory and works in it, so that a demo never
    // mixes with a real installation's files.
    static bool EnterFolder(QString* error);
    // The demo charges by a plan from the simulator's prices: [charge] of demo.conf in the demo
    // folder, written when missing so it can be changed there. False with a one-line reason.
    static bool ReadChargePlan(ChargeSettings* charge, QString* error);
    // battery-sim beside the client (also in the build tree), else on PATH; empty when none.
    static QString FindSimulator();

    // Starts the simulator, which writes today's and tomorrow's prices into the demo folder; once
    // it reports its port, the shell connects to it.
    bool start(QString* error);

Q_SIGNALS:
    // The simulator could not be started or ended before it listened.
    void failed(const QString& reason);

private:
    void onOutput();

    Shell& shell_;
    QProcess sim_;
    QByteArray firstLine_;
    bool listening_ = false;
};
