#include "app/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTextBlock>
#include <QTimer>

#include "app/comm_dialog.h"
#include "app/dialogs.h"
#include "app/howto_dlg.h"
#include "app/software_dlg.h"
#include "window/window_texts.h"

std::string to_bytes(const QString& text) { return text.toLatin1().toStdString(); }

QString from_bytes(const std::string& bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QList<QWidget*> release_controls(const Tmain_window& w) {
    QList<QWidget*> controls;
    for (Ctl c : kReleaseControls) controls.append(w.widget(c));
    return controls;
}

std::vector<std::string> view_lines(const QPlainTextEdit* view) {
    std::vector<std::string> lines;
    const QTextDocument* doc = view->document();
    if (doc->isEmpty()) return lines;
    lines.reserve(static_cast<std::size_t>(doc->blockCount()));
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) lines.push_back(to_bytes(b.text()));
    return lines;
}

void set_view_lines(QPlainTextEdit* view, const std::vector<std::string>& lines) {
    QStringList text;
    text.reserve(static_cast<qsizetype>(lines.size()));
    for (const std::string& line : lines) text.append(from_bytes(line));
    view->setPlainText(text.join('\n'));
}

Tmain_window::Tmain_window(Dialogs& dialogs, QWidget* parent)
    : QMainWindow(parent), WindowLogic(static_cast<WindowView&>(*this)), dialogs_(dialogs) {
    setObjectName("main_window");
    setWindowTitle(kWindowCaption);
    create_controls();
    create_menu();
    FormCreate();
    connect_handlers();

    CommDialog = new TCommDialog(*this);
    software = new Tsoftware(this);
    frmHowTo = new TfrmHowTo(this);

    const QSize client(521, 573);
    resize(client.width(), client.height() + menuBar()->sizeHint().height());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

Tmain_window::~Tmain_window() {
    // A window destroyed while on the screen is closed by the base class,
    // which moves the focus, and the controls would signal their handlers on
    // a window already half gone.
    cmbCommand->removeEventFilter(this);
    for (QObject* child : findChildren<QObject*>())
        QObject::disconnect(child, nullptr, this, nullptr);
    FormDestroy();
}

void Tmain_window::showEvent(QShowEvent* event) {
    const bool first = window_shown();
    QMainWindow::showEvent(event);
    // After the window is on the screen, so the modal dialog has its owner
    // to sit on.
    if (first) QTimer::singleShot(0, this, [this] { FormShow(); });
}

void Tmain_window::closeEvent(QCloseEvent* event) {
    // The program ends only when the handler under way returns, so that
    // handler has to be told.
    window_closing();
    if (cmd_wait_) cmd_wait_->quit();
    QMainWindow::closeEvent(event);
}

bool Tmain_window::eventFilter(QObject* watched, QEvent* event) {
    // The keys arrive at the combo box itself: it keeps the focus for its line
    // edit and hands keys on to it directly, past the line edit's filters.
    if (watched == cmbCommand && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) cmbCommandKeyPress('\r');
    }
    return QMainWindow::eventFilter(watched, event);
}

void Tmain_window::Exit1Click() { close(); }

void Tmain_window::About1Click() {
    software->show();
    software->raise();
    software->activateWindow();
}

void Tmain_window::howto1Click() {
    frmHowTo->show();
    frmHowTo->raise();
    frmHowTo->activateWindow();
}

// --- WindowView ---

QWidget* Tmain_window::widget(Ctl control) const {
    switch (control) {
        case Ctl::cmbCommand: return cmbCommand;
        case Ctl::BtnCmd: return BtnCmd;
        case Ctl::chkClearOnSend: return chkClearOnSend;
        case Ctl::MotorID: return MotorID;
        case Ctl::test_con_Btn: return test_con_Btn;
        case Ctl::poll: return poll;
        case Ctl::DebugLogCheckBox: return DebugLogCheckBox;
        case Ctl::chkUSBCompatibility: return chkUSBCompatibility;
        case Ctl::ActionBtn: return ActionBtn;
        case Ctl::ClearEepromButton: return ClearEepromButton;
        case Ctl::AutoFlashButton: return AutoFlashButton;
        case Ctl::disconnectComCheckBox: return disconnectComCheckBox;
        case Ctl::Firmware_View: return Firmware_View;
        case Ctl::Java_View: return Java_View;
        case Ctl::Config_View: return Config_View;
        case Ctl::LogSendCheckBox: return LogSendCheckBox;
        case Ctl::RepeatCheckBox: return RepeatCheckBox;
        case Ctl::saveLogCheckBox: return saveLogCheckBox;
        case Ctl::ComPortComboBox: return CommDialog->ComPortComboBox;
        case Ctl::BaudrateComboBox: return CommDialog->BaudrateComboBox;
        case Ctl::TimeoutComboBox: return CommDialog->TimeoutComboBox;
        case Ctl::BootloaderBaudCheckBox: return CommDialog->BootloaderBaudCheckBox;
        case Ctl::Save:
        case Ctl::TraceSerialLine1: break;
    }
    return nullptr;
}

