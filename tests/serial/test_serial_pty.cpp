// The serial class over real pseudo-terminals.

#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/resource.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "pty.h"
#include "serial/serial.h"
#include "support/recorder.h"

namespace {

using Clock = std::chrono::steady_clock;

long elapsed_ms(Clock::time_point since) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

long cpu_ms() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000L +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000L;
}

// Whether the slave currently carries the exclusive flag: an ordinary user is
// refused as busy, root gets in and may ask.
int exclusive_flag(const std::string& slave) {
    const int fd = ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0 && errno == EBUSY) return 1;
    int flag = -1;
    if (fd >= 0 && ioctl(fd, TIOCGEXCL, &flag) != 0) flag = -1;
    if (fd >= 0) ::close(fd);
    return flag;
}

class SerialPty : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(pty.ok()); }
    Pty pty;
    Recorder rec;
    serial port{rec, pty.path(), 100};
};

TEST_F(SerialPty, OpensLazilyAndDeliversBytesIntact) {
    EXPECT_FALSE(port.is_open());
    std::string frame = "#1A\r";
    for (int b = 0; b < 256; ++b) frame += static_cast<char>(b);
    EXPECT_EQ(port.write(frame.data(), frame.size()), static_cast<int>(frame.size()));
    EXPECT_TRUE(port.is_open());
    EXPECT_EQ(pty.receive(frame.size()), frame);
    EXPECT_EQ(port.write("", 0), 0);
    EXPECT_TRUE(rec.lines.empty());
}

TEST_F(SerialPty, ShortReadWaitsTotalTimeoutAndZeroFillsTheRest) {
    ASSERT_EQ(port.write("", 0), 0);
    pty.send("abcd");
    std::uint8_t buf[10];
    std::memset(buf, 0xAA, sizeof buf);
    const auto start = Clock::now();
    EXPECT_EQ(port.read(buf, 10), 4);
    const long ms = elapsed_ms(start);
    EXPECT_GE(ms, 190);  // 10 * 10 + 100
    EXPECT_LT(ms, 800);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 4), "abcd");
    for (int i = 4; i < 10; ++i) EXPECT_EQ(buf[i], 0) << i;
}

TEST_F(SerialPty, QuietReadReturnsZeroWithoutLineAndWithoutSpinning) {
    port.set_timeout(300);
    char c = 'x';
    ASSERT_EQ(port.read(&c, 0), 0);  // opens
    const long cpu_before = cpu_ms();
    const auto start = Clock::now();
    EXPECT_EQ(port.read(&c, 1), 0);
    EXPECT_GE(elapsed_ms(start), 300);
    EXPECT_LT(cpu_ms() - cpu_before, 30);
    EXPECT_EQ(c, 0);
    EXPECT_TRUE(rec.lines.empty());
}

TEST_F(SerialPty, ReadsCountBytesOfALongLineWithoutCarriageReturn) {
    ASSERT_EQ(port.write("", 0), 0);
    std::string noise;
    for (int i = 0; i < 300; ++i) noise += static_cast<char>((i * 37) & 0xFF);
    pty.send(noise);
    std::string got;
    char buf[100];
    for (int i = 0; i < 3; ++i) {
        const auto start = Clock::now();
        ASSERT_EQ(port.read(buf, sizeof buf), 100);
        EXPECT_LT(elapsed_ms(start), 500);  // full reads do not wait for the time-out
        got.append(buf, 100);
    }
    EXPECT_EQ(got, noise);
    EXPECT_EQ(port.read(buf, 1), 0);
}

TEST_F(SerialPty, SettingChangesCloseAndGiveTheLineBackAsFound) {
    termios found = pty.attrs();
    cfsetispeed(&found, B9600);
    cfsetospeed(&found, B9600);
    found.c_lflag |= ICANON | ECHO;
    found.c_iflag |= IXON | ICRNL;
    pty.set_attrs(found);

    ASSERT_EQ(port.write("", 0), 0);
    termios mine = pty.attrs();
    EXPECT_EQ(cfgetospeed(&mine), B115200);
    EXPECT_EQ(mine.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(mine.c_iflag & (IXON | IXOFF | ICRNL), 0u);
    EXPECT_EQ(mine.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), static_cast<tcflag_t>(CS8));
    EXPECT_EQ(exclusive_flag(pty.path()), 1);

    port.set_baud(19200);
    EXPECT_FALSE(port.is_open());
    termios back = pty.attrs();
    EXPECT_EQ(cfgetospeed(&back), B9600);
    EXPECT_EQ(back.c_lflag & (ICANON | ECHO), found.c_lflag & (ICANON | ECHO));
    EXPECT_EQ(back.c_iflag, found.c_iflag);
    EXPECT_EQ(exclusive_flag(pty.path()), 0);

    char c;
    EXPECT_EQ(port.read(&c, 1), 0);
    EXPECT_TRUE(port.is_open());
    mine = pty.attrs();
    EXPECT_EQ(cfgetospeed(&mine), B19200);
    port.set_port(pty.path());
    EXPECT_FALSE(port.is_open());
    EXPECT_TRUE(rec.lines.empty());
}

