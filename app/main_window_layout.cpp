// The window's controls, menu, timers and file dialog settings, built in code
// with the names the rest of the tool (and its tests) finds them by.

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFont>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "app/controls.h"
#include "app/dialogs.h"
#include "app/main_window.h"
#include "window/window_texts.h"

namespace {

template <typename W>
W* named(W* widget, const char* name) {
    widget->setObjectName(name);
    return widget;
}

// Shift+Enter in a text edit inserts a line separator inside the same line,
// which the script runner and Save would read as one line with a stray
// character. In the script view every Enter starts a new line.
class PlainLineBreaks : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
                (key->modifiers() & Qt::ShiftModifier)) {
                static_cast<QPlainTextEdit*>(watched)->textCursor().insertBlock();
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }
};

QFont courier(int point_size) {
    QFont font("Courier");
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setPointSize(point_size);
    return font;
}

QPlainTextEdit* memo(const char* name, QWidget* parent) {
    auto* m = named(new QPlainTextEdit(parent), name);
    m->setAccessibleName(name);
    m->setFont(courier(10));
    m->setLineWrapMode(QPlainTextEdit::NoWrap);
    m->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    return m;
}

QCheckBox* check(const char* name, const char* caption, bool checked, QWidget* parent) {
    auto* c = named(new QCheckBox(caption, parent), name);
    c->setChecked(checked);
    return c;
}

QPushButton* button(const char* name, const char* caption, QWidget* parent) {
    return named(new QPushButton(caption, parent), name);
}

QWidget* page(QTabWidget* tabs, const char* name, const char* caption) {
    auto* p = named(new QWidget(tabs), name);
    tabs->addTab(p, caption);
    return p;
}

}  // namespace

void Tmain_window::create_controls() {
    QFont window_font("MS Sans Serif");
    window_font.setStyleHint(QFont::SansSerif);
    window_font.setPointSize(8);
    setFont(window_font);

    auto* client = named(new QWidget(this), "ClientArea");
    setCentralWidget(client);
    auto* column = new QVBoxLayout(client);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    Splitter1 = named(new QSplitter(Qt::Vertical, client), "Splitter1");
    Splitter1->setHandleWidth(3);
    Splitter1->setChildrenCollapsible(false);
    column->addWidget(Splitter1, 1);

    create_pages();
    create_message_area();

    BottomPanel = named(new QWidget(client), "BottomPanel");
    BottomPanel->setFixedHeight(105);
    column->addWidget(BottomPanel);

    create_bottom_panel();

    create_timers();
    create_file_dialogs();
}

// The tabs: the three document views and the dump buttons, with the port
// release box in the tab bar's corner.
void Tmain_window::create_pages() {
    PageControl = named(new QTabWidget(Splitter1), "PageControl");
    FirmwareTab = page(PageControl, "FirmwareTab", kPageCaptions[0]);
    JavaTab = page(PageControl, "JavaTab", kPageCaptions[1]);
    ConfigTab = page(PageControl, "ConfigTab", kPageCaptions[2]);
    tabMaintenance = page(PageControl, "tabMaintenance", kPageCaptions[3]);

    Firmware_View = memo("Firmware_View", FirmwareTab);
    Firmware_View->setReadOnly(true);
    (new QVBoxLayout(FirmwareTab))->addWidget(Firmware_View);

    Java_View = memo("Java_View", JavaTab);
    Java_View->setReadOnly(true);
    (new QVBoxLayout(JavaTab))->addWidget(Java_View);

    create_config_page();

    btnDumpEEProm = button("btnDumpEEProm", "EEProm Dump", tabMaintenance);
    btnCoreDump = button("btnCoreDump", "Core Dump", tabMaintenance);
    btnBootCrash = button("btnBootCrash", "Bootloader Crash Dump", tabMaintenance);
    auto* dumps = new QVBoxLayout(tabMaintenance);
    for (QPushButton* b : {btnDumpEEProm, btnCoreDump, btnBootCrash}) {
        b->setFixedWidth(160);
        dumps->addWidget(b);
    }
    dumps->addStretch(1);

    disconnectComCheckBox =
        check("disconnectComCheckBox", "Com Port freigeben", false, PageControl);
    PageControl->setCornerWidget(disconnectComCheckBox, Qt::TopRightCorner);
    PageControl->setCurrentWidget(FirmwareTab);
}

