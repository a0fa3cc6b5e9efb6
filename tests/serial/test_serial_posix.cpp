// What a refused open tells the user on Linux, for the reasons the kernel
// gives.

#include <gtest/gtest.h>

#include <cerrno>

#include "scripted_backend.h"
#include "serial/serial.h"
#include "support/recorder.h"

namespace {

TEST(SerialOpenRefusal, KernelReasonsGiveTheirAdvice) {
    const struct {
        int error;
        const char* advice;  // a word of the second line, or nullptr for none
    } cases[] = {{EACCES, "dialout"}, {EPERM, "dialout"}, {EBUSY, "busy"}, {ENOENT, nullptr}};
    for (const auto& c : cases) {
        Script s;
        s.open_error = c.error;
        Recorder rec;
        serial port(rec, "ttyUSB0", 100, std::make_unique<ScriptedBackend>(s));
        EXPECT_EQ(port.write("x", 1), -1);
        ASSERT_FALSE(rec.lines.empty());
        EXPECT_EQ(rec.lines[0], "Error: Unable to open Com port /dev/ttyUSB0");
        EXPECT_EQ(s.calls, std::vector<std::string>{"open"});
        if (c.advice == nullptr) {
            EXPECT_EQ(rec.lines.size(), 1u) << c.error;
            continue;
        }
        ASSERT_EQ(rec.lines.size(), 2u) << c.error;
        EXPECT_NE(rec.lines[1].find(c.advice), std::string::npos) << rec.lines[1];
    }
}

}  // namespace
