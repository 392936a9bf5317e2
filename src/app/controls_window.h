#pragma once

#include <QWidget>

#include <vector>

class QLineEdit;
class Shell;

// The control register editor "Form1": a modeless view of the shell's ControlsForm. Typing
// changes only the form; nothing typed here is ever sent to the device.
class ControlsWindow : public QWidget {
    Q_OBJECT
public:
    explicit ControlsWindow(Shell& shell, QWidget* parent = nullptr);
    // QWidget's destructor closes the window, and a field losing its focus then would call back
    // into this object after its own part is gone: the fields are let go of first.
    ~ControlsWindow() override;

    // Shows the form's texts, and shows or hides the window as the form says.
    void refresh();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Field {
        QLineEdit* edit;
        QString* text;
    };

    void addRow(int row, const char* reg, const char* name, QString* text, const char* note,
                const char* description);

    Shell& shell_;
    std::vector<Field> fields_;
};
