#pragma once

#include "model/controls_form.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>

struct Form;

// The control register editor's behaviour: while loaded it holds the main window's poll and
// minute timers off, counts down in Autoclose and unloads itself one minute after loading.
// Its two timers live here, so a headless run and the tests have them without any window.
class ControlsEditor : public QObject {
    Q_OBJECT
public:
    ControlsEditor(Form& mainForm, QTimer& mainTimer1, QTimer& mainTimer2, QObject* parent = nullptr);

    void Form_Load();
    void Form_Unload();
    // The 60,000 ms tick: closes the editor.
    void Timer1_Timer();
    // The 1,000 ms tick: the Autoclose countdown, a display only.
    void Timer2_Timer();

    // Editing hook of F60301 and F60310; deliberately does nothing, so the editor never writes.
    void SetupField(const QString& tb, int32_t address);

    ControlsForm& form() { return form_; }
    QTimer& timer1() { return timer1_; }
    QTimer& timer2() { return timer2_; }

private:
    Form& mainForm_;
    QTimer& mainTimer1_;
    QTimer& mainTimer2_;
    ControlsForm form_;
    QTimer timer1_;
    QTimer timer2_;
};
