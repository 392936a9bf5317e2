#include "app/main_window.h"

#include "app/controls_window.h"
#include "app/log_viewer.h"
#include "app/pictures.h"
#include "app/shell.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>

#include <algorithm>

namespace {
constexpr int kTwipsPerInch = 1440;

void Name(QWidget* w, const char* name, const char* description) {
    w->setObjectName(QString::fromLatin1(name));
    w->setAccessibleName(QString::fromLatin1(name));
    w->setAccessibleDescription(QString::fromLatin1(description));
}

// At least wide enough to show this text whole.
void FitText(QLineEdit* edit, const QString& text) {
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.lineWidth = edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit);
    // QLineEdit keeps 2 pixels free on either side of its text.
    const QSize contents(edit->fontMetrics().horizontalAdvance(text) + 4, edit->fontMetrics().height());
    edit->setMinimumWidth(
        edit->style()->sizeFromContents(QStyle::CT_LineEdit, &option, contents, edit).width());
}
} // namespace

MainWindow::MainWindow(Shell& shell, QWidget* parent) : QWidget(parent), shell_(shell) {
    Form& f = shell_.form();
    Name(this, "ModbusClient", "Modbus TCP client main window");
    setWindowTitle(QStringLiteral("Modbus TCP Client"));
    // The window is a small fixed design; a small font lets every field fit its width.
    QFont small = font();
    small.setPointSizeF(7.0);
    setFont(small);

    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(4, 4, 4, 4);
    top->setSpacing(2);

    top->addWidget(addLabel("Label3", "Poll    Rate                 IP                   Port      Response",
                            "Caption of the poll rate, address, port and socket state row"));
    auto* row1 = new QHBoxLayout;
    row1->addWidget(addField("Pollrate", &f.Pollrate, "Poll period in seconds"), 2);
    row1->addWidget(addField("IP", &f.IP, "Server address"), 6);
    row1->addWidget(addField("Port", &f.Port, "Server TCP port"), 2);
    row1->addWidget(addField("WinState", &f.WinState, "Socket state number"), 1);
    top->addLayout(row1);

    auto* row2 = new QHBoxLayout;
    check1_ = new QCheckBox(QStringLiteral("Poll"), this);
    Name(check1_, "Check1", "Switches the regular poll on and off");
    connect(check1_, &QCheckBox::clicked, this, [this](bool checked) { shell_.Check1_Click(checked); });
    row2->addWidget(check1_);
    stopStart_ = addButton("StopStart", "Stop", "Pauses and resumes polling");
    connect(stopStart_, &QPushButton::clicked, this, [this] { shell_.StopStart_Click(); });
    row2->addWidget(stopStart_);
    QPushButton* connectcmd = addButton("connectcmd", "Connect", "Opens the connection to the server");
    connect(connectcmd, &QPushButton::clicked, this, [this] { shell_.connectcmd_Click(); });
    row2->addWidget(connectcmd);
    row2->addStretch(1);
    image1_ = new QLabel(this);
    Name(image1_, "Image1", "Connected state picture");
    image1_->setToolTip(QStringLiteral("Connected state"));
    row2->addWidget(image1_);
    top->addLayout(row2);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(3);
    grid->setVerticalSpacing(2);
    grid->addWidget(addLabel("Label4", "SN", "Caption of the serial number"), 0, 0);
    grid->addWidget(addField("SNum", &f.SNum, "Serial number"), 0, 1, 1, 3);
    // The firmware text (30 characters) has a row of its own, as wide as the serial number's.
    grid->addWidget(addLabel("Label6", "FW", "Caption of the firmware version"), 1, 0);
    grid->addWidget(addField("FW", &f.FW, "Firmware version"), 1, 1, 1, 3);
    grid->addWidget(addLabel("Label5", "HW", "Caption of the hardware version"), 2, 0);
    grid->addWidget(addField("HW", &f.HW, "Hardware version"), 2, 1);
    grid->addWidget(addLabel("Label9", "Protocol", "Caption of the protocol number"), 2, 2);
    grid->addWidget(addField("Protocol", &f.Protocol, "Protocol number"), 2, 3);
    grid->addWidget(addLabel("Label7", "PVPower", "Caption of the solar power"), 3, 0);
    grid->addWidget(addField("PVPower", &f.PVPower, "Solar power"), 3, 1);
    grid->addWidget(addLabel("Label8", "BatteryPower", "Caption of the battery power"), 3, 2);
    grid->addWidget(addField("BatteryPower", &f.BatteryPower, "Battery power"), 3, 3);
    grid->addWidget(addLabel("Label13", "Capacity/Now", "Caption of the battery capacity and level"), 4, 0);
    grid->addWidget(addField("BatteryCapacity", &f.BatteryCapacity, "Rated battery capacity"), 4, 1);
    grid->addWidget(addField("Capacity", &f.Capacity, "Battery capacity and current level", "last run time"),
                    4, 2, 1, 2);
    grid->addWidget(addLabel("Label10", "Updated", "Caption of the time of the last poll"), 5, 0);
    grid->addWidget(addField("Update", &f.Update, "Time of the last poll request", "last run time"), 5, 1);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    top->addLayout(grid);

    auto* row3 = new QHBoxLayout;
    row3->addWidget(addLabel("Label1", "Reg", "Caption of the starting register"));
    row3->addWidget(addField("Start", &f.Start, "First register for the Get button", "Starting register"), 2);
    row3->addWidget(addLabel("Label2", "No", "Caption of the number of registers"));
    row3->addWidget(addField("Number", &f.Number, "Register count for the Get button", "Number of registers"),
                    1);
    QPushButton* command1 = addButton("Command1", "Get", "Reads the registers from Reg once");
    connect(command1, &QPushButton::clicked, this, [this] { shell_.Command1_Click(); });
    row3->addWidget(command1);
    top->addLayout(row3);

    auto* row4 = new QHBoxLayout;
    QPushButton* showcmd = addButton("showcmd", "Controls", "Opens the control-register editor");
    connect(showcmd, &QPushButton::clicked, this, [this] { shell_.showcmd_Click(); });
    row4->addWidget(showcmd);
    QLineEdit* chargeRate =
        addField("ChargeRate", &f.ChargeRate, "Value sent by the forced-charge command", "Starting register");
    FitText(chargeRate, QStringLiteral("65.535"));
    row4->addWidget(chargeRate, 2);
    QPushButton* charge = addButton("ForceChargecmd", "Charge", "Sends the forced-charge command");
    connect(charge, &QPushButton::clicked, this, [this] { shell_.ForceChargecmd_Click(); });
    row4->addWidget(charge);
    selType_ = new QComboBox(this);
    Name(selType_, "SelType", "Register-map choice");
    selType_->addItems(f.SelTypeEntries);
    connect(selType_, QOverload<int>::of(&QComboBox::activated), this,
            [this](int index) { shell_.SelType_Click(index); });
    row4->addWidget(selType_, 2);
    top->addLayout(row4);

    txtStatus_ = new QPlainTextEdit(this);
    Name(txtStatus_, "txtStatus", "Status pane");
    txtStatus_->setReadOnly(true);
    top->addWidget(txtStatus_, 1);

    lower_ = new QWidget(this);
    auto* lowerGrid = new QGridLayout(lower_);
    lowerGrid->setContentsMargins(0, 0, 0, 0);
    lowerGrid->setSpacing(2);
    QLabel* socView = addLabel("BatterySoCView", "* BatterySoC", "State-of-charge log file name");
    OpenLogOnDoubleClick(socView, [this] { return shell_.form().BatterySoC; });
    lowerGrid->addWidget(socView, 0, 0);
    lowerGrid->addWidget(addField("BatterySoC", &f.BatterySoC, "State-of-charge log file name"), 0, 1);
    QLabel* batteryView = addLabel("BatteryFileView", "Output file", "Battery state file name");
    OpenLogOnDoubleClick(batteryView, [this] { return shell_.form().BatteryToday; });
    lowerGrid->addWidget(batteryView, 1, 0);
    lowerGrid->addWidget(addField("BatteryToday", &f.BatteryToday, "Battery state file name"), 1, 1);
    QLabel* registersView = addLabel("RegistersView", "* Registers file", "Registers file name, optional");
    OpenLogOnDoubleClick(registersView, [this] { return shell_.form().RegisterDetails; });
    lowerGrid->addWidget(registersView, 2, 0);
    lowerGrid->addWidget(addField("RegisterDetails", &f.RegisterDetails, "Registers file name, optional"), 2,
                         1);
    lowerGrid->addWidget(addLabel("Label15", "* Optional", "Marks the optional file names"), 3, 0);
    lstRegisters_ = new QListWidget(this);
    Name(lstRegisters_, "lstRegisters", "Register list, unused");
    lstRegisters_->setMaximumHeight(twipsToPixels(300));
    lowerGrid->addWidget(lstRegisters_, 3, 1);
    // In the expanded part, so the compact window stays as it always was.
    QPushButton* history = addButton("History", "History", "Opens the history charts");
    connect(history, &QPushButton::clicked, this, &MainWindow::historyClicked);
    lowerGrid->addWidget(history, 4, 0);
    versionlbl_ = addLabel("Versionlbl", "V1.1.10", "Program version");
    // No taller than the version label's line, so the expanded height stays as it always was.
    history->setMaximumHeight(versionlbl_->sizeHint().height());
    lowerGrid->addWidget(versionlbl_, 4, 1, Qt::AlignRight);
    top->addWidget(lower_);

    connect(&shell_, &Shell::changed, this, &MainWindow::refresh);
    refresh();
}

