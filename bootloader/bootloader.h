#pragma once
// Programming a controller through its bootloader: the firmware write,
// AutoFlash, clearing the EEPROM and uploading a controller program.
//
// The routines run inside the main window's click handlers. They read the
// window's controls through `BootloaderContext` at the moment they need
// them (a write lets events run between blocks, so the user may change a
// box meanwhile) and report only through `Reporter`.

#include <optional>
#include <string>
#include <vector>

#include "bootloader/write_plan.h"
#include "common/reporter.h"
#include "firmware/flashmem.h"

class serial;
class motor_com;

// What the routines need from the main window and its port dialog.
class BootloaderContext {
public:
    virtual ~BootloaderContext() = default;

    virtual std::string motor_id_text() const = 0;                // MotorID, as typed
    virtual bool usb_compatibility() const = 0;                   // chkUSBCompatibility
    virtual std::vector<std::string> firmware_lines() const = 0;  // Firmware_View
    virtual void replace_firmware_lines(const std::vector<std::string>& lines) = 0;
    virtual std::string firmware_file_name() const = 0;  // FirmwareFileName
    virtual bool bootloader_baud() const = 0;            // BootloaderBaudCheckBox
    virtual std::string baudrate_text() const = 0;       // BaudrateComboBox
    // Unchecks DebugLogCheckBox when it is checked, which stops the debug log.
    virtual void switch_off_debug_log() = 0;
    virtual std::vector<std::string> java_lines() const = 0;  // Java_View
    // The write found a bootloader of `version` (the two characters of its
    // reply) that takes `mode` (none: a version no mode is known for). The
    // window has no use for it.
    virtual void bootloader_found(const std::string& version, std::optional<WriteMode> mode) {
        (void)version;
        (void)mode;
    }
};

// Whether the loaded image may be written at all; called before anything
// is sent. An image without program data is refused with one line (writing
// it would only erase the controller). When lines of the HEX file could not
// be read, the user is asked; No, the default, refuses with one line. The
// question is not asked again for the same unreadable lines as `accepted`.
bool FirmwareWriteAllowed(const FirmwareImage& image, Reporter& out,
                          const HexLoadReport* accepted = nullptr);

// Writes the firmware to the controller whose bootloader is running, in the
// mode its version asks for. True when every block (or line) that was sent
// was acknowledged, which "Firmware successfully written" reports; data the
// mode does not send (the bootloader's own memory) gives a warning line
// before it. False after an error or a stop, which the last line tells.
bool WriteFirmware(serial& port, const FirmwareImage& image, Reporter& out,
                   BootloaderContext& window);

// Starts the bootloader of the running controller, reloads the HEX file
// from disk, writes it, restarts the controller and puts its baud-rate
// setting back. The port ends at the rate it had before (or the rate of
// the dialog's baud-rate box when the bootloader speed switch is on). A file
// that FirmwareWriteAllowed refuses is refused before anything is sent.
// True when the bootloader started and the write succeeded.
bool AutoFlashButtonClick(serial& port, motor_com& motor, FirmwareImage& image, Reporter& out,
                          BootloaderContext& window);

// Sends "~" to the selected motor and waits about five seconds for its
// acknowledgement; ends with "OK" or "FAILED" (or the stop line). True on
// "OK".
bool ClearEepromButtonClick(serial& port, Reporter& out, BootloaderContext& window);

// Sends the lines of the Java view to the selected motor, each echoed back
// exactly, between "(JS" and "(JI". False when an echo did not match or
// the upload was stopped; "(JI" is then not sent.
bool UploadProgram(serial& port, motor_com& motor, Reporter& out, BootloaderContext& window);
