// The command console: sending a command, the command list, clearing views.

#include <QComboBox>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <vector>

#include "app/main_window.h"
#include "motor/console.h"

namespace {

const char* const kCommandListFile = "commlist.txt";

}  // namespace

void Tmain_window::send_command(bool run_events) {
    on_line("the command console", LineUse::Click, [this, run_events] {
        send_console_command(*port_, *motor_, *this, to_bytes(cmbCommand->currentText()),
                             run_events);
        if (chkClearOnSend->isChecked()) cmbCommand->setEditText(QString());
    });
}

void Tmain_window::BtnCmdClick() { send_command(true); }

void Tmain_window::cmbCommandKeyPress(char key) {
    // Enter sends without letting events run while stale bytes are dropped.
    if (key == '\r') send_command(false);
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

void Tmain_window::cmbCommandChange() {
    std::vector<std::string> entries;
    entries.reserve(static_cast<std::size_t>(cmbCommand->count()));
    for (int i = 0; i < cmbCommand->count(); ++i) entries.push_back(to_bytes(cmbCommand->itemText(i)));

    switch (keep_command_list(entries, CommandListLoaded, to_bytes(cmbCommand->currentText()),
                              kCommandListFile)) {
        case ListChange::None:
            break;
        case ListChange::Appended:
            keep_typed_text([&] { cmbCommand->addItem(from_bytes(entries.back())); });
            break;
        case ListChange::Replaced:
            keep_typed_text([&] {
                cmbCommand->clear();
                for (const std::string& e : entries) cmbCommand->addItem(from_bytes(e));
            });
            break;
    }
}

void Tmain_window::keep_typed_text(const std::function<void()>& change_list) {
    // Changing the list may move the selection and with it the text; the user
    // is typing, so the text and the cursor in it stay where they are.
    const QSignalBlocker quiet(cmbCommand);
    QLineEdit* edit = cmbCommand->lineEdit();
    const QString typed = edit->text();
    const int cursor = edit->cursorPosition();
    change_list();
    if (edit->text() != typed) edit->setText(typed);
    edit->setCursorPosition(cursor);
}

void Tmain_window::clearCommandWindowClick() {
    switch (PageControl->currentIndex()) {
        case 0:
            ActionBtn->setEnabled(false);
            Firmware_View->clear();
            break;
        case 1:
            ActionBtn->setEnabled(false);
            Java_View->clear();
            break;
        case 2:
            ActionBtn->setEnabled(!disconnectComCheckBox->isChecked());
            Config_View->clear();
            break;
        default:
            break;
    }
}

void Tmain_window::clearLogwindowClick() { Message->clear(); }
