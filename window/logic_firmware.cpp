// The bootloader actions: firmware write, AutoFlash, Clear EEPROM and the
// program upload, with what they read from the window and the port dialog.

#include "bootloader/bootloader.h"
#include "window/window_logic.h"

namespace {

class WindowBootloaderContext : public BootloaderContext {
public:
    WindowBootloaderContext(WindowView& view, const std::string& file_name)
        : view_(view), file_name_(file_name) {}

    std::string motor_id_text() const override { return view_.text(Ctl::MotorID); }
    bool usb_compatibility() const override { return view_.checked(Ctl::chkUSBCompatibility); }
    std::vector<std::string> firmware_lines() const override {
        return view_.lines(Ctl::Firmware_View);
    }
    void replace_firmware_lines(const std::vector<std::string>& lines) override {
        view_.set_lines(Ctl::Firmware_View, lines);
    }
    std::string firmware_file_name() const override { return file_name_; }
    bool bootloader_baud() const override { return view_.checked(Ctl::BootloaderBaudCheckBox); }
    std::string baudrate_text() const override { return view_.text(Ctl::BaudrateComboBox); }
    void switch_off_debug_log() override {
        // Unchecked from code the box runs no handler, so its timer is
        // stopped here as its click would.
        if (view_.checked(Ctl::DebugLogCheckBox)) {
            view_.set_checked(Ctl::DebugLogCheckBox, false);
            view_.stop_timer(Timer::DebugLogTimer);
        }
    }
    std::vector<std::string> java_lines() const override { return view_.lines(Ctl::Java_View); }

private:
    WindowView& view_;
    // Read when it is needed: a file opened meanwhile is the one reloaded.
    const std::string& file_name_;
};

}  // namespace

void WindowLogic::write_firmware() {
    on_line("the firmware write", LineUse::Click, [this] {
        WindowBootloaderContext context(view_, FirmwareFileName);
        operation_result(FirmwareWriteAllowed(*firmware_image, *this) &&
                         WriteFirmware(*port_, *firmware_image, *this, context));
        context.switch_off_debug_log();
    });
}

void WindowLogic::upload_program() {
    on_line("the program upload", LineUse::Click, [this] {
        WindowBootloaderContext context(view_, FirmwareFileName);
        operation_result(UploadProgram(*port_, *motor_, *this, context));
    });
}

void WindowLogic::AutoFlashButtonClick() {
    on_line("AutoFlash", LineUse::Click, [this] {
        WindowBootloaderContext context(view_, FirmwareFileName);
        ::AutoFlashButtonClick(*port_, *motor_, *firmware_image, *this, context);
    });
}

void WindowLogic::ClearEepromButtonClick() {
    on_line("Clear EEPROM", LineUse::Click, [this] {
        WindowBootloaderContext context(view_, FirmwareFileName);
        ::ClearEepromButtonClick(*port_, *this, context);
    });
}
