// The simulator seen from a raw descriptor on its pty: what the tool's own
// tests cannot observe (frame parsing, resynchronisation, pacing, faults).

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/version.h"
#include "firmware/flashmem.h"
#include "sim/sim.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

class RawLine {
public:
    explicit RawLine(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY)) {
        termios t{};
        ::tcgetattr(fd_, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(fd_, TCSANOW, &t);
    }
    ~RawLine() {
        if (fd_ >= 0) ::close(fd_);
    }
    int fd() const { return fd_; }

    void send(const std::string& bytes) { send(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()); }
    void send(const std::uint8_t* bytes, std::size_t count) {
        while (count > 0) {
            const ssize_t n = ::write(fd_, bytes, count);
            ASSERT_GT(n, 0);
            bytes += n;
            count -= static_cast<std::size_t>(n);
        }
    }
    // Everything that arrives until `count` bytes are in or `limit` passes.
    std::string read(std::size_t count, std::chrono::milliseconds limit = 1000ms) {
        std::string got;
        const auto end = Clock::now() + limit;
        while (got.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
            if (left.count() <= 0) break;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
            char buffer[4096];
            const ssize_t n = ::read(fd_, buffer, std::min(sizeof buffer, count - got.size()));
            if (n <= 0) break;
            got.append(buffer, static_cast<std::size_t>(n));
        }
        return got;
    }
    std::string quiet(std::chrono::milliseconds wait = 60ms) { return read(4096, wait); }

private:
    int fd_;
};

std::unique_ptr<FirmwareImage> test_image() {
    auto image = std::make_unique<FirmwareImage>();
    FillImage(*image);
    // CR and '#' in the data: the frame must still end by its byte count.
    for (std::uint32_t i = 0; i < kImageSize; ++i) {
        static const std::uint8_t pattern[] = {0x0D, 0x23, 0x40, 0x3A, 0x00, 0x7F};
        image->bytes[i] = (i % 4 == 3) ? 0x00 : pattern[(i / 4 + i % 4) % 6];
    }
    return image;
}

// Bytes 2w .. 2w + 4*words - 1 of the two images agree in their data bytes.
void expect_words_equal(const std::vector<std::uint8_t>& flash, const FirmwareImage& image,
                        std::uint32_t byte_address, int words) {
    for (int w = 0; w < words; ++w) {
        for (int b = 0; b < 3; ++b) {
            const std::uint32_t at = byte_address + 4 * w + b;
            ASSERT_EQ(flash[at], image.bytes[at]) << "byte " << at;
        }
    }
}

TEST(Sim, OrdinaryCommandsReachOnlyItsMotors) {
    SimConfig config;
    config.motor_ids = {4, 12};
    SimController sim(config);
    RawLine line(sim.path());

    line.send("#12(E5\r");
    EXPECT_EQ(line.read(6), "012+5\r");
    line.send("#3(E5\r");  // nobody here is motor 3
    line.send("#004:baud\r");
    EXPECT_EQ(line.read(15), "004:baud+19200\r");
    EXPECT_EQ(line.quiet(), "");
    line.send("#*@S\r");  // all motors: the first one answers for them
    EXPECT_EQ(line.read(7), "004@OK\r");
    EXPECT_TRUE(sim.in_bootloader());

    const auto commands = sim.commands();
    ASSERT_EQ(commands.size(), 4u);
    EXPECT_EQ(commands[1].target, "3");
    EXPECT_EQ(commands[1].command, "(E5");
    EXPECT_EQ(commands[2].target, "004");
    EXPECT_EQ(sim.received(), "#12(E5\r#3(E5\r#004:baud\r#*@S\r");
}

