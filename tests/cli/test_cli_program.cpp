// The real `kfu` program: what it links, its exit codes, and Ctrl+C in the
// middle of a firmware write.

#include <fcntl.h>
#include <sys/file.h>
#include <termios.h>

#include <cstdio>
#include <memory>

#include "bootloader/bootloader_support.h"
#include "cli_support.h"
#include "sim/sim.h"

namespace {

std::string Shell(const std::string& command) {
    std::string text;
    if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe)) text += buffer;
        ::pclose(pipe);
    }
    return text;
}

termios LineSettings(const std::string& path) {
    termios t{};
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    if (fd >= 0) {
        ::tcgetattr(fd, &t);
        ::close(fd);
    }
    return t;
}

void SetLineSettings(const std::string& path, speed_t speed, bool canonical) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0) return;
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
    if (canonical) t.c_lflag |= ICANON;
    ::tcsetattr(fd, TCSANOW, &t);
    ::close(fd);
}

TEST(Program, LinksNoWindowLibrary) {
    const std::string libraries = Shell(std::string("ldd ") + KFU_PROGRAM);
    ASSERT_NE(libraries.find("libc.so"), std::string::npos) << libraries;
    EXPECT_EQ(libraries.find("Qt"), std::string::npos) << libraries;
    EXPECT_EQ(libraries.find("libX"), std::string::npos) << libraries;
}

TEST(Program, ExitCodesOfTheRealProgram) {
    SimController sim;
    EXPECT_EQ(KfuProcess({"send", "-p", sim.path(), "VER"}).finish().exit_code, 0);
    EXPECT_EQ(KfuProcess({"send", "VER"}).finish().exit_code, 2);
    EXPECT_EQ(KfuProcess({"send", "-p", "/nonexistent/ttyZ", "VER"}).finish().exit_code, 3);
    EXPECT_EQ(KfuProcess({"upload", "-p", sim.path(), "/nonexistent/p.prg"}).finish().exit_code, 4);
    const KfuRun version = KfuProcess({"--version"}).finish();
    EXPECT_EQ(version.exit_code, 0);
    EXPECT_FALSE(version.out.empty());
}

TEST(Program, DoctorNamesTheProcessHoldingThePort) {
    SimController sim;
    const int holder = ::open(sim.path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    const KfuRun run = KfuProcess({"doctor", "-p", sim.path()}).finish();
    ::close(holder);
    EXPECT_EQ(run.exit_code, 3);
    EXPECT_NE(run.out.find("held by process " + std::to_string(::getpid()) + " ("),
              std::string::npos)
        << run.out;
}

TEST(Program, CtrlCStopsAWriteRestoresThePortAndExitsNonZero) {
    TempDir dir;
    FirmwareImage image;
    FillImage(image);
    Program(image, 0, 0x2B000);
    const std::string hex = dir.file("full.hex");
    WriteLines(hex, HexLinesOf(image));

    SimConfig config;
    config.start_in_bootloader = true;
    config.pace_baud = 115200;  // a full write then takes about twelve seconds
    SimController sim(config);
    SetLineSettings(sim.path(), B9600, true);
    const termios before = LineSettings(sim.path());

    // Acknowledgements come after a whole paced frame, so the read waits longer.
    KfuProcess kfu({"flash", "-p", sim.path(), "--timeout", "250", hex});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (sim.frames().size() < 3 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_GE(sim.frames().size(), 3u);
    const auto interrupted = std::chrono::steady_clock::now();
    kfu.signal(SIGINT);
    const KfuRun run = kfu.finish(std::chrono::seconds(30));
    const auto took = std::chrono::steady_clock::now() - interrupted;

    EXPECT_EQ(run.exit_code, 130) << run.out << run.err;
    // Generous: a block in flight and its acknowledgement, on a loaded machine.
    EXPECT_LT(took, std::chrono::seconds(5));
    EXPECT_LT(sim.frames().size(), 40u);
    EXPECT_EQ(run.out.find("Firmware successfully written"), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("stopped"), std::string::npos) << run.err;
    EXPECT_NE(run.out.find("Stopped: the firmware write was interrupted, the firmware on the "
                           "controller is incomplete\n"),
              std::string::npos)
        << run.out;

    const termios after = LineSettings(sim.path());
    EXPECT_EQ(::cfgetospeed(&after), ::cfgetospeed(&before));
    EXPECT_EQ(after.c_lflag & ICANON, before.c_lflag & ICANON);
}

}  // namespace
