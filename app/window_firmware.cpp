// The bootloader actions: firmware write, AutoFlash, Clear EEPROM and the
// program upload, with what they read from the window and the port dialog.

#include <QCheckBox>
#include <QComboBox>
#include <QPlainTextEdit>

#include "app/comm_dialog.h"
#include "app/main_window.h"
#include "bootloader/bootloader.h"

namespace {

class WindowBootloaderContext : public BootloaderContext {
public:
    explicit WindowBootloaderContext(Tmain_window& w) : w_(w) {}

    std::string motor_id_text() const override { return to_bytes(w_.MotorID->currentText()); }
    bool usb_compatibility() const override { return w_.chkUSBCompatibility->isChecked(); }
    std::vector<std::string> firmware_lines() const override {
        return view_lines(w_.Firmware_View);
    }
    void replace_firmware_lines(const std::vector<std::string>& lines) override {
        set_view_lines(w_.Firmware_View, lines);
    }
    std::string firmware_file_name() const override { return w_.FirmwareFileName; }
    bool bootloader_baud() const override {
        return w_.CommDialog->BootloaderBaudCheckBox->isChecked();
    }
    std::string baudrate_text() const override {
        return to_bytes(w_.CommDialog->BaudrateComboBox->currentText());
    }
    void switch_off_debug_log() override {
        if (w_.DebugLogCheckBox->isChecked()) w_.DebugLogCheckBox->setChecked(false);
    }
    std::vector<std::string> java_lines() const override { return view_lines(w_.Java_View); }

private:
    Tmain_window& w_;
};

}  // namespace

void Tmain_window::write_firmware() {
    on_line("the firmware write", LineUse::Click, [this] {
        WindowBootloaderContext context(*this);
        operation_result(FirmwareWriteAllowed(*firmware_image, *this) &&
                         WriteFirmware(*port_, *firmware_image, *this, context));
        context.switch_off_debug_log();
    });
}

void Tmain_window::upload_program() {
    on_line("the program upload", LineUse::Click, [this] {
        WindowBootloaderContext context(*this);
        operation_result(UploadProgram(*port_, *motor_, *this, context));
    });
}

void Tmain_window::AutoFlashButtonClick() {
    on_line("AutoFlash", LineUse::Click, [this] {
        WindowBootloaderContext context(*this);
        ::AutoFlashButtonClick(*port_, *motor_, *firmware_image, *this, context);
    });
}

void Tmain_window::ClearEepromButtonClick() {
    on_line("Clear EEPROM", LineUse::Click, [this] {
        WindowBootloaderContext context(*this);
        ::ClearEepromButtonClick(*port_, *this, context);
    });
}