TEST(Sim, RegistersEepromAndRestart) {
    SimConfig config;
    config.padded_ids = false;
    config.register_plus = false;
    config.restart_zero_answers = 2;
    config.eeprom_clear_delay_ms = 150;
    SimController sim(config);
    RawLine line(sim.path());

    line.send("#1:baud=57600\r");
    EXPECT_EQ(line.read(13), "1:baud=57600\r");
    line.send("#1:baud\r");
    EXPECT_EQ(line.read(12), "1:baud57600\r");
    EXPECT_EQ(sim.get_register(":baud"), 57600);

    sim.set_eeprom(7, 4096);
    line.send("#1(E7\r#1(E16384\r#1(E16385\r");
    EXPECT_EQ(line.read(15), "1+4096\r1+0\r1+0\r");

    const auto sent = Clock::now();
    line.send("#1~\r");
    EXPECT_EQ(line.read(5), "001~\r");  // padded even with plain ids
    EXPECT_GE(Clock::now() - sent, 140ms);
    EXPECT_EQ(sim.eeprom(7), 0xFF);
    EXPECT_EQ(sim.eeprom_clears(), 1);
    sim.short_eeprom_ack(true);
    line.send("#1~\r");
    EXPECT_EQ(line.read(3), "1~\r");

    line.send("#1@S\r#1@E\r");
    EXPECT_EQ(line.read(9), "1@OK\r1@E\r");
    line.send("#1i\r#1i\r#1i\r");
    EXPECT_EQ(line.read(9), "10\r10\r11\r");
}

TEST(Sim, ProgramUploadEchoAndWrongEcho) {
    SimController sim;
    RawLine line(sim.path());
    sim.wrong_echo_at(1);
    line.send("#1(JS\r#1(J10\r#1(J20\r#1(JI\r");
    EXPECT_EQ(line.read(30), "001(JS\r001(J10\r001(j20\r001(JI\r");
}

TEST(Sim, Binary1536FramesSplitIntoManyWrites) {
    SimConfig config;
    config.start_in_bootloader = true;
    SimController sim(config);
    RawLine line(sim.path());
    const auto image = test_image();

    line.send("#1 \r");
    EXPECT_EQ(line.read(7), "BLV:02\r");

    std::vector<std::uint8_t> frame;
    ASSERT_EQ(BuildDataFrame1536(*image, 1, 0x400, frame), 1544u);
    for (std::size_t at = 0; at < frame.size(); at += 7) {
        line.send(frame.data() + at, std::min<std::size_t>(7, frame.size() - at));
        if (at % 140 == 0) std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(line.read(2), "k\r");
    const auto flash = sim.flash();
    expect_words_equal(flash, *image, 0x800, 512);
    EXPECT_EQ(flash[0x800 + 3], 0x00);      // padding written as the HEX files carry it
    EXPECT_EQ(flash[0x7FF], 0xFF);          // just before the block: untouched
    EXPECT_EQ(flash[0x800 + 2048], 0xFF);   // just after it

    ASSERT_EQ(BuildClearFrame(FrameMode::Binary1536, 1, 0x400, frame), 8u);
    line.send(frame.data(), frame.size());
    EXPECT_EQ(line.read(2), "k\r");
    EXPECT_EQ(sim.flash()[0x800], 0xFF);

    const auto frames = sim.frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].kind, SimFrame::Data1536);
    EXPECT_EQ(frames[0].address, 0x400u);
    EXPECT_EQ(frames[0].length, 1544u);
    EXPECT_EQ(frames[1].kind, SimFrame::Clear1536);
    EXPECT_TRUE(frames[1].checksum_ok);
}

TEST(Sim, BadChecksumAndOtherMotorsFramesKeepTheParserInStep) {
    SimConfig config;
    config.start_in_bootloader = true;
    config.usb_cr_acks = true;
    SimController sim(config);
    RawLine line(sim.path());
    const auto image = test_image();

    std::vector<std::uint8_t> frame;
    BuildDataFrame1536(*image, 1, 0, frame);
    frame[100] ^= 0x01;
    line.send(frame.data(), frame.size());
    EXPECT_EQ(line.read(3), "\rn\r");
    EXPECT_EQ(sim.flash()[0], 0xFF);

    // A whole frame for motor 2, full of CR and '#', then one for us.
    BuildDataFrame1536(*image, 2, 0, frame);
    line.send(frame.data(), frame.size());
    BuildDataFrame1536(*image, 1, 0, frame);
    line.send(frame.data(), frame.size());
    EXPECT_EQ(line.read(3), "\rk\r");
    EXPECT_EQ(line.quiet(), "");

    const auto frames = sim.frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_FALSE(frames[0].checksum_ok);
    EXPECT_TRUE(frames[1].checksum_ok);
    expect_words_equal(sim.flash(), *image, 0, 512);
    EXPECT_TRUE(sim.commands().empty());
}