QLineEdit* MainWindow::addField(const char* name, QString* text, const char* description,
                                const char* toolTip) {
    auto* edit = new QLineEdit(this);
    Name(edit, name, description);
    if (toolTip != nullptr) {
        edit->setToolTip(QString::fromLatin1(toolTip));
    }
    edit->setMinimumWidth(10);
    // Typing changes the form at once; the shell reads the fields when it needs them.
    connect(edit, &QLineEdit::textEdited, this, [text](const QString& value) { *text = value; });
    fields_.push_back({edit, text});
    return edit;
}

QLabel* MainWindow::addLabel(const char* name, const char* caption, const char* description) {
    auto* label = new QLabel(QString::fromLatin1(caption), this);
    Name(label, name, description);
    return label;
}

QPushButton* MainWindow::addButton(const char* name, const char* caption, const char* description) {
    auto* button = new QPushButton(QString::fromLatin1(caption), this);
    Name(button, name, description);
    // A button may give up the style's blank around its caption to the fields beside it.
    button->setMinimumWidth(button->fontMetrics().horizontalAdvance(button->text()) + 12);
    return button;
}

int MainWindow::twipsToPixels(int twips) const {
    return twips * logicalDpiY() / kTwipsPerInch;
}

int MainWindow::pixelsToTwips(int pixels) const {
    const int dpi = logicalDpiY();
    return (pixels * kTwipsPerInch + dpi - 1) / dpi;
}