// The script view and the check boxes of a script run below it.
void Tmain_window::create_config_page() {
    Config_View = memo("Config_View", ConfigTab);
    Config_View->setTabChangesFocus(false);
    Config_View->installEventFilter(new PlainLineBreaks(Config_View));
    Panel1 = named(new QWidget(ConfigTab), "Panel1");
    Panel1->setFixedHeight(21);
    LogSendCheckBox = check("LogSendCheckBox", "Log send Messages", true, Panel1);
    RepeatCheckBox = check("RepeatCheckBox", "Repeat", false, Panel1);
    saveLogCheckBox = check("saveLogCheckBox", "Save Log", false, Panel1);
    auto* panel_row = new QHBoxLayout(Panel1);
    panel_row->setContentsMargins(4, 0, 4, 0);
    panel_row->addWidget(LogSendCheckBox);
    panel_row->addWidget(RepeatCheckBox);
    panel_row->addWidget(saveLogCheckBox);
    panel_row->addStretch(1);
    auto* config_column = new QVBoxLayout(ConfigTab);
    config_column->setSpacing(0);
    config_column->addWidget(Config_View, 1);
    config_column->addWidget(Panel1);
}

// The progress bar and the message area, below the tabs in the splitter.
void Tmain_window::create_message_area() {
    auto* lower = named(new QWidget(Splitter1), "MessageArea");
    auto* lower_column = new QVBoxLayout(lower);
    lower_column->setContentsMargins(0, 0, 0, 0);
    lower_column->setSpacing(0);
    ProgressBar = named(new QProgressBar(lower), "ProgressBar");
    ProgressBar->setAccessibleName("ProgressBar");
    ProgressBar->setFixedHeight(16);
    ProgressBar->setRange(0, 255);
    ProgressBar->setValue(0);
    ProgressBar->setTextVisible(false);
    Message = memo("Message", lower);
    Message->setReadOnly(true);
    Message->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    lower_column->addWidget(ProgressBar);
    lower_column->addWidget(Message, 1);
    Splitter1->addWidget(PageControl);
    Splitter1->addWidget(lower);
    Splitter1->setSizes({193, 573 - 193 - 3 - 105});
    Splitter1->setStretchFactor(0, 0);
    Splitter1->setStretchFactor(1, 1);
}

// The command box, the motor number and the action buttons.
void Tmain_window::create_bottom_panel() {
    cmbCommand = editable_combo("cmbCommand", BottomPanel);
    cmbCommand->setAccessibleName("cmbCommand");
    BtnCmd = button("BtnCmd", "Send Command", BottomPanel);
    chkClearOnSend = check("chkClearOnSend", "Clear on Send", false, BottomPanel);
    Label1 = named(new QLabel("Motor Number:", BottomPanel), "Label1");
    MotorID = editable_combo("MotorID", BottomPanel);
    MotorID->setEditText("1");
    MotorID->setMaxVisibleItems(16);
    Label1->setBuddy(MotorID);
    test_con_Btn = button("test_con_Btn", "Test", BottomPanel);
    poll = check("poll", "Enable Polling", false, BottomPanel);
    DebugLogCheckBox = check("DebugLogCheckBox", "DebugLog", false, BottomPanel);
    chkUSBCompatibility = check("chkUSBCompatibility", "USB Compatibility", true, BottomPanel);
    ActionBtn = button("ActionBtn", "Write Firmware", BottomPanel);
    ActionBtn->setEnabled(false);
    ClearEepromButton = button("ClearEepromButton", "Clear EEPROM", BottomPanel);
    AutoFlashButton = button("AutoFlashButton", "AutoFlash", BottomPanel);
    AutoFlashButton->setEnabled(false);

    auto* grid = new QGridLayout(BottomPanel);
    grid->setContentsMargins(8, 6, 8, 6);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(6);
    grid->addWidget(cmbCommand, 0, 0, 1, 3);
    grid->addWidget(BtnCmd, 0, 3);
    grid->addWidget(chkClearOnSend, 0, 4);
    grid->addWidget(Label1, 1, 0);
    grid->addWidget(MotorID, 1, 1);
    grid->addWidget(test_con_Btn, 1, 2);
    grid->addWidget(poll, 1, 3);
    grid->addWidget(DebugLogCheckBox, 1, 4);
    grid->addWidget(ActionBtn, 2, 0, 1, 2);
    grid->addWidget(AutoFlashButton, 2, 2);
    grid->addWidget(ClearEepromButton, 2, 3);
    grid->addWidget(chkUSBCompatibility, 2, 4);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(2, 1);
}

void Tmain_window::create_timers() {
    poll_timer = named(new QTimer(this), "poll_timer");
    poll_timer->setInterval(kPollIntervalMs);
    DebugLogTimer = named(new QTimer(this), "DebugLogTimer");
    DebugLogTimer->setInterval(kDebugLogIntervalMs);
    cmdTimer = named(new QTimer(this), "cmdTimer");
    cmdTimer->setInterval(kCmdTimerIntervalMs);
}

