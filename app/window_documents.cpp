// Opening and saving documents, and the action button that follows the tab.

#include <QAction>
#include <QCheckBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTextBlock>
#include <fstream>

#include "app/dialogs.h"
#include "app/main_window.h"
#include "firmware/documents.h"

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

void Tmain_window::Open1Click() {
    const auto path = dialogs_.open_file(this, *OpenFirmwareDialog);
    if (!path) return;
    if (!std::ifstream(*path, std::ios::binary)) return;

    // A file refused for its size leaves the views, the tab and the image
    // as they were; the refusal is the one line the user sees.
    std::string refusal;
    const auto refused = [&] {
        if (!refusal.empty()) message(refusal);
    };
    switch (KindOfFile(*path)) {
        case DocumentKind::Hex: {
            const auto lines = ReadTextLines(*path, &refusal);
            if (!lines) {
                refused();
                break;
            }
            set_view_lines(Firmware_View, *lines);
            FirmwareFileName = *path;
            PageControl->setCurrentWidget(FirmwareTab);
            if (!lines->empty()) {
                ReportHexLoad(LoadHexDocument(*firmware_image, *lines), *this);
                AutoFlashButton->setEnabled(true);
            }
            break;
        }
        case DocumentKind::Prg: {
            const auto lines = ReadPrgFile(*path, &refusal);
            if (!lines) {
                refused();
                break;
            }
            PageControl->setCurrentWidget(JavaTab);
            set_view_lines(Java_View, *lines);
            break;
        }
        case DocumentKind::Cfg: {
            const auto lines = ReadTextLines(*path, &refusal);
            if (!lines) {
                refused();
                break;
            }
            set_view_lines(Config_View, *lines);
            PageControl->setCurrentWidget(ConfigTab);
            break;
        }
        case DocumentKind::None:
            break;
    }
    PageControlChange();
}

void Tmain_window::SaveClick() {
    const auto path = dialogs_.save_file(this, *SaveFirmwareDialog);
    if (!path) return;
    const std::string error = SaveScript(*path, view_lines(Config_View));
    if (!error.empty()) message(error);
}

void Tmain_window::PageControlChange() {
    const int page = PageControl->currentIndex();
    ActionBtn->setText("write " + PageControl->tabText(page).remove('&'));
    const bool released = disconnectComCheckBox->isChecked();
    switch (page) {
        case 0:
            ActionBtn->setEnabled(!Firmware_View->document()->isEmpty() && !released);
            Save->setEnabled(false);
            break;
        case 1:
            ActionBtn->setEnabled(!Java_View->document()->isEmpty() && !released);
            Save->setEnabled(false);
            break;
        case 2:
            ActionBtn->setEnabled(!released);
            Save->setEnabled(true);
            break;
        default:
            break;
    }
}

void Tmain_window::cmbCommandkeydown() {
    switch (PageControl->currentIndex()) {
        case 0:
            write_firmware();
            break;
        case 1:
            upload_program();
            break;
        case 2:
            run_script();
            break;
        default:
            break;
    }
}
