#include "app/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTabWidget>
#include <QTimer>
#include <vector>

#include "app/comm_dialog.h"
#include "app/dialogs.h"
#include "app/howto_dlg.h"
#include "app/software_dlg.h"
#include "common/int_text.h"
#include "common/version.h"
#include "firmware/flashmem.h"
#include "motor/console.h"
#include "motor/motor_com.h"
#include "serial/serial.h"
#include "serial/wire_trace.h"

namespace {

// The operations' names in the wire trace, by the name the line guard knows
// them by.
std::string trace_name(const std::string& who) {
    static const struct {
        const char* who;
        const char* name;
    } kNames[] = {
        {"the command console", "console"},
        {"the connection test", "test"},
        {"polling", "poll"},
        {"the debug log", "debug-log"},
        {"the firmware write", "write"},
        {"AutoFlash", "autoflash"},
        {"Clear EEPROM", "clear"},
        {"the program upload", "upload"},
        {"the script", "script"},
        {"the dump", "dump"},
    };
    for (const auto& n : kNames) {
        if (who == n.who) return n.name;
    }
    return who;
}

}  // namespace

std::string to_bytes(const QString& text) { return text.toLatin1().toStdString(); }

QString from_bytes(const std::string& bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QList<QWidget*> release_controls(const Tmain_window& w) {
    return {w.cmbCommand,       w.BtnCmd,    w.test_con_Btn,      w.poll,
            w.DebugLogCheckBox, w.ActionBtn, w.ClearEepromButton, w.AutoFlashButton};
}

Tmain_window::Tmain_window(Dialogs& dialogs, QWidget* parent)
    : QMainWindow(parent), firmware_image(std::make_unique<FirmwareImage>()), dialogs_(dialogs) {
    setObjectName("main_window");
    setWindowTitle("Korvane Firmware Utility 1.36");
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

void Tmain_window::FormCreate() {
    PortName = "COM1";
    Firmware_View->clear();
    Java_View->clear();
    Config_View->clear();
    Message->clear();
    cmbCommand->setEditText(QString());

    FillImage(*firmware_image);
    port_ = std::make_unique<serial>(*this, PortName, 100);
    std::vector<std::string> ports;
    port_->list_ports(ports);
    if (!ports.empty()) {
        PortName = ports.front();
        port_->set_port(PortName);
    }

    motor_ = std::make_unique<motor_com>(*port_);
    motor_->set_id(read_integer_or(to_bytes(MotorID->currentText()), 1));

    MotorID->clear();
    for (int i = 1; i <= 255; ++i) MotorID->addItem(QString::number(i));
    MotorID->addItem("*");

    cmbCommandChange();
}

void Tmain_window::FormDestroy() {
    // The motor object only refers to the port, so it goes first; the port
    // then gives the device back the settings it found.
    poll_timer->stop();
    DebugLogTimer->stop();
    cmdTimer->stop();
    motor_.reset();
    port_.reset();
}

void Tmain_window::showEvent(QShowEvent* event) {
    closing_ = false;
    QMainWindow::showEvent(event);
    if (shown_before_) return;
    shown_before_ = true;
    // After the window is on the screen, so the modal dialog has its owner
    // to sit on.
    QTimer::singleShot(0, this, &Tmain_window::FormShow);
}

void Tmain_window::closeEvent(QCloseEvent* event) {
    // The program ends only when the handler under way returns, so that
    // handler has to be told.
    closing_ = true;
    QMainWindow::closeEvent(event);
}

void Tmain_window::FormShow() {
    if (QGuiApplication::queryKeyboardModifiers() & Qt::ShiftModifier) return;
    dialogs_.run_modal(*CommDialog);
    select_port_in_dialog();
}

void Tmain_window::SelectComPort1Click() {
    CommDialog->show();
    CommDialog->raise();
    CommDialog->activateWindow();
    select_port_in_dialog();
}

void Tmain_window::select_port_in_dialog() {
    QComboBox* ports = CommDialog->ComPortComboBox;
    const QString in_use = QString::fromStdString(PortName);
    int index = ports->findText(in_use, Qt::MatchExactly | Qt::MatchCaseSensitive);
    // A port typed in by hand is not among the devices listed; without it the
    // box would come up empty, and OK would take the empty name.
    if (index < 0) {
        ports->addItem(in_use);
        index = ports->count() - 1;
    }
    ports->setCurrentIndex(index);
}

void Tmain_window::SetComPort(const std::string& name) {
    PortName = name;
    port_->set_port(name);
}

void Tmain_window::Exit1Click() { close(); }

void Tmain_window::disconnectComCheckBoxClick() {
    const bool released = disconnectComCheckBox->isChecked();
    for (QWidget* control : release_controls(*this)) control->setEnabled(!released);
    port_->set_port(released ? "0" : PortName);
}

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

bool Tmain_window::on_line(const std::string& who, LineUse use,
                           const std::function<void()>& action) {
    if (Guard.busy()) {
        if (use == LineUse::Tick) return false;
        if (tick_on_line_) {
            deferred_.push_back({who, action});
        } else {
            message("Busy: " + Guard.owner() + " is still using the serial line");
        }
        return false;
    }
    {
        LineGuard::Hold hold(Guard, who);
        TraceOperation operation(*port_, trace_name(who));
        // Reset even when the action throws, and before the operation ends: a
        // tick flag left set would have every later click that meets a busy
        // line wait for it instead of being refused.
        struct Reset {
            Tmain_window& w;
            ~Reset() {
                w.tick_on_line_ = false;
                w.operation_ = nullptr;
            }
        } reset{*this};
        if (operation.active()) operation_ = &operation;
        tick_on_line_ = use == LineUse::Tick;
        action();
    }
    if (port_->trace() && port_->trace()->failed()) stop_trace(false);
    while (!deferred_.empty() && !Guard.busy()) {
        Deferred next = std::move(deferred_.front());
        deferred_.pop_front();
        on_line(next.who, LineUse::Click, next.action);
    }
    return true;
}

std::string Tmain_window::motor_text() const { return to_bytes(MotorID->currentText()); }

void Tmain_window::operation_result(bool ok) {
    if (operation_) operation_->set_result(ok);
}

void Tmain_window::TraceSerialLine1Click() {
    if (!TraceSerialLine1->isChecked()) {
        stop_trace(true);
        return;
    }
    const std::optional<std::string> name = dialogs_.save_file(this, *TraceDialog);
    if (!name) {
        TraceSerialLine1->setChecked(false);
        return;
    }
    std::string error;
    std::shared_ptr<WireTrace> trace = WireTrace::start(
        *name, {std::string("korvane-util ") + kfu_version, this, WireTrace::kPartBytes}, error);
    if (!trace) {
        TraceSerialLine1->setChecked(false);
        const std::string text = "Could not create the trace file " + *name + ": " + error;
        message("Error: " + text);
        box(text, "Error", BoxIcon::Error);
        return;
    }
    port_->set_trace(std::move(trace));
    message("Trace: recording the serial line in " + *name);
}

void Tmain_window::stop_trace(bool say_so) {
    const std::shared_ptr<WireTrace> trace = port_->trace();
    port_->set_trace(nullptr);
    TraceSerialLine1->setChecked(false);
    if (!trace || !say_so) return;
    message("Trace: ended; the serial line's trace is in " + trace->path() +
            (trace->part() > 1 ? " and its numbered parts" : ""));
}

// --- Reporter ---

void Tmain_window::message(const std::string& line) {
    if (operation_) operation_->set_text(line);
    // A CR or LF inside a line (a poll request, a reply shown as received)
    // would otherwise break it in two, and a NUL could end it; they are
    // shown as their symbols.
    QString shown = from_bytes(line);
    shown.replace(QChar('\r'), QChar(0x240D))
        .replace(QChar('\n'), QChar(0x240A))
        .replace(QChar(0), QChar(0x2400));
    Message->appendPlainText(shown);
}

void Tmain_window::box(const std::string& text, const std::string& caption, BoxIcon icon) {
    dialogs_.box(this, text, caption, icon);
}

void Tmain_window::process_events() { QCoreApplication::processEvents(); }

void Tmain_window::set_progress_min(int value) {
    set_progress_range(value, std::max(value, ProgressBar->maximum()));
}

void Tmain_window::set_progress_max(int value) {
    set_progress_range(std::min(value, ProgressBar->minimum()), value);
}

void Tmain_window::set_progress_range(int min, int max) {
    // The bar turns 0..0 into an endless busy animation; a job with nothing
    // to do (an empty script or program) shows an empty bar instead.
    ProgressBar->setRange(min, min == 0 && max == 0 ? 1 : max);
}

void Tmain_window::set_progress_position(int value) { ProgressBar->setValue(value); }

int Tmain_window::progress_position() const { return ProgressBar->value(); }

void Tmain_window::repaint_progress() { ProgressBar->repaint(); }

bool Tmain_window::ask_yes_no(const std::string& text, const std::string& caption) {
    return dialogs_.ask_yes_no(this, text, caption);
}
