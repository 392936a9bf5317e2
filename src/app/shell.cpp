#include "app/shell.h"

#include "app/settings.h"
#include "controls/forced_charge.h"
#include "decode/block_b.h"
#include "decode/block_c.h"
#include "decode/block_d.h"
#include "decode/register_listing.h"
#include "energy/night.h"
#include "link/device_type.h"
#include "support/appended_file.h"
#include "support/clock.h"
#include "support/file_failures.h"
#include "support/file_utils.h"
#include "support/journal.h"
#include "support/prompter.h"
#include "support/text_forms.h"

#include <QEventLoop>
#include <QLocale>

const char* const kPollRateMessage = "Poll rate must be a number of seconds from 0.001 to 65.535";
const char* const kStartRangeMessage = "Reg must be a register number from 0 to 65535";
const char* const kNumberRangeMessage = "No must be a count of registers from 1 to 125";

namespace {
const char* const kNotConnected = "not connected";

// A text the read conversion takes as a number, whatever its size.
bool IsNumber(const QString& text) {
    double value = 0;
    if (ParseNumber(text, &value)) {
        return true;
    }
    bool ok = false;
    QLocale().toDouble(text.trimmed(), &ok);
    return ok;
}
} // namespace

Shell::Shell(const Clock& clock, Prompter& prompter, QObject* parent)
    : QObject(parent), clock_(clock), prompter_(prompter), log_(clock, prompter), boundary_(log_),
      status_(form_), link_(form_, status_, log_, prompter, boundary_, this),
      fileFailures_(log_), decode_{form_,
                                   status_,
                                   clock,
                                   log_,
                                   fileFailures_,
                                   [this](const QString& start, const QString& quantity) {
                                       return link_.SendReadRegisters(start, quantity);
                                   },
                                   [this]() -> ControlsForm& { return LoadedControls(); },
                                   &reading_} {
    boundary_.afterEvent = [this] { Q_EMIT changed(); };
    fileFailures_.notify = [this](const QString& text) {
        status_.AppendStatusLine(text);
        // Under the journal the error log's copy of the entry already says it.
        if (!log_.echo) {
            PrintToStderr(Priority::Error, QStringLiteral("ModbusClient: ") + text);
        }
    };

    boundary_.notify = [this](const QString& text) { status_.AppendStatusLine(text); };
    guard_.say = [this](const QString& text, bool logged) {
        status_.AppendStatusLine(text);
        if (logged) {
            log_.ErrorHandle(QStringLiteral("Implausible value"), QStringLiteral("0"),
                             QStringLiteral("CounterGuard"), text);
        }
    };

    // Each decoder is an event of its own at the boundary, so that its failure is reported once
    // per run and its recovery is seen, whatever the other blocks do in between.
    DecoderTable decoders;
    decoders.blockA = [this](const QByteArray& data) {
        boundary_.run(QStringLiteral("DecodeBlockA"), [&] { DecodeBlockA(decode_, identity_, data); });
    };
    decoders.blockB = [this](const QByteArray& data) {
        boundary_.run(QStringLiteral("DecodeBlockB"), [&] {
            DecodeBlockB(decode_, data);
            // What is built on the reading gets no counter that went back; the classic files
            // and the window keep what was read.
            reading_ = guard_.apply(reading_);
            Q_EMIT pollCycleCompleted();
            Q_EMIT cycleCompleted(reading_);
        });
    };
    decoders.blockC = [this](const QByteArray& data) {
        boundary_.run(QStringLiteral("DecodeBlockC"), [&] { DecodeBlockC(decode_, data); });
    };
    decoders.blockD = [this](const QByteArray& data) {
        boundary_.run(QStringLiteral("DecodeBlockD"), [&] { DecodeBlockD(decode_, data); });
    };
    decoders.other = [this](const QByteArray& data, int32_t tid) { DecodeOther(decode_, data, tid); };
    link_.setDecoders(decoders);
    link_.onConnected = [this] {
        timer2_.start();
        Timer2_Timer();
        // After a reconnect the operator's rate comes back by itself; a close had stopped it.
        // An open control editor keeps holding it until it closes.
        if (form_.Check1 && !timer1_.isActive() && !controls_.form().Loaded) {
            timer1_.start();
        }
        charge_.onConnected();
    };
    link_.onClosed = [this] {
        timer1_.stop();
        charge_.onLinkLost();
        Q_EMIT linkLost();
    };
    connect(this, &Shell::cycleCompleted, &charge_, [this](const Reading& reading) {
        charge_.onPollCycleCompleted(
            reading.socPercent ? std::optional<int>(static_cast<int>(*reading.socPercent)) : std::nullopt,
            static_cast<int32_t>(reading.ratedBatteryW));
    });
    connect(&charge_, &ManagedCharge::reported, this, &Shell::changed);
    // After the managed charge has seen the cycle: a slot starts with its figures.
    connect(this, &Shell::cycleCompleted, &plan_, &ChargePlan::onReading);
    connect(&plan_, &ChargePlan::changed, this, &Shell::changed);

    timer1_.setInterval(10000);
    timer2_.setInterval(60000);
    timer3_.setInterval(1000);
    // Midnight is found by a one-second tick; a coarse timer could drift past it.
    timer3_.setTimerType(Qt::PreciseTimer);
    connect(&timer1_, &QTimer::timeout, this, [this] { Timer1_Timer(); });
    connect(&timer2_, &QTimer::timeout, this, [this] { Timer2_Timer(); });
    connect(&timer3_, &QTimer::timeout, this, [this] { Timer3_Timer(); });
    SetUpControls();
}

