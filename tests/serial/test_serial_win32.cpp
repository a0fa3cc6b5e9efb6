// The Windows side of the serial layer: port names, what a refused open
// tells the user, the line settings and deadlines handed to the driver, and
// the port list read from the registry.

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "scripted_backend.h"
#include "serial/port_list_win32.h"
#include "serial/serial.h"
#include "serial/serial_win32.h"
#include "support/recorder.h"

namespace {

TEST(Win32Names, PortNamesMeanDevicesOfTheWin32Namespace) {
    EXPECT_EQ(serial::device_name("COM5"), "\\\\.\\COM5");
    EXPECT_EQ(serial::device_name("com12"), "\\\\.\\com12");
    EXPECT_EQ(serial::device_name("\\\\.\\CNCA0"), "\\\\.\\CNCA0");
}

TEST(Win32Open, WindowsReasonsGiveTheLinuxLines) {
    const struct {
        DWORD error;
        bool busy;
    } cases[] = {{ERROR_ACCESS_DENIED, true},
                 {ERROR_SHARING_VIOLATION, true},
                 {ERROR_BUSY, true},
                 {ERROR_FILE_NOT_FOUND, false},
                 {ERROR_BAD_DEVICE, false}};
    for (const auto& c : cases) {
        Script s;
        s.open_error = static_cast<int>(c.error);
        Recorder rec;
        serial port(rec, "COM5", 100, std::make_unique<ScriptedBackend>(s));
        EXPECT_EQ(port.write("x", 1), -1);
        ASSERT_FALSE(rec.lines.empty());
        EXPECT_EQ(rec.lines[0], "Error: Unable to open Com port \\\\.\\COM5");
        if (c.busy) {
            ASSERT_EQ(rec.lines.size(), 2u) << c.error;
            EXPECT_EQ(rec.lines[1], "  \\\\.\\COM5 is busy: another program has it open.");
        } else {
            EXPECT_EQ(rec.lines.size(), 1u) << c.error;
        }
        EXPECT_TRUE(rec.boxes.empty());
    }
}

TEST(Win32Open, TheSystemsReasonReadsAsPartOfALine) {
    EXPECT_EQ(classify_open_error(ERROR_FILE_NOT_FOUND), OpenRefusal::missing);
    const std::string text = open_error_text(ERROR_FILE_NOT_FOUND);
    ASSERT_FALSE(text.empty());
    // The caller ends the line; the system's ".\r\n" must not.
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
    EXPECT_NE(text.back(), '.') << text;
    EXPECT_EQ(open_error_text(0x2FFFFFFF), "error 805306367");
}

TEST(Win32Open, MissingPortsAndDevicesThatAreNoSerialLineAreRefused) {
    // COM255 is not there; NUL and the console are character devices but no
    // serial line, so they fail at the first configuration step.
    for (const char* name : {"COM255", "no such port"}) {
        Recorder rec;
        serial port(rec, name, 100);
        char c = 0;
        EXPECT_EQ(port.read(&c, 1), -1) << name;
        EXPECT_EQ(rec.lines, std::vector<std::string>{"Error: Unable to open Com port " +
                                                      serial::device_name(name)});
        EXPECT_TRUE(rec.boxes.empty());
        EXPECT_FALSE(port.is_open());
    }
    Recorder rec;
    serial port(rec, "NUL", 100);
    EXPECT_EQ(port.write("x", 1), -1);
    EXPECT_FALSE(port.is_open());
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_EQ(rec.boxes[0].caption, "Error");
    ASSERT_EQ(rec.lines.size(), 1u);
    EXPECT_EQ(rec.lines[0].rfind("Error: Unable to", 0), 0u) << rec.lines[0];
}

TEST(Win32Line, EightNOneWithoutFlowControlAndTheDriversDtr) {
    DCB dcb;
    std::memset(&dcb, 0xFF, sizeof dcb);
    dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
    configure_line(dcb, 57600);
    EXPECT_EQ(dcb.DCBlength, sizeof(DCB));
    EXPECT_EQ(dcb.BaudRate, 57600u);
    EXPECT_EQ(dcb.fBinary, 1u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(dcb.fParity, 0u);
    // Any of these left on would hold back or eat bytes of a binary frame.
    EXPECT_EQ(dcb.fOutxCtsFlow | dcb.fOutxDsrFlow | dcb.fDsrSensitivity | dcb.fOutX | dcb.fInX |
                  dcb.fErrorChar | dcb.fNull | dcb.fAbortOnError | dcb.fTXContinueOnXoff,
              0u);
    EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_DISABLE));
    EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_HANDSHAKE));
    EXPECT_EQ(dcb.XonLim, 0);
    EXPECT_EQ(dcb.XoffLim, 0);
    EXPECT_EQ(dcb.ErrorChar | dcb.EofChar | dcb.EvtChar, 0);
    // The driver refuses equal XON and XOFF characters.
    EXPECT_NE(dcb.XonChar, dcb.XoffChar);
}