void MainWindow::refresh() {
    const Form& f = shell_.form();
    // The editor's window is made when it is first shown; it then follows the shell by itself.
    if (controls_ == nullptr && shell_.controls().form().Visible) {
        controls_ = new ControlsWindow(shell_, this);
        controls_->move(frameGeometry().topRight());
    }
    for (const Field& field : fields_) {
        // Only changed texts are set, so the caret of a field being typed in stays put.
        if (field.edit->text() != *field.text) {
            field.edit->setText(*field.text);
            // A text longer than its box shows its beginning, as the serial and firmware should.
            if (!field.edit->hasFocus()) {
                field.edit->setCursorPosition(0);
            }
        }
    }
    // The pane keeps CR LF line ends in the form; the editor holds one character per line end.
    const QString crLf = QStringLiteral("\r\n");
    const QString shown = QString(f.txtStatus).replace(crLf, QStringLiteral("\n"));
    if (txtStatus_->toPlainText() != shown) {
        txtStatus_->setPlainText(shown);
        const QString beforeCaret = f.txtStatus.left(f.txtStatusSelStart);
        const int caret = static_cast<int>(beforeCaret.size() - beforeCaret.count(crLf));
        QTextCursor cursor = txtStatus_->textCursor();
        cursor.setPosition(std::clamp(caret, 0, txtStatus_->document()->characterCount() - 1));
        txtStatus_->setTextCursor(cursor);
        txtStatus_->ensureCursorVisible();
    }
    check1_->setChecked(f.Check1);
    stopStart_->setText(f.StopStart);
    if (selType_->currentIndex() != f.SelTypeIndex) {
        selType_->setCurrentIndex(f.SelTypeIndex);
    }
    versionlbl_->setText(f.Versionlbl);
    if (shownPicture_ != f.Image1) {
        shownPicture_ = f.Image1;
        image1_->setPixmap(StatePicture(f.Image1, twipsToPixels(360)));
    }
    if (shownHeight_ != f.Height || shownWidth_ != f.Width) {
        shownHeight_ = f.Height;
        shownWidth_ = f.Width;
        // Showing the lower part can first grow the window to the layout's minimum: a size on the
        // way, not the operator's.
        applyingSize_ = true;
        lower_->setVisible(f.Height > kCompactHeight);
        setMinimumSize(0, 0);
        resize(twipsToPixels(f.Width), twipsToPixels(f.Height));
        applyingSize_ = false;
    }
}

void MainWindow::mouseDoubleClickEvent(QMouseEvent* event) {
    // Only the background toggles the size: a caption's or the picture's double click comes here
    // because labels pass their mouse events on.
    QWidget* under = childAt(event->position().toPoint());
    if (under == nullptr || under == lower_) {
        shell_.Form_DblClick();
    }
    event->accept();
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (applyingSize_) {
        return;
    }
    // Resized by hand: the form takes the real size, so that the size toggle and the minute tick
    // see a window that is not compact and put it back.
    Form& f = shell_.form();
    if (height() != twipsToPixels(shownHeight_)) {
        f.Height = shownHeight_ = pixelsToTwips(height());
    }
    if (width() != twipsToPixels(shownWidth_)) {
        f.Width = shownWidth_ = pixelsToTwips(width());
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    shell_.Form_Unload();
    event->accept();
    closed_ = true;
    Q_EMIT closed();
}

void EndProgramWithWindow(MainWindow& window) {
    QObject::connect(&window, &MainWindow::closed, QCoreApplication::instance(),
                     [] { QCoreApplication::exit(0); });
}
