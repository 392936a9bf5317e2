#pragma once

#include <QWidget>

#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class ControlsWindow;
class Shell;

// The main window: a view of the shell's form. It shows the form after every event, writes the
// operator's edits back into it and forwards clicks to the shell.
class MainWindow : public QWidget {
    Q_OBJECT
public:
    explicit MainWindow(Shell& shell, QWidget* parent = nullptr);

    // Shows the form again: texts, check box, list, picture, and the window size.
    void refresh();

    // Pixels for a length in twips on this screen (1440 twips per inch).
    int twipsToPixels(int twips) const;
    // Twips for a length in pixels, rounded up, so that only a form size's own pixels give it back.
    int pixelsToTwips(int pixels) const;
    // The operator has closed the window.
    bool wasClosed() const { return closed_; }

Q_SIGNALS:
    // The operator closed the window: the program ends.
    void closed();
    // "History" was pressed.
    void historyClicked();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Field {
        QLineEdit* edit;
        QString* text;
    };

    QLineEdit* addField(const char* name, QString* text, const char* description,
                        const char* toolTip = nullptr);
    QLabel* addLabel(const char* name, const char* caption, const char* description);
    QPushButton* addButton(const char* name, const char* caption, const char* description);

    Shell& shell_;
    std::vector<Field> fields_;
    QPlainTextEdit* txtStatus_ = nullptr;
    QListWidget* lstRegisters_ = nullptr;
    QComboBox* selType_ = nullptr;
    QCheckBox* check1_ = nullptr;
    QPushButton* stopStart_ = nullptr;
    QLabel* image1_ = nullptr;
    QLabel* versionlbl_ = nullptr;
    QWidget* lower_ = nullptr;
    ControlsWindow* controls_ = nullptr;
    int shownPicture_ = 0;
    int shownHeight_ = 0;
    int shownWidth_ = 0;
    bool closed_ = false;
    bool applyingSize_ = false;
};

// Closing the main window ends the program with status 0, whatever else is on screen (a message
// box, the control editor): no process goes on polling without its window.
// The window's close ends the event loop. A close that came before the loop ran (while a nested
// loop turned during start-up) is seen by wasClosed(): QCoreApplication::exec() forgets an
// earlier exit.
void EndProgramWithWindow(MainWindow& window);