QComboBox* Tmain_window::combo(Ctl control) const { return qobject_cast<QComboBox*>(widget(control)); }

QPlainTextEdit* Tmain_window::view_of(Ctl control) const {
    return qobject_cast<QPlainTextEdit*>(widget(control));
}

QTimer* Tmain_window::timer(Timer t) const {
    switch (t) {
        case Timer::poll_timer: return poll_timer;
        case Timer::DebugLogTimer: return DebugLogTimer;
        case Timer::cmdTimer: return cmdTimer;
    }
    return nullptr;
}

// Port names are file names, in the system's encoding; everything else is
// the line's 8-bit text.
std::string Tmain_window::text(Ctl control) const {
    if (control == Ctl::ComPortComboBox) return combo(control)->currentText().toStdString();
    if (QComboBox* c = combo(control)) return to_bytes(c->currentText());
    if (auto* b = qobject_cast<QPushButton*>(widget(control))) return to_bytes(b->text());
    return {};
}

void Tmain_window::set_text(Ctl control, const std::string& text) {
    if (control == Ctl::ComPortComboBox) {
        combo(control)->setEditText(QString::fromStdString(text));
    } else if (QComboBox* c = combo(control)) {
        c->setEditText(from_bytes(text));
    } else if (auto* b = qobject_cast<QPushButton*>(widget(control))) {
        b->setText(from_bytes(text));
    }
}

bool Tmain_window::checked(Ctl control) const {
    if (control == Ctl::TraceSerialLine1) return TraceSerialLine1->isChecked();
    auto* box = qobject_cast<QCheckBox*>(widget(control));
    return box && box->isChecked();
}

void Tmain_window::set_checked(Ctl control, bool on) {
    if (control == Ctl::TraceSerialLine1) {
        TraceSerialLine1->setChecked(on);
    } else if (auto* box = qobject_cast<QCheckBox*>(widget(control))) {
        box->setChecked(on);
    }
}

void Tmain_window::set_enabled(Ctl control, bool enabled) {
    if (control == Ctl::Save) {
        Save->setEnabled(enabled);
    } else if (control == Ctl::TraceSerialLine1) {
        TraceSerialLine1->setEnabled(enabled);
    } else {
        widget(control)->setEnabled(enabled);
    }
}

std::vector<std::string> Tmain_window::items(Ctl control) const {
    const QComboBox* c = combo(control);
    const bool file_names = control == Ctl::ComPortComboBox;
    std::vector<std::string> list;
    list.reserve(static_cast<std::size_t>(c->count()));
    for (int i = 0; i < c->count(); ++i) {
        list.push_back(file_names ? c->itemText(i).toStdString() : to_bytes(c->itemText(i)));
    }
    return list;
}

void Tmain_window::set_items(Ctl control, const std::vector<std::string>& list) {
    QComboBox* c = combo(control);
    const bool file_names = control == Ctl::ComPortComboBox;
    c->clear();
    for (const std::string& item : list) {
        c->addItem(file_names ? QString::fromStdString(item) : from_bytes(item));
    }
}

void Tmain_window::select_item(Ctl control, int index) { combo(control)->setCurrentIndex(index); }

void Tmain_window::set_command_list(const std::vector<std::string>& list) {
    // Changing the list may move the selection and with it the text; the user
    // is typing, so the text and the cursor in it stay where they are.
    const QSignalBlocker quiet(cmbCommand);
    QLineEdit* edit = cmbCommand->lineEdit();
    const QString typed = edit->text();
    const int cursor = edit->cursorPosition();
    // The usual change appends one entry; only a list read from the file
    // replaces the whole.
    const int kept = cmbCommand->count();
    bool appended = list.size() >= static_cast<std::size_t>(kept);
    for (int i = 0; appended && i < kept; ++i) {
        appended = to_bytes(cmbCommand->itemText(i)) == list[static_cast<std::size_t>(i)];
    }
    if (!appended) cmbCommand->clear();
    for (std::size_t i = appended ? static_cast<std::size_t>(kept) : 0; i < list.size(); ++i) {
        cmbCommand->addItem(from_bytes(list[i]));
    }
    if (edit->text() != typed) edit->setText(typed);
    edit->setCursorPosition(cursor);
}