TEST(Sim, Binary96Frames) {
    SimConfig config;
    config.start_in_bootloader = true;
    config.bootloader_version = "01";
    config.motor_ids = {42};
    SimController sim(config);
    RawLine line(sim.path());
    const auto image = test_image();

    std::vector<std::uint8_t> frame;
    ASSERT_EQ(BuildDataFrame96(*image, 42, 0xFF00, frame), 104u);
    line.send(frame.data(), frame.size());
    EXPECT_EQ(line.read(2), "Y\r");
    expect_words_equal(sim.flash(), *image, 0xFF00, 32);

    BuildClearFrame(FrameMode::Binary96, 42, 0xFF00, frame);
    line.send(frame.data(), frame.size());
    EXPECT_EQ(line.read(2), "C\r");
    EXPECT_EQ(sim.flash()[0xFF00], 0xFF);
    ASSERT_EQ(sim.frames().size(), 2u);
    EXPECT_EQ(sim.frames()[1].address, 0xFF00u / 2);
}

TEST(Sim, AsciiModeLines) {
    SimConfig config;
    config.start_in_bootloader = true;
    config.bootloader_version = "4J";
    SimController sim(config);
    RawLine line(sim.path());

    line.send("#1@:0400100001020304E2\r");
    EXPECT_EQ(line.read(7), "OKLINE\r");
    EXPECT_EQ(sim.flash()[0x10], 0x01);
    EXPECT_EQ(sim.flash()[0x13], 0x04);
    line.send("#1@:00000001FF\r");
    EXPECT_EQ(line.read(7), "OKLINE\r");
    line.send("#1@:0400100001020304E3\r");
    EXPECT_EQ(line.read(4), "ERR\r");
    sim.refuse_frame(3, 'x');
    line.send("#1@:00000001FF\r");
    EXPECT_EQ(line.read(2), "x\r");

    const auto frames = sim.frames();
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames[1].line, ":00000001FF");
    EXPECT_FALSE(frames[2].checksum_ok);
}

TEST(Sim, FrameFaults) {
    SimConfig config;
    config.start_in_bootloader = true;
    SimController sim(config);
    RawLine line(sim.path());
    auto image = std::make_unique<FirmwareImage>();
    FillImage(*image);
    sim.refuse_frame(1, 'b');
    sim.garble_ack(2);
    sim.silent_after_frames(3);

    std::vector<std::uint8_t> frame;
    for (std::uint32_t w = 0; w < 4 * 1024; w += 1024) {
        BuildClearFrame(FrameMode::Binary1536, 1, w, frame);
        line.send(frame.data(), frame.size());
    }
    EXPECT_EQ(line.read(6), "k\rb\r?\r");
    EXPECT_EQ(line.quiet(), "");
    EXPECT_EQ(sim.frames().size(), 4u);
}

TEST(Sim, ReplyFaults) {
    SimController sim;
    RawLine line(sim.path());

    sim.drop_replies(1);
    line.send("#1(E1\r#1(E2\r");
    EXPECT_EQ(line.read(6), "001+2\r");

    sim.garble_replies(1);
    line.send("#1(E1\r");
    const std::string garbled = line.read(6);
    ASSERT_EQ(garbled.size(), 6u);
    EXPECT_NE(garbled, "001+1\r");
    EXPECT_EQ(garbled.back(), '\r');

    sim.split_replies(true);
    line.send("#1(E3\r");
    EXPECT_EQ(line.read(3), "001");
    EXPECT_EQ(line.read(3, 1ms), "");  // the second half is held back a few ms
    EXPECT_EQ(line.read(3), "+3\r");
    sim.split_replies(false);

    sim.never_start_bootloader(true);
    line.send("#1@S\r");
    EXPECT_EQ(line.quiet(), "");
    EXPECT_FALSE(sim.in_bootloader());

    sim.set_responder([](const std::string& c) -> std::optional<std::string> {
        if (c == "(E3") return "+77";
        return std::nullopt;
    });
    line.send("#1(E3\r#1(E4\r");
    EXPECT_EQ(line.read(13), "001+77\r001+4\r");

    sim.set_silent(true);
    line.send("#1(E4\r");
    EXPECT_EQ(line.quiet(), "");
    EXPECT_EQ(sim.commands().size(), 8u);  // still received
}

