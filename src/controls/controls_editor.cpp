#include "controls/controls_editor.h"

#include "model/form.h"
#include "support/text_forms.h"

ControlsEditor::ControlsEditor(Form& mainForm, QTimer& mainTimer1, QTimer& mainTimer2, QObject* parent)
    : QObject(parent), mainForm_(mainForm), mainTimer1_(mainTimer1), mainTimer2_(mainTimer2) {
    timer1_.setInterval(60000);
    timer2_.setInterval(1000);
}

void ControlsEditor::Form_Load() {
    mainTimer1_.stop();
    mainTimer2_.stop();
    form_.AutoCloseTicks = 0;
    form_.Autoclose = QStringLiteral("600");
    timer1_.start();
    timer2_.start();
    form_.Loaded = true;
}

void ControlsEditor::Form_Unload() {
    timer1_.stop();
    timer2_.stop();
    form_.Loaded = false;
    form_.Visible = false;
    // The poll timer keeps the interval it had; it comes back only if "Poll" is still ticked.
    if (mainForm_.Check1) {
        mainTimer1_.start();
    }
    mainTimer2_.start();
}

void ControlsEditor::Timer1_Timer() {
    ++form_.AutoCloseTicks;
    if (form_.AutoCloseTicks >= 1) {
        Form_Unload();
    }
}

void ControlsEditor::Timer2_Timer() {
    double value = 0;
    // The operator may have typed anything here; a text that is no number is left as it is.
    if (ParseNumber(form_.Autoclose, &value)) {
        form_.Autoclose = DecimalText(value - 1);
    }
}

void ControlsEditor::SetupField(const QString& tb, int32_t address) {
    Q_UNUSED(tb);
    Q_UNUSED(address);
}