TEST(Win32Deadlines, TheDriverEndsEachReadAndWriteAtTheCallersDeadline) {
    COMMTIMEOUTS t{};
    set_read_deadline(t, 1, 110);
    EXPECT_EQ(t.ReadIntervalTimeout, 0u);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 10u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 100u);
    set_read_deadline(t, 7, 170);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 10u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 100u);

    // 0/0/0 would block until bytes come; a zero deadline must return now.
    set_read_deadline(t, 256, 0);
    EXPECT_EQ(t.ReadIntervalTimeout, MAXDWORD);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 0u);

    // Deadlines shorter than 10 ms a byte, or counts whose product would
    // overflow the driver's 32 bits, keep their total.
    set_read_deadline(t, 100, 40);
    EXPECT_EQ(t.ReadIntervalTimeout, 0u);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 40u);
    set_read_deadline(t, MAXDWORD, 2000);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 2000u);

    set_write_deadline(t, 3, 80);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 10u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 50u);
    // Both write values 0 would mean no time-out at all.
    set_write_deadline(t, 5, 0);
    EXPECT_NE(t.WriteTotalTimeoutMultiplier + t.WriteTotalTimeoutConstant, 0u);
    // The read half is left alone by the write half and the other way round.
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 2000u);
}

class RegisteredPorts : public ::testing::Test {
protected:
    const std::string subkey = "Software\\KorvaneFirmwareUtilityTest\\SERIALCOMM";
    HKEY key = nullptr;

    void SetUp() override {
        RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\KorvaneFirmwareUtilityTest");
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, subkey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        if (key) RegCloseKey(key);
        RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\KorvaneFirmwareUtilityTest");
    }
    void put(const std::string& device, const std::string& data, DWORD type = REG_SZ,
             bool with_zero = true) {
        ASSERT_EQ(RegSetValueExA(key, device.c_str(), 0, type,
                                 reinterpret_cast<const BYTE*>(data.c_str()),
                                 static_cast<DWORD>(data.size() + (with_zero ? 1 : 0))),
                  ERROR_SUCCESS);
    }
};

TEST_F(RegisteredPorts, NaturalOrderEachNameOnceOnlyPortNames) {
    put("\\Device\\Serial11", "COM12");
    put("\\Device\\Serial6", "COM7");
    put("\\Device\\Serial0", "COM1");
    put("\\Device\\VCP0", "COM2", REG_SZ, false);  // stored without its zero
    put("\\Device\\Serial6b", "COM7");
    put("\\Device\\Empty", "");
    put("\\Device\\Long", std::string(300, 'C'));
    put("\\Device\\Number", "COM9", REG_BINARY);
    put(std::string(400, 'D'), "COM30");  // an unusually long device name
    EXPECT_EQ(list_registered_ports(HKEY_CURRENT_USER, subkey),
              (std::vector<std::string>{"COM1", "COM2", "COM7", "COM12", "COM30"}));
    EXPECT_TRUE(list_registered_ports(HKEY_CURRENT_USER, subkey + "\\none").empty());
}

}  // namespace