TEST(Sim, SpontaneousOutputAndLineSettings) {
    SimController sim;
    RawLine line(sim.path());
    sim.send_raw(std::string("\0dbg\n\r", 6));
    EXPECT_EQ(line.read(6), std::string("\0dbg\n\r", 6));

    sim.set_debug_every(20ms, "tick\r");
    EXPECT_EQ(line.read(15, 500ms), "tick\rtick\rtick\r");
    sim.set_debug_every(0ms, "");
    line.quiet(40ms);
    EXPECT_EQ(line.quiet(), "");

    termios t{};
    ::tcgetattr(line.fd(), &t);
    ::cfsetospeed(&t, B57600);
    ::cfsetispeed(&t, B57600);
    ::tcsetattr(line.fd(), TCSANOW, &t);
    EXPECT_EQ(sim.line_baud(), 57600u);
}

TEST(Sim, PacingKeepsToTheLineRate) {
    SimConfig config;
    config.pace_baud = 9600;  // 1.0417 ms per byte
    SimController sim(config);
    RawLine line(sim.path());

    const auto start = Clock::now();
    std::string replies;
    for (int i = 0; i < 10; ++i) {
        line.send("#1(E200\r");  // 8 bytes out, "001+200\r" 8 bytes back
        replies += line.read(8);
    }
    const auto elapsed = Clock::now() - start;
    EXPECT_EQ(replies.size(), 80u);
    const auto bound = std::chrono::microseconds(160 * 10 * 1'000'000LL / 9600);  // 166.7 ms
    EXPECT_GE(elapsed, bound * 98 / 100);  // wake-ups are aimed a little ahead
    EXPECT_LT(elapsed, bound * 3 / 2);

    // The reply follows the command's own line time and trickles in: its
    // first byte after 9 byte times, its CR after 16.
    const auto sent = Clock::now();
    line.send("#1(E200\r");
    EXPECT_EQ(line.read(1), "0");
    const auto first = Clock::now() - sent;
    EXPECT_EQ(line.read(7), "01+200\r");
    const auto last = Clock::now() - sent;
    EXPECT_GE(first, 9 * 1042us - 600us);
    EXPECT_GE(last, 16 * 1042us - 600us);
}

TEST(Sim, VanishBreaksTheLineAndStopRemovesTheLink) {
    const std::string link = ::testing::TempDir() + "kfu-sim-link-" + std::to_string(::getpid());
    SimConfig config;
    config.link_path = link;
    SimController sim(config);
    struct stat st{};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));

    RawLine line(link);
    line.send("#1(E1\r");
    EXPECT_EQ(line.read(6), "001+1\r");
    sim.vanish();
    char c;
    EXPECT_LE(::read(line.fd(), &c, 1), 0);
    EXPECT_LT(::write(line.fd(), "#1(E1\r", 6), 0);
    EXPECT_LT(::open(sim.path().c_str(), O_RDWR | O_NOCTTY), 0);

    sim.stop();
    EXPECT_NE(::lstat(link.c_str(), &st), 0);
}

// kfu-sim as a process with its stdout (or the file `stdout_path`) and its
// stderr on pipes. Never blocks past a deadline, so a program that does not end
// fails the test instead of hanging it.
class SimProgram {
public:
    explicit SimProgram(const std::vector<std::string>& args, const char* stdout_path = nullptr) {
        int out[2], err[2];
        if (::pipe(out) != 0 || ::pipe(err) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            const int target = stdout_path ? ::open(stdout_path, O_WRONLY) : out[1];
            ::dup2(target, STDOUT_FILENO);
            ::dup2(err[1], STDERR_FILENO);
            std::vector<char*> argv{const_cast<char*>("kfu-sim")};
            for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(KFU_SIM_PROGRAM, argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(err[1]);
        out_fd_ = out[0];
        err_fd_ = err[0];
    }
    ~SimProgram() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_fd_ >= 0) ::close(out_fd_);
        if (err_fd_ >= 0) ::close(err_fd_);
    }
    bool started() const { return pid_ > 0; }