void Tmain_window::create_file_dialogs() {
    const auto make = [this](FileDialog which) {
        const FileDialogSettingsText& t = file_dialog_settings(which);
        return new FileDialogSettings(this, t.name, t.filter, t.default_suffix, t.file_name);
    };
    OpenFirmwareDialog = make(FileDialog::OpenFirmwareDialog);
    SaveFirmwareDialog = make(FileDialog::SaveFirmwareDialog);
    EEDump = make(FileDialog::EEDump);
    ScriptLogDialog = make(FileDialog::ScriptLogDialog);
    TraceDialog = make(FileDialog::TraceDialog);
}

void Tmain_window::create_menu() {
    QMenuBar* bar = menuBar();
    bar->setObjectName("MainMenu");

    auto action = [this](QMenu* menu, const char* name, const char* caption) {
        QAction* a = menu->addAction(caption);
        a->setObjectName(name);
        return a;
    };
    File = named(bar->addMenu("&File"), "File");
    Open1 = action(File, "Open1", "&Open");
    Save = action(File, "Save", "&Save");
    Save->setEnabled(false);
    N1 = File->addSeparator();
    N1->setObjectName("N1");
    Exit1 = action(File, "Exit1", "&Exit");

    Configuration1 = named(bar->addMenu("&Configuration"), "Configuration1");
    SelectComPort1 = action(Configuration1, "SelectComPort1", "&Select Com Port");
    TraceSerialLine1 = action(Configuration1, "TraceSerialLine1", "Trace serial line\u2026");
    TraceSerialLine1->setCheckable(true);

    Edit1 = named(bar->addMenu("&Edit"), "Edit1");
    clearCommandWindow = action(Edit1, "clearCommandWindow", "clear &Command window");
    clearLogwindow = action(Edit1, "clearLogwindow", "clear &Log window");
    clearLogwindow->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));

    Help1 = named(bar->addMenu("&Help"), "Help1");
    About1 = action(Help1, "About1", "&About");
    howto1 = action(Help1, "howto1", "How to");
}

void Tmain_window::connect_handlers() {
    // Each signal calls its handler; `on` connects one without arguments.
    const auto on = [this](auto* sender, auto signal, void (WindowLogic::*handler)()) {
        connect(sender, signal, this, [this, handler] { (this->*handler)(); });
    };
    connect(Exit1, &QAction::triggered, this, &Tmain_window::Exit1Click);
    on(SelectComPort1, &QAction::triggered, &WindowLogic::SelectComPort1Click);
    // Only the user's click: unchecking it from code after a failure must not
    // run the handler again.
    on(TraceSerialLine1, &QAction::triggered, &WindowLogic::TraceSerialLine1Click);
    on(clearCommandWindow, &QAction::triggered, &WindowLogic::clearCommandWindowClick);
    on(clearLogwindow, &QAction::triggered, &WindowLogic::clearLogwindowClick);
    connect(About1, &QAction::triggered, this, &Tmain_window::About1Click);
    connect(howto1, &QAction::triggered, this, &Tmain_window::howto1Click);
    on(disconnectComCheckBox, &QCheckBox::toggled, &WindowLogic::disconnectComCheckBoxClick);

    on(BtnCmd, &QPushButton::clicked, &WindowLogic::BtnCmdClick);
    on(cmbCommand, &QComboBox::editTextChanged, &WindowLogic::cmbCommandChange);
    on(cmbCommand, &QComboBox::activated, &WindowLogic::cmbCommandChange);
    cmbCommand->installEventFilter(this);

    on(test_con_Btn, &QPushButton::clicked, &WindowLogic::test_con_BtnClick);
    on(poll, &QCheckBox::toggled, &WindowLogic::pollClick);
    on(poll_timer, &QTimer::timeout, &WindowLogic::poll_timerTimer);
    on(MotorID, &QComboBox::currentTextChanged, &WindowLogic::MotorIDChange);
    on(DebugLogCheckBox, &QCheckBox::toggled, &WindowLogic::DebugLogCheckBoxClick);
    on(DebugLogTimer, &QTimer::timeout, &WindowLogic::DebugLogTimerTimer);

    on(Open1, &QAction::triggered, &WindowLogic::Open1Click);
    on(Save, &QAction::triggered, &WindowLogic::SaveClick);
    on(PageControl, &QTabWidget::currentChanged, &WindowLogic::PageControlChange);
    on(ActionBtn, &QPushButton::clicked, &WindowLogic::cmbCommandkeydown);
    on(AutoFlashButton, &QPushButton::clicked, &WindowLogic::AutoFlashButtonClick);
    on(ClearEepromButton, &QPushButton::clicked, &WindowLogic::ClearEepromButtonClick);
    on(btnDumpEEProm, &QPushButton::clicked, &WindowLogic::btnDumpEEPromClick);
    on(btnCoreDump, &QPushButton::clicked, &WindowLogic::btnCoreDumpClick);
    on(btnBootCrash, &QPushButton::clicked, &WindowLogic::btnBootCrashClick);
    on(cmdTimer, &QTimer::timeout, &WindowLogic::cmdTimerTimer);
}
