#include "app/controls_window.h"

#include "app/shell.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>

namespace {
constexpr int kTwipsPerInch = 1440;

void Name(QWidget* w, const QString& name, const QString& description) {
    w->setObjectName(name);
    w->setAccessibleName(name);
    w->setAccessibleDescription(description);
}
} // namespace

ControlsWindow::ControlsWindow(Shell& shell, QWidget* parent) : QWidget(parent, Qt::Window), shell_(shell) {
    ControlsForm& c = shell_.controls().form();
    Name(this, QStringLiteral("Controlsfrm"), QStringLiteral("Control register editor"));
    setWindowTitle(QStringLiteral("Form1"));
    QFont small = font();
    small.setPointSizeF(7.0);
    setFont(small);

    auto* grid = new QGridLayout(this);
    const int rowPixels = 360 * logicalDpiY() / kTwipsPerInch;
    grid->setContentsMargins(6, 480 * logicalDpiY() / kTwipsPerInch - rowPixels / 2, 6, 6);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(0);
    addRow(0, "60301", "F60301", &c.F60301, "0 = stop, 1 = control, 2 = exit",
           "Control mode, register 60300");
    addRow(1, "60310", "F60310", &c.F60310, "0 = charge 1 = discharge",
           "Charge or discharge, register 60309");
    addRow(2, "60311", "F60311", &c.F60311, "1 = duration mode", "Duration mode, register 60310");
    addRow(3, "60312", "F60312", &c.F60312, "max charge level SOC", "Highest charge level, register 60311");
    addRow(4, "60313", "F60313", &c.F60313, "duration minutes", "Duration in minutes, register 60312");
    addRow(5, "60314", "F60314", &c.F60314, "Power in watts", "Charge power in watts, register 60314");
    addRow(6, "60316", "F60316", &c.F60316, "HW = 0", "Register 60316");
    addRow(7, "60200", "F60200", &c.F60200, "Max charge kw*100",
           "Highest charge power, registers 60200 and 60201");
    addRow(8, "60202", "F60202", &c.F60202, "Max Discharge kw*100",
           "Highest discharge power, registers 60202 and 60203");
    addRow(9, nullptr, "Autoclose", &c.Autoclose, "Auto close after 5 minutes",
           "Seconds until the editor closes");
    for (int row = 0; row < 10; ++row) {
        grid->setRowMinimumHeight(row, rowPixels);
    }
    grid->setRowStretch(10, 1);
    grid->setColumnStretch(2, 1);
    setFixedSize(4935 * logicalDpiX() / kTwipsPerInch, 5295 * logicalDpiY() / kTwipsPerInch);
    connect(&shell_, &Shell::changed, this, &ControlsWindow::refresh);
    refresh();
}

void ControlsWindow::addRow(int row, const char* reg, const char* name, QString* text, const char* note,
                            const char* description) {
    auto* grid = static_cast<QGridLayout*>(layout());
    const QString field = QString::fromLatin1(name);
    if (reg != nullptr) {
        auto* label = new QLabel(QString::fromLatin1(reg), this);
        Name(label, QStringLiteral("Reg") + field.mid(1), QStringLiteral("Register number of ") + field);
        grid->addWidget(label, row, 0);
    }
    auto* edit = new QLineEdit(this);
    Name(edit, field, QString::fromLatin1(description));
    edit->setMaximumWidth(1300 * logicalDpiX() / kTwipsPerInch);
    connect(edit, &QLineEdit::textEdited, this, [text](const QString& value) { *text = value; });
    grid->addWidget(edit, row, 1);
    auto* noteLabel = new QLabel(QString::fromLatin1(note), this);
    Name(noteLabel, QStringLiteral("Note") + field, QStringLiteral("Meaning of ") + field);
    grid->addWidget(noteLabel, row, 2);
    fields_.push_back({edit, text});

    // Only the first two fields have editing hooks, and they do nothing.
    if (field == QLatin1String("F60301") || field == QLatin1String("F60310")) {
        connect(edit, &QLineEdit::editingFinished, this, [this] { shell_.HandleFieldValidate(); });
        edit->installEventFilter(this);
    }
}

ControlsWindow::~ControlsWindow() {
    for (const Field& field : fields_) {
        QObject::disconnect(field.edit, nullptr, this, nullptr);
        field.edit->removeEventFilter(this);
    }
}

bool ControlsWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease) {
        const QString name = watched->objectName();
        if (auto* tb = findChild<QLineEdit*>(name)) {
            shell_.controls().SetupField(tb->objectName(), name == QLatin1String("F60301") ? 60301 : 60310);
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ControlsWindow::refresh() {
    for (const Field& field : fields_) {
        if (field.edit->text() != *field.text) {
            field.edit->setText(*field.text);
        }
    }
    const bool visible = shell_.controls().form().Visible;
    if (visible && !isVisible()) {
        show();
    } else if (!visible && isVisible()) {
        hide();
    }
}

void ControlsWindow::closeEvent(QCloseEvent* event) {
    shell_.Controlsfrm_Unload();
    event->accept();
}
