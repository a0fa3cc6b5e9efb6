#pragma once
// The main window: tabs with the three documents and the dump buttons, the
// message area, and the bottom panel with the console and action controls.
// It owns the one port, the one motor command object and the firmware image,
// and it is the Reporter every routine writes its lines to. Handlers only
// read controls, call a routine under the line guard and show the result;
// they live in the window_*.cpp files by subject.

#include <QList>
#include <QMainWindow>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/line_guard.h"
#include "common/reporter.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSplitter;
class QTabWidget;
class QTimer;
class QWidget;

class Dialogs;
class TraceOperation;
class FileDialogSettings;
class TCommDialog;
class Tsoftware;
class TfrmHowTo;
class motor_com;
class serial;
struct FirmwareImage;

class Tmain_window : public QMainWindow, public Reporter {
    Q_OBJECT
public:
    explicit Tmain_window(Dialogs& dialogs, QWidget* parent = nullptr);
    ~Tmain_window() override;

    // --- Reporter ---
    void message(const std::string& line) override;
    void box(const std::string& text, const std::string& caption, BoxIcon icon) override;
    void process_events() override;
    void set_progress_min(int value) override;
    void set_progress_max(int value) override;
    void set_progress_position(int value) override;
    int progress_position() const override;
    void repaint_progress() override;
    bool ask_yes_no(const std::string& text, const std::string& caption) override;
    // True once the window is closing: an operation that lets events run
    // ends rather than go on from a window nobody sees.
    bool stop_requested() const override { return closing_; }

    static constexpr int kPollIntervalMs = 10;

    // --- state shared by the subsystems ---
    std::string PortName;
    bool CommandListLoaded = false;
    std::string FirmwareFileName;
    std::string ScriptLogName;
    bool ScriptRepeating = false;
    std::unique_ptr<FirmwareImage> firmware_image;
    LineGuard Guard;

    serial& port() { return *port_; }
    motor_com& motor() { return *motor_; }
    Dialogs& dialogs() { return dialogs_; }

    // Takes a port name chosen in the port dialog.
    void SetComPort(const std::string& name);

    // How an action wants the serial line.
    enum class LineUse {
        Click,  // refused while another click's action holds the line
        Tick,   // a background tick: skipped while the line is taken
    };
    // Runs `action` holding the line guard as `who`. A tick that finds the
    // line taken skips its turn. A click that arrives while a background tick
    // lets events run waits until the tick is over and then runs; a click that
    // arrives while another click's action runs is refused with a "Busy: "
    // line. Returns whether the action ran now.
    bool on_line(const std::string& who, LineUse use, const std::function<void()>& action);

    // --- the other windows, created once with this one ---
    TCommDialog* CommDialog = nullptr;
    Tsoftware* software = nullptr;
    TfrmHowTo* frmHowTo = nullptr;

    // --- controls ---
    QTabWidget* PageControl = nullptr;
    QWidget* FirmwareTab = nullptr;
    QWidget* JavaTab = nullptr;
    QWidget* ConfigTab = nullptr;
    QWidget* tabMaintenance = nullptr;
    QPlainTextEdit* Firmware_View = nullptr;
    QPlainTextEdit* Java_View = nullptr;
    QPlainTextEdit* Config_View = nullptr;
    QWidget* Panel1 = nullptr;
    QCheckBox* LogSendCheckBox = nullptr;
    QCheckBox* RepeatCheckBox = nullptr;
    QCheckBox* saveLogCheckBox = nullptr;
    QPushButton* btnDumpEEProm = nullptr;
    QPushButton* btnCoreDump = nullptr;
    QPushButton* btnBootCrash = nullptr;
    QSplitter* Splitter1 = nullptr;
    QProgressBar* ProgressBar = nullptr;
    QPlainTextEdit* Message = nullptr;
    QWidget* BottomPanel = nullptr;
    QComboBox* cmbCommand = nullptr;
    QPushButton* BtnCmd = nullptr;
    QLabel* Label1 = nullptr;
    QComboBox* MotorID = nullptr;
    QPushButton* test_con_Btn = nullptr;
    QCheckBox* poll = nullptr;
    QCheckBox* DebugLogCheckBox = nullptr;
    QCheckBox* chkClearOnSend = nullptr;
    QCheckBox* chkUSBCompatibility = nullptr;
    QPushButton* ActionBtn = nullptr;
    QPushButton* ClearEepromButton = nullptr;
    QPushButton* AutoFlashButton = nullptr;
    QCheckBox* disconnectComCheckBox = nullptr;