TEST_F(SerialPty, RatesWithoutConstantOpenAndRateZeroIsRefused) {
    port.set_baud(250000);
    EXPECT_EQ(port.write("ok", 2), 2);
    EXPECT_EQ(pty.receive(2), "ok");

    port.set_baud(0);
    EXPECT_EQ(port.write("no", 2), -1);
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_EQ(rec.boxes[0].text, "Unable to set Com state");
    EXPECT_EQ(rec.boxes[0].caption, "Error");
    EXPECT_EQ(rec.lines, std::vector<std::string>{"Error: Unable toset Com state"});
    EXPECT_FALSE(port.is_open());
}

TEST_F(SerialPty, FlushInputDiscardsStaleBytesAndKeepsTheTimeout) {
    ASSERT_EQ(port.write("", 0), 0);
    pty.send("stale reply\r");
    usleep(50000);
    port.flush_input();
    EXPECT_TRUE(port.is_open());
    EXPECT_EQ(port.get_timeout(), 100u);
    char c;
    EXPECT_EQ(port.read(&c, 1), 0);
    pty.send("N");
    EXPECT_EQ(port.read(&c, 1), 1);
    EXPECT_EQ(c, 'N');
}

TEST_F(SerialPty, SecondUserIsRefusedAsBusy) {
    ASSERT_EQ(port.write("", 0), 0);
    Recorder rec2;
    serial other(rec2, pty.path(), 100);
    EXPECT_EQ(other.write("x", 1), -1);
    ASSERT_EQ(rec2.lines.size(), 2u);
    EXPECT_EQ(rec2.lines[0], "Error: Unable to open Com port " + pty.path());
    EXPECT_NE(rec2.lines[1].find("busy"), std::string::npos);
    port.close();
    EXPECT_EQ(other.write("x", 1), 1);
}

TEST_F(SerialPty, VanishedFarEndFailsAfterOneRetry) {
    ASSERT_EQ(port.write("", 0), 0);
    pty.hang_up();
    char buf[4];
    auto start = Clock::now();
    EXPECT_EQ(port.read(buf, 4), -1);
    EXPECT_LT(elapsed_ms(start), 1500);
    ASSERT_GE(rec.lines.size(), 2u);
    EXPECT_EQ(rec.lines.front(), "Warning: Re-Opening Com port while reading");
    EXPECT_EQ(rec.lines.back().rfind("Error: ", 0), 0u);

    Pty fresh;
    ASSERT_TRUE(fresh.ok());
    Recorder rec2;
    serial port2(rec2, fresh.path(), 100);
    ASSERT_EQ(port2.write("", 0), 0);
    fresh.hang_up();
    start = Clock::now();
    EXPECT_EQ(port2.write("#1A\r", 4), -1);
    EXPECT_LT(elapsed_ms(start), 1500);
    ASSERT_GE(rec2.lines.size(), 2u);
    EXPECT_EQ(rec2.lines.front(), "Warning: Re-Opening Com port while writing");
    EXPECT_EQ(rec2.lines.back(), "Error: Unable to write to Com portxxx");
}

TEST(SerialNames, DeviceNames) {
    EXPECT_EQ(serial::device_name("ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(serial::device_name("/dev/pts/4"), "/dev/pts/4");
    EXPECT_EQ(serial::device_name("sim/port"), "sim/port");
}

TEST(SerialNames, UnopenableNamesGiveOneExactLineAndMinusOne) {
    const auto file = std::filesystem::temp_directory_path() / "kfu_serial_not_a_tty";
    std::ofstream(file) << "keep me";
    for (const std::string& name :
         {std::string("ttyKFUmissing"), std::string("my port"), std::string(".."), std::string(""),
          std::string(4000, 'a'), file.string()}) {
        Recorder rec;
        serial port(rec, name, 100);
        EXPECT_EQ(port.write("x", 1), -1) << name;
        EXPECT_EQ(port.read(nullptr, 0), -1) << name;
        ASSERT_EQ(rec.lines.size(), 2u) << name;
        EXPECT_EQ(rec.lines[0], "Error: Unable to open Com port " + serial::device_name(name));
        EXPECT_TRUE(rec.boxes.empty());
        EXPECT_FALSE(port.is_open());
    }
    std::ifstream in(file);
    std::string content;
    std::getline(in, content);
    EXPECT_EQ(content, "keep me");
    std::filesystem::remove(file);
}

TEST(SerialNames, ReleasedNameStaysClosedSilently) {
    Recorder rec;
    serial port(rec, "0", 100);
    port.open();
    EXPECT_FALSE(port.is_open());
    char c;
    EXPECT_EQ(port.write("x", 1), -1);
    EXPECT_EQ(port.read(&c, 1), -1);
    const auto start = Clock::now();
    port.flush_input();
    EXPECT_LT(elapsed_ms(start), 50);
    EXPECT_TRUE(rec.lines.empty());
    EXPECT_TRUE(rec.boxes.empty());
}

}  // namespace