    // The first line on stdout, without its line end.
    std::string out_line() {
        std::string line;
        char c;
        while (wait_readable(out_fd_) && ::read(out_fd_, &c, 1) == 1 && c != '\n') line += c;
        return line;
    }
    void terminate() const { ::kill(pid_, SIGTERM); }
    // Collects the rest of both outputs and the exit code (-1: no normal end).
    int wait() {
        if (pid_ <= 0) return -1;
        drain(out_fd_, out);
        drain(err_fd_, err);
        int status = 0;
        const pid_t ended = ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return ended > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string out, err;

private:
    static bool wait_readable(int fd) {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, 10000) == 1;
    }
    static void drain(int fd, std::string& to) {
        char buffer[4096];
        ssize_t n = 0;
        while (wait_readable(fd) && (n = ::read(fd, buffer, sizeof buffer)) > 0)
            to.append(buffer, n);
    }

    pid_t pid_ = -1;
    int out_fd_ = -1, err_fd_ = -1;
};

TEST(SimProgram, VersionAndHelpAreAnsweredOnStdoutWithoutStarting) {
    const std::string link = ::testing::TempDir() + "kfu-sim-info-" + std::to_string(::getpid());
    {
        SimProgram sim({"--link", link, "--version", "--id", "2"});
        ASSERT_TRUE(sim.started());
        EXPECT_EQ(sim.wait(), 0);
        EXPECT_EQ(sim.out, std::string("kfu-sim ") + kfu_version + "\n");
        EXPECT_EQ(sim.err, "");
        struct stat st {};
        EXPECT_NE(::lstat(link.c_str(), &st), 0) << "no simulator may have started";
    }
    {
        SimProgram sim({"--version"});
        EXPECT_EQ(sim.wait(), 0);
        EXPECT_EQ(sim.out, std::string("kfu-sim ") + kfu_version + "\n");
    }
    {
        SimProgram sim({"--help"});
        EXPECT_EQ(sim.wait(), 0);
        EXPECT_EQ(sim.out.rfind("Usage: kfu-sim", 0), 0u) << sim.out;
        EXPECT_NE(sim.out.find("--link PATH"), std::string::npos);
        EXPECT_EQ(sim.err, "");
    }
    // An answer that cannot be written is no success.
    {
        SimProgram sim({"--version"}, "/dev/full");
        EXPECT_EQ(sim.wait(), 1);
        EXPECT_NE(sim.err.find("kfu-sim"), std::string::npos);
    }
}

TEST(SimProgram, BadOptionsGetTheUsageOnStderr) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--frobnicate"}, {"--id", "1000"}, {"--pace", "fast"}, {"--link"}}) {
        SCOPED_TRACE(args[0]);
        SimProgram sim(args);
        EXPECT_EQ(sim.wait(), 2);
        EXPECT_EQ(sim.out, "");
        EXPECT_EQ(sim.err.rfind("usage: ", 0), 0u) << sim.err;
    }
}

TEST(SimProgram, VersionWithACodeSetsTheBootloaderVersion) {
    const std::string link = ::testing::TempDir() + "kfu-sim-code-" + std::to_string(::getpid());
    SimProgram sim({"--bootloader", "--version", "4J", "--link", link});
    ASSERT_EQ(sim.out_line().rfind("/dev/pts/", 0), 0u);
    {
        RawLine line(link);
        line.send("#1 \r");
        EXPECT_EQ(line.read(7), "BLV:4J\r");
    }
    sim.terminate();
    EXPECT_EQ(sim.wait(), 0);
}

TEST(SimProgram, PrintsThePathAnswersAndCleansUpOnSigterm) {
    const std::string link = ::testing::TempDir() + "kfu-sim-program-" + std::to_string(::getpid());
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::execl(KFU_SIM_PROGRAM, "kfu-sim", "--link", link.c_str(), "--id", "2", "--id", "5", "--plain-ids",
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    std::string path;
    char c;
    while (::read(out[0], &c, 1) == 1 && c != '\n') path += c;
    ::close(out[0]);
    ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;

    {
        RawLine line(link);
        line.send("#5(E3\r#1(E3\r#*(E4\r");
        EXPECT_EQ(line.read(8), "5+3\r2+4\r");
    }
    ::kill(child, SIGTERM);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    struct stat st{};
    EXPECT_NE(::lstat(link.c_str(), &st), 0);
}

}  // namespace