    QMenu* File = nullptr;
    QAction* Open1 = nullptr;
    QAction* Save = nullptr;
    QAction* N1 = nullptr;
    QAction* Exit1 = nullptr;
    QMenu* Configuration1 = nullptr;
    QAction* SelectComPort1 = nullptr;
    QAction* TraceSerialLine1 = nullptr;
    QMenu* Edit1 = nullptr;
    QAction* clearCommandWindow = nullptr;
    QAction* clearLogwindow = nullptr;
    QMenu* Help1 = nullptr;
    QAction* About1 = nullptr;
    QAction* howto1 = nullptr;

    QTimer* poll_timer = nullptr;
    QTimer* DebugLogTimer = nullptr;
    QTimer* cmdTimer = nullptr;

    FileDialogSettings* OpenFirmwareDialog = nullptr;
    FileDialogSettings* SaveFirmwareDialog = nullptr;
    FileDialogSettings* EEDump = nullptr;

    // --- handlers ---
    void FormShow();
    void Exit1Click();
    void disconnectComCheckBoxClick();
    void SelectComPort1Click();
    void TraceSerialLine1Click();
    void About1Click();
    void howto1Click();

    void BtnCmdClick();
    void cmbCommandKeyPress(char key);
    void cmbCommandChange();
    void clearCommandWindowClick();
    void clearLogwindowClick();

    void test_con_BtnClick();
    void pollClick();
    void poll_timerTimer();
    void MotorIDChange();
    void DebugLogCheckBoxClick();
    void DebugLogTimerTimer();

    void Open1Click();
    void SaveClick();
    void PageControlChange();
    void cmbCommandkeydown();  // OnClick of ActionBtn
    void AutoFlashButtonClick();
    void ClearEepromButtonClick();
    void btnDumpEEPromClick();
    void btnCoreDumpClick();
    void btnBootCrashClick();
    void cmdTimerTimer();

    // The file dialog of the script log.
    FileDialogSettings* ScriptLogDialog = nullptr;
    // The file dialog of the wire trace.
    FileDialogSettings* TraceDialog = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    void FormDestroy();
    void create_controls();
    void create_pages();
    void create_config_page();
    void create_message_area();
    void create_bottom_panel();
    void create_timers();
    void create_file_dialogs();
    void create_menu();
    void connect_handlers();
    void send_command(bool run_events);
    void keep_typed_text(const std::function<void()>& change_list);
    void write_firmware();
    void upload_program();
    void run_script();
    void dump(int first, int last);
    void select_port_in_dialog();
    void set_progress_range(int min, int max);
    std::string motor_text() const;
    // The verdict of the operation under way, for its end in the wire trace.
    void operation_result(bool ok);
    // Ends the wire trace and unchecks its menu item; `say_so` tells where it is.
    void stop_trace(bool say_so);

    Dialogs& dialogs_;
    std::unique_ptr<serial> port_;
    std::unique_ptr<motor_com> motor_;
    bool shown_before_ = false;
    bool closing_ = false;
    bool tick_on_line_ = false;
    TraceOperation* operation_ = nullptr;
    struct Deferred {
        std::string who;
        std::function<void()> action;
    };
    std::deque<Deferred> deferred_;
};

// The controls the port release switches off and back on, in that order.
QList<QWidget*> release_controls(const Tmain_window& window);

// The lines of a text view, and replacing them; an empty view has no lines.
std::vector<std::string> view_lines(const QPlainTextEdit* view);
void set_view_lines(QPlainTextEdit* view, const std::vector<std::string>& lines);

// Latin-1 both ways: the line carries 8-bit text, and no byte may be lost
// between a control and the wire.
std::string to_bytes(const QString& text);
QString from_bytes(const std::string& bytes);