int Tmain_window::line_count(Ctl control) const {
    const QTextDocument* doc = view_of(control)->document();
    return doc->isEmpty() ? 0 : doc->blockCount();
}

std::string Tmain_window::line(Ctl control, int index) const {
    return to_bytes(view_of(control)->document()->findBlockByNumber(index).text());
}

std::vector<std::string> Tmain_window::lines(Ctl control) const { return view_lines(view_of(control)); }

void Tmain_window::set_lines(Ctl control, const std::vector<std::string>& list) {
    if (list.empty()) {
        view_of(control)->clear();
    } else {
        set_view_lines(view_of(control), list);
    }
}

void Tmain_window::append_message(const std::string& line) {
    const std::u16string shown = shown_line(line);
    Message->appendPlainText(QString::fromUtf16(shown.data(), static_cast<qsizetype>(shown.size())));
}

void Tmain_window::clear_messages() { Message->clear(); }

int Tmain_window::current_page() const { return PageControl->currentIndex(); }

void Tmain_window::set_current_page(int page) { PageControl->setCurrentIndex(page); }

int Tmain_window::progress_minimum() const { return ProgressBar->minimum(); }
int Tmain_window::progress_maximum() const { return ProgressBar->maximum(); }
void Tmain_window::set_progress_range(int min, int max) { ProgressBar->setRange(min, max); }
int Tmain_window::progress_value() const { return ProgressBar->value(); }
void Tmain_window::set_progress_value(int value) { ProgressBar->setValue(value); }
void Tmain_window::repaint_progress_bar() { ProgressBar->repaint(); }

void Tmain_window::start_timer(Timer t, int interval_ms) { timer(t)->start(interval_ms); }
void Tmain_window::stop_timer(Timer t) { timer(t)->stop(); }
bool Tmain_window::timer_active(Timer t) const { return timer(t)->isActive(); }
int Tmain_window::timer_interval(Timer t) const { return timer(t)->interval(); }
void Tmain_window::set_timer_interval(Timer t, int interval_ms) { timer(t)->setInterval(interval_ms); }

void Tmain_window::wait_cmd_timer(int interval_ms) {
    QEventLoop wait;
    const auto fired = QObject::connect(cmdTimer, &QTimer::timeout, &wait, &QEventLoop::quit);
    cmdTimer->setInterval(interval_ms);
    cmdTimer->start();
    cmd_wait_ = &wait;
    if (!stop_requested()) wait.exec();
    cmd_wait_ = nullptr;
    QObject::disconnect(fired);
}

void Tmain_window::let_events_run() { QCoreApplication::processEvents(); }

bool Tmain_window::shift_held() const {
    return QGuiApplication::queryKeyboardModifiers() & Qt::ShiftModifier;
}

void Tmain_window::show_box(const std::string& text, const std::string& caption, BoxIcon icon,
                            BoxOwner owner) {
    QWidget* on = owner == BoxOwner::PortDialog ? static_cast<QWidget*>(CommDialog) : this;
    dialogs_.box(on, text, caption, icon);
}

bool Tmain_window::ask_question(const std::string& text, const std::string& caption) {
    return dialogs_.ask_yes_no(this, text, caption);
}

std::optional<std::string> Tmain_window::choose_file(FileDialog dialog) {
    FileDialogSettings* settings[] = {OpenFirmwareDialog, SaveFirmwareDialog, EEDump,
                                      ScriptLogDialog, TraceDialog};
    FileDialogSettings& s = *settings[static_cast<int>(dialog)];
    return file_dialog_settings(dialog).open ? dialogs_.open_file(this, s)
                                             : dialogs_.save_file(this, s);
}

void Tmain_window::show_port_dialog(bool modal) {
    if (modal) {
        dialogs_.run_modal(*CommDialog);
        return;
    }
    CommDialog->show();
    CommDialog->raise();
    CommDialog->activateWindow();
}
