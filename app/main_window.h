#pragma once
// The main window's Qt face: the tabs with the three documents and the dump
// buttons, the message area, and the bottom panel with the console and
// action controls. What the window does lives in WindowLogic; this class
// builds the controls, turns Qt's signals into the logic's handlers and
// implements WindowView over its widgets.

#include <QList>
#include <QMainWindow>
#include <string>
#include <vector>

#include "window/window_logic.h"
#include "window/window_view.h"

class QAction;
class QCheckBox;
class QComboBox;
class QEventLoop;
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
class FileDialogSettings;
class TCommDialog;
class Tsoftware;
class TfrmHowTo;

class Tmain_window : public QMainWindow, public WindowView, public WindowLogic {
    Q_OBJECT
public:
    explicit Tmain_window(Dialogs& dialogs, QWidget* parent = nullptr);
    ~Tmain_window() override;

    Dialogs& dialogs() { return dialogs_; }

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

    // The file dialog of the script log.
    FileDialogSettings* ScriptLogDialog = nullptr;
    // The file dialog of the wire trace.
    FileDialogSettings* TraceDialog = nullptr;

    // --- the handlers that are about this face only ---
    void Exit1Click();
    void About1Click();
    void howto1Click();

    // --- WindowView ---
    std::string text(Ctl control) const override;
    void set_text(Ctl control, const std::string& text) override;
    bool checked(Ctl control) const override;
    void set_checked(Ctl control, bool checked) override;
    void set_enabled(Ctl control, bool enabled) override;
    std::vector<std::string> items(Ctl combo) const override;
    void set_items(Ctl combo, const std::vector<std::string>& items) override;
    void select_item(Ctl combo, int index) override;
    void set_command_list(const std::vector<std::string>& items) override;
    int line_count(Ctl view) const override;
    std::string line(Ctl view, int index) const override;
    std::vector<std::string> lines(Ctl view) const override;
    void set_lines(Ctl view, const std::vector<std::string>& lines) override;
    void append_message(const std::string& line) override;
    void clear_messages() override;
    int current_page() const override;
    void set_current_page(int page) override;
    int progress_minimum() const override;
    int progress_maximum() const override;
    void set_progress_range(int min, int max) override;
    int progress_value() const override;
    void set_progress_value(int value) override;
    void repaint_progress_bar() override;
    void start_timer(Timer timer, int interval_ms) override;
    void stop_timer(Timer timer) override;
    bool timer_active(Timer timer) const override;
    int timer_interval(Timer timer) const override;
    void set_timer_interval(Timer timer, int interval_ms) override;
    void wait_cmd_timer(int interval_ms) override;
    void let_events_run() override;
    bool shift_held() const override;
    void show_box(const std::string& text, const std::string& caption, BoxIcon icon,
                  BoxOwner owner) override;
    bool ask_question(const std::string& text, const std::string& caption) override;
    std::optional<std::string> choose_file(FileDialog dialog) override;
    void show_port_dialog(bool modal) override;

    // The widget that shows `control` (null for the menu items).
    QWidget* widget(Ctl control) const;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void create_controls();
    void create_pages();
    void create_config_page();
    void create_message_area();
    void create_bottom_panel();
    void create_timers();
    void create_file_dialogs();
    void create_menu();
    void connect_handlers();
    QComboBox* combo(Ctl control) const;
    QPlainTextEdit* view_of(Ctl control) const;
    QTimer* timer(Timer t) const;

    Dialogs& dialogs_;
    QEventLoop* cmd_wait_ = nullptr;
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