void Shell::SetUpControls() {
    connect(&controls_.timer1(), &QTimer::timeout, this, [this] { Controlsfrm_Timer1_Timer(); });
    connect(&controls_.timer2(), &QTimer::timeout, this, [this] { Controlsfrm_Timer2_Timer(); });
}

ControlsForm& Shell::LoadedControls() {
    // A control block that arrives while the editor is not loaded loads it, unseen.
    if (!controls_.form().Loaded) {
        controls_.Form_Load();
    }
    return controls_.form();
}

void Shell::showcmd_Click() {
    boundary_.run(QStringLiteral("showcmd_Click"), [this] {
        // Not connected: the read reports that itself, and the editor opens with the texts it had.
        link_.SendReadRegisters(QStringLiteral("60300"), QStringLiteral("18"));
        LoadedControls().Visible = true;
    });
}

void Shell::ForceChargecmd_Click() {
    boundary_.run(QStringLiteral("ForceChargecmd_Click"),
                  [this] { ::ForceChargecmd_Click(form_, link_, prompter_); });
}

void Shell::Controlsfrm_Unload() {
    boundary_.run(QStringLiteral("Controlsfrm_Unload"), [this] {
        if (controls_.form().Loaded) {
            controls_.Form_Unload();
        }
        controls_.form().Visible = false;
    });
}

void Shell::Controlsfrm_Timer1_Timer() {
    boundary_.run(QStringLiteral("Controlsfrm_Timer1_Timer"), [this] { controls_.Timer1_Timer(); });
}

void Shell::Controlsfrm_Timer2_Timer() {
    boundary_.run(QStringLiteral("Controlsfrm_Timer2_Timer"), [this] { controls_.Timer2_Timer(); });
}

void Shell::HandleFieldValidate() {}

void Shell::Form_Load(const QString& commandLine) {
    boundary_.run(QStringLiteral("Form_Load"), [&] {
        log_.AppName = QStringLiteral("ModbusClient");
        form_.Versionlbl = QStringLiteral("V%1.%2.%3")
                               .arg(MODBUSCLIENT_VERSION_MAJOR)
                               .arg(MODBUSCLIENT_VERSION_MINOR)
                               .arg(MODBUSCLIENT_VERSION_PATCH);
        const QString settings = SettingsFileName();
        if (!FileExists(settings)) {
            form_.Height = kExpandedHeight;
            form_.Width = kWindowWidth;
        } else {
            form_.Height = kCompactHeight;
            form_.Width = kWindowWidth;
            ReadSettings(form_, settings);
        }
        if (!commandLine.isEmpty()) {
            form_.IP = commandLine;
        }
        form_.Image1 = 101;
        form_.isConnected = false;
        form_.SelTypeIndex = 1;
        ApplySelType(form_, form_.SelTypeEntries.at(1));
        // What a power cut left at the end of the logs goes before anything is added to them.
        for (const QString& line :
             RepairLogTails({form_.BatterySoC, FindFileIgnoringCase(QString::fromLatin1(kDailySummaryFile)),
                             log_.path(), QString::fromLatin1(kControlLogFile)})) {
            status_.AppendStatusLine(line);
        }
        readNight(form_);
        charge_.restore();
        guard_.restore();
        // Only a midnight seen while running is saved: not one that passed before start-up.
        rollover_.Loaded();
        timer2_.start();
    });
}

void Shell::Form_Unload() {
    // The editor goes with the main window.
    boundary_.run(QStringLiteral("Form_Unload"), [this] { Controlsfrm_Unload(); });
}

