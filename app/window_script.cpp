// Running the configuration script from the Configuration tab.

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QEventLoop>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTimer>

#include "app/comm_dialog.h"
#include "app/dialogs.h"
#include "app/main_window.h"
#include "script/script.h"

namespace {

class WindowScriptHost : public QObject, public ScriptHost {
public:
    explicit WindowScriptHost(Tmain_window& w) : w_(w) { w_.installEventFilter(this); }
    ~WindowScriptHost() override { w_.removeEventFilter(this); }

    // Closing the window ends the program, but only once this handler has
    // returned; a repeating run would otherwise go on talking to the
    // controllers from a window nobody sees, and the program would never end.
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &w_ && event->type() == QEvent::Close) {
            closed_ = true;
            if (wait_) wait_->quit();
        }
        return false;
    }

    int line_count() override {
        // A closed window has no script left: the run ends at the next line.
        if (closed_) return 0;
        const QTextDocument* doc = w_.Config_View->document();
        return doc->isEmpty() ? 0 : doc->blockCount();
    }
    std::string line(int index) override {
        return to_bytes(w_.Config_View->document()->findBlockByNumber(index).text());
    }
    bool save_log_checked() override { return w_.saveLogCheckBox->isChecked(); }
    bool log_send_checked() override { return w_.LogSendCheckBox->isChecked(); }
    bool repeat_checked() override { return !closed_ && w_.RepeatCheckBox->isChecked(); }

    void set_motor_id_text(const std::string& text) override {
        const QString shown = from_bytes(text);
        // An unchanged text emits no change signal; the handling runs all the same.
        if (w_.MotorID->currentText() == shown) {
            w_.MotorIDChange();
        } else {
            w_.MotorID->setEditText(shown);
        }
    }
    std::string timeout_box_text() override {
        return to_bytes(w_.CommDialog->TimeoutComboBox->currentText());
    }
    std::optional<std::string> ask_log_file_name() override {
        return w_.dialogs().save_file(&w_, *w_.ScriptLogDialog);
    }
    void wait_cmd_timer(int ms) override {
        QEventLoop wait;
        const auto fired =
            QObject::connect(w_.cmdTimer, &QTimer::timeout, &wait, &QEventLoop::quit);
        w_.cmdTimer->setInterval(ms);
        w_.cmdTimer->start();
        wait_ = &wait;
        if (!closed_) wait.exec();
        wait_ = nullptr;
        QObject::disconnect(fired);
        // Cut short by the closing window: the timer is left as its own
        // handler would leave it.
        if (w_.cmdTimer->isActive()) w_.cmdTimerTimer();
    }

private:
    Tmain_window& w_;
    QEventLoop* wait_ = nullptr;
    bool closed_ = false;
};

}  // namespace

void Tmain_window::run_script() {
    on_line("the script", LineUse::Click, [this] {
        WindowScriptHost host(*this);
        ScriptRunner runner(*port_, *motor_, *this, host);
        runner.ScriptLogName = ScriptLogName;
        runner.ScriptRepeating = ScriptRepeating;
        runner.RunConfigScript(0);
        ScriptLogName = runner.ScriptLogName;
        ScriptRepeating = runner.ScriptRepeating;
    });
}

void Tmain_window::cmdTimerTimer() {
    cmdTimer->stop();
    cmdTimer->setInterval(100);
}
