// Opening and saving documents, and the action button that follows the tab.

#include <fstream>

#include "firmware/documents.h"
#include "window/window_logic.h"
#include "window/window_texts.h"

void WindowLogic::Open1Click() {
    const auto path = view_.choose_file(FileDialog::OpenFirmwareDialog);
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
            view_.set_lines(Ctl::Firmware_View, *lines);
            FirmwareFileName = *path;
            view_.set_current_page(0);
            if (!lines->empty()) {
                ReportHexLoad(LoadHexDocument(*firmware_image, *lines), *this);
                view_.set_enabled(Ctl::AutoFlashButton, true);
            }
            break;
        }
        case DocumentKind::Prg: {
            const auto lines = ReadPrgFile(*path, &refusal);
            if (!lines) {
                refused();
                break;
            }
            view_.set_current_page(1);
            view_.set_lines(Ctl::Java_View, *lines);
            break;
        }
        case DocumentKind::Cfg: {
            const auto lines = ReadTextLines(*path, &refusal);
            if (!lines) {
                refused();
                break;
            }
            view_.set_lines(Ctl::Config_View, *lines);
            view_.set_current_page(2);
            break;
        }
        case DocumentKind::None:
            break;
    }
    PageControlChange();
}

void WindowLogic::SaveClick() {
    const auto path = view_.choose_file(FileDialog::SaveFirmwareDialog);
    if (!path) return;
    const std::string error = SaveScript(*path, view_.lines(Ctl::Config_View));
    if (!error.empty()) message(error);
}

void WindowLogic::PageControlChange() {
    const int page = view_.current_page();
    if (page >= 0 && page < 4) view_.set_text(Ctl::ActionBtn, std::string("write ") + kPageCaptions[page]);
    const bool released = view_.checked(Ctl::disconnectComCheckBox);
    switch (page) {
        case 0:
            view_.set_enabled(Ctl::ActionBtn, view_.line_count(Ctl::Firmware_View) > 0 && !released);
            view_.set_enabled(Ctl::Save, false);
            break;
        case 1:
            view_.set_enabled(Ctl::ActionBtn, view_.line_count(Ctl::Java_View) > 0 && !released);
            view_.set_enabled(Ctl::Save, false);
            break;
        case 2:
            view_.set_enabled(Ctl::ActionBtn, !released);
            view_.set_enabled(Ctl::Save, true);
            break;
        default:
            break;
    }
}

void WindowLogic::cmbCommandkeydown() {
    switch (view_.current_page()) {
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