bool Shell::FinishManagedCharge(int timeoutMs, QString* unconfirmed) {
    // Nothing polls any more: the end goes out first.
    timer1_.stop();
    timer2_.stop();
    timer3_.stop();
    link_.holdPolling(true);
    if (!charge_.finish()) {
        return true;
    }
    if (!link_.isConnected()) {
        link_.ConnectOnce();
    }
    QEventLoop loop;
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    connect(&charge_, &ManagedCharge::settled, &loop, &QEventLoop::quit);
    loop.exec();
    Q_EMIT changed();
    *unconfirmed = charge_.unconfirmedEnd();
    return unconfirmed->isEmpty();
}

void Shell::connectcmd_Click() {
    boundary_.run(QStringLiteral("connectcmd_Click"), [this] { link_.connectcmd_Click(); });
}

void Shell::Check1_Click(bool checked) {
    boundary_.run(QStringLiteral("Check1_Click"), [this, checked] {
        form_.Check1 = checked;
        if (!checked) {
            timer1_.stop();
            return;
        }
        double seconds = 0;
        const bool isNumber = ParseNumber(form_.Pollrate, &seconds);
        const double ms = isNumber ? RoundHalfEven(seconds * 1000.0) : 0.0;
        if (!isNumber || ms < 1 || ms > 65535) {
            // Refused: the timer stays as it was, and so does the box.
            form_.Check1 = timer1_.isActive();
            prompter_.message(QString::fromLatin1(kPollRateMessage));
            return;
        }
        timer1_.setInterval(static_cast<int>(ms));
        timer1_.start();
    });
}

void Shell::StopStart_Click() {
    boundary_.run(QStringLiteral("StopStart_Click"), [this] {
        form_.StopStart =
            form_.StopStart == QLatin1String("Stop") ? QStringLiteral("Start") : QStringLiteral("Stop");
    });
}

void Shell::SelType_Click(int index) {
    boundary_.run(QStringLiteral("SelType_Click"), [this, index] {
        if (index < 0 || index >= form_.SelTypeEntries.size()) {
            return;
        }
        form_.SelTypeIndex = index;
        ApplySelType(form_, form_.SelTypeEntries.at(index));
        // "Auto" looks for the SunSpec signature; with no connection there is nobody to ask.
        if (form_.DeviceMode == QLatin1String("Auto") && form_.isConnected) {
            RequestSunSpecSignature(status_, link_);
        }
    });
}

void Shell::Command1_Click() {
    boundary_.run(QStringLiteral("Command1_Click"), [this] {
        if (!form_.isConnected) {
            prompter_.message(QString::fromLatin1(kNotConnected));
            return;
        }
        if (!IsNumber(form_.Start) || !IsNumber(form_.Number)) {
            prompter_.message(QStringLiteral("Reg and No must be numbers"));
            return;
        }
        // What one read request can carry: a 16-bit address and at most 125 registers.
        qint64 start = 0;
        qint64 number = 0;
        if (!ConvertWhole(form_.Start, 0, 65535, &start)) {
            prompter_.message(QString::fromLatin1(kStartRangeMessage));
            return;
        }
        if (!ConvertWhole(form_.Number, 1, 125, &number)) {
            prompter_.message(QString::fromLatin1(kNumberRangeMessage));
            return;
        }
        link_.SendReadRegisters(form_.Start, form_.Number);
    });
}

void Shell::Form_DblClick() {
    boundary_.run(QStringLiteral("Form_DblClick"), [this] {
        form_.Height = form_.Height != kCompactHeight ? kCompactHeight : kExpandedHeight;
        form_.Width = kWindowWidth;
    });
}

void Shell::PollStep() {
    const QDateTime now = clock_.now();
    form_.LastPollDate = HostDate(now);
    form_.LastPollTime = HostTime(now);
    link_.SendReadRegisters(QStringLiteral("60000"), QStringLiteral("96"));
    form_.Update = HostTime(clock_.now());
}

void Shell::Timer1_Timer() {
    boundary_.run(QStringLiteral("Timer1_Timer"), [this] {
        rollover_.CatchUp();
        if (form_.StopStart != QLatin1String("Stop")) {
            return;
        }
        PollStep();
    });
}

void Shell::Timer2_Timer() {
    boundary_.run(QStringLiteral("Timer2_Timer"), [this] {
        form_.Height = kCompactHeight;
        form_.Width = kWindowWidth;
        SyncAppendedFiles();
        rollover_.CatchUp();
        if (form_.StopStart == QLatin1String("Stop") && !timer1_.isActive()) {
            PollStep();
        }
        rollover_.MinuteTick();
    });
}

void Shell::Timer3_Timer() {
    boundary_.run(QStringLiteral("Timer3_Timer"), [this] { rollover_.WatchTick(); });
}

void Shell::SaveNight() {
    DaySave(form_, prompter_, fileFailures_);
    Q_EMIT daySaved();
    readNight(form_);
}
