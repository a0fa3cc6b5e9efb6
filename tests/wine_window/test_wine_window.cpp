// korvane-util.exe, the Win32 window, under Wine on a private X server:
// whole user paths worked with X input and read back through win_probe.exe.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "bootloader/bootloader_support.h"
#include "sim/sim.h"
#include "win32/control_ids.h"
#include "wine_window.h"

namespace {

using namespace wine_window;

class WineWindow : public ::testing::Test {
protected:
    void SetUp() override {
        std::string missing = wine::missing_setup();
        if (wine::env("KFU_WINESERVER").empty()) missing += " KFU_WINESERVER";
        ASSERT_TRUE(missing.empty())
            << "run through scripts/test-windows.sh (missing " << missing << ")";
        if (!std::filesystem::exists(util)) GTEST_SKIP() << util << " is not built yet";
        static Desktop shared;
        ASSERT_EQ(shared.error(), "");
        desktop = &shared;
    }

    // No instance may outlive its test: the next one would be refused.
    void TearDown() override {
        if (app && app->wait(0ms) == -1 && probe({"close", KFU_CAPTION}).status == 0) app->wait(10s);
        app.reset();
    }

    // Starts the window on `sim` at COM5, chosen in the port dialog it opens with.
    void Start(const SimController& sim) {
        ASSERT_TRUE(wine::map_port(5, sim.path()));
        app = std::make_unique<App>(std::vector<std::string>{util});
        Answer("CommDialog", "COM5");
    }

    // Types `text` over what the dialog's box with the keys holds, presses
    // Enter and waits until the dialog is gone. xdotool's "\n" is no Return
    // to Wine, hence the key of its own.
    void Answer(const std::string& title, const std::string& text) {
        ASSERT_TRUE(eventually([&] {
            const auto c = dump(title);
            return std::any_of(c.begin(), c.end(), [](auto& c) { return c.focused; });
        }));
        ASSERT_TRUE(desktop->key("ctrl+a") && desktop->type(text) && desktop->key("Return"));
        ASSERT_TRUE(wait_window(title, "", true));
    }

    bool Click(int id) {
        const auto c = control(KFU_CAPTION, id);
        return c && desktop->click(*c);
    }

    static std::vector<std::string> Messages() {
        const std::string out = probe({"text", KFU_CAPTION, std::to_string(IDC_Message)}).out;
        return wine::lines(fields(out.substr(0, out.find('\n')))[0]);
    }

    static bool Shows(const std::string& line) {
        return eventually([&] {
            const auto m = Messages();
            return std::find(m.begin(), m.end(), line) != m.end();
        });
    }

    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    static int Count(const std::string& title) {
        int n = 0;
        for (const auto& w : windows()) n += w.size() == 6 && w[3] == "1" && w[5] == title;
        return n;
    }

    const std::string util = wine::program("korvane-util.exe");
    Desktop* desktop = nullptr;
    std::unique_ptr<App> app;
    TempDir dir;
};

// A second start is refused with a box of its own and exit status 1, unless
// Ctrl is held while it starts.
TEST_F(WineWindow, StartsOnceUnlessCtrlIsHeld) {
    App first({util});
    ASSERT_TRUE(wait_window("CommDialog"));
    ASSERT_EQ(probe({"close", "CommDialog"}).status, 0);
    ASSERT_TRUE(wait_window("CommDialog", "", true));

    App second({util});
    ASSERT_TRUE(eventually([] { return message_box("Info").has_value(); }));
    EXPECT_EQ(message_box("Info"), "You may start the program only once");
    const auto ok = find(dump("Info", "#32770"), 1);
    ASSERT_TRUE(ok && desktop->click(*ok));
    EXPECT_EQ(second.wait(), 1);

    // Wine learns of a held key through the window that has the X focus.
    std::optional<Control> label;
    for (const auto& c : dump(KFU_CAPTION)) {
        if (c.text == "Motor Number:") label = c;
    }
    ASSERT_TRUE(label && desktop->click(*label));
    ASSERT_TRUE(desktop->key_down("ctrl"));
    App third({util});
    const bool started = wait_window("CommDialog");
    desktop->key_up("ctrl");
    ASSERT_TRUE(started);
    EXPECT_EQ(Count(KFU_CAPTION), 2);
    EXPECT_FALSE(message_box("Info"));

    ASSERT_EQ(probe({"close", "CommDialog"}).status, 0);
    ASSERT_TRUE(wait_window("CommDialog", "", true));
    for (int open = 2; open > 0; --open) {
        ASSERT_EQ(probe({"close", KFU_CAPTION}).status, 0);
        ASSERT_TRUE(eventually([&] { return Count(KFU_CAPTION) == open - 1; }));
    }
    EXPECT_EQ(first.wait(), 0);
    EXPECT_EQ(third.wait(), 0);
}

// The port typed into the dialog the window opens with; a command typed into
// the command box, which has the keys then; a core dump saved, which must be
// the file the Linux program writes from the same controller.
TEST_F(WineWindow, CommandAndCoreDumpOnThePortTypedAtStart) {
    SimController sim;
    sim.set_register("VER", 1234);
    for (int a = 0x1E00; a < 0x2000; ++a) sim.set_eeprom(a, (a * 7) & 0xFF);
    const std::string linux_dump = dir.file("linux.eed"), window_dump = dir.file("window.eed");
    const auto l = wine::run_linux({KFU_LINUX_PROGRAM, "dump", "core", "-p", sim.path(), "-o", linux_dump});
    ASSERT_EQ(l.status, 0) << l.out << l.err;
    sim.clear_log();

    ASSERT_NO_FATAL_FAILURE(Start(sim));
    ASSERT_TRUE(desktop->type("VER") && desktop->key("Return"));
    EXPECT_TRUE(Shows("VER+1234"));
    EXPECT_EQ(sim.received(), "#1VER\r");

    ASSERT_EQ(probe({"set-tab", KFU_CAPTION, std::to_string(IDC_PageControl), "3"}).status, 0);
    ASSERT_TRUE(Click(IDC_btnCoreDump));
    ASSERT_NO_FATAL_FAILURE(Answer("Save As", wine::windows_path(window_dump)));
    const std::string wanted = ReadFile(linux_dump);
    ASSERT_TRUE(eventually([&] { return ReadFile(window_dump).size() == wanted.size(); }));
    EXPECT_EQ(ReadFile(window_dump), wanted);
    // A dump whose every address was answered adds no line.
    EXPECT_EQ(Messages(), std::vector<std::string>{"VER+1234"});
}

// A HEX file opened through File > Open and written with the action button
// to a controller whose bootloader runs.
TEST_F(WineWindow, OpenedHexFileIsWrittenToTheBootloader) {
    FirmwareImage wanted;
    FillImage(wanted);
    Program(wanted, 0, 0x800);
    Program(wanted, 0x4100, 0x4104);
    const std::string hex = dir.file("firmware.hex");
    WriteLines(hex, HexLinesOf(wanted));
    SimConfig config;
    config.start_in_bootloader = true;
    SimController sim(config);

    ASSERT_NO_FATAL_FAILURE(Start(sim));
    ASSERT_TRUE(desktop->key("alt+f") && desktop->key("o"));
    ASSERT_NO_FATAL_FAILURE(Answer("Open", wine::windows_path(hex)));
    ASSERT_TRUE(eventually([] {
        const auto b = control(KFU_CAPTION, IDC_ActionBtn);
        return b && b->enabled && b->text == "write Firmware";
    }));
    ASSERT_TRUE(Click(IDC_ActionBtn));
    EXPECT_TRUE(Shows("Firmware successfully written"));
    EXPECT_EQ(FirstDifference(sim.flash(), wanted.bytes.data(), 0, 0x2B000), -1);
}

// A script typed into the Configuration tab and run with "Save Log": the
// commands reach the controller and the log holds the exchange.
TEST_F(WineWindow, ScriptTypedInRunsAndKeepsItsLog) {
    SimController sim;
    sim.set_register("A", 5);
    ASSERT_NO_FATAL_FAILURE(Start(sim));
    ASSERT_EQ(probe({"set-tab", KFU_CAPTION, std::to_string(IDC_PageControl), "2"}).status, 0);
    ASSERT_TRUE(Click(IDC_Config_View));
    for (const char* line : {"A", "#ifeq(A,5){", "#output five", "#}", "B=7"}) {
        ASSERT_TRUE(desktop->type(line) && desktop->key("Return"));
    }
    // What the run logs: each line sent and its reply, and the if-line with
    // its query, reply and verdict.
    const std::string log =
        "-> A\r\n<- A+5\r\n"
        "==#ifeq(A,5){\r\n->A\r\n->A+5\r\nif-result: true\r\n"
        "<-  five\r\n"
        "-> B=7\r\n<- B=7\r\n";
    ASSERT_TRUE(Click(IDC_saveLogCheckBox));
    ASSERT_TRUE(Click(IDC_ActionBtn));
    ASSERT_NO_FATAL_FAILURE(Answer("Save As", wine::windows_path(dir.file("run"))));
    EXPECT_TRUE(Shows("<- B=7"));
    EXPECT_EQ(sim.received(), "#1A\r#1A\r#1B=7\r");
    EXPECT_EQ(sim.get_register("B"), 7);
    EXPECT_EQ(ReadFile(dir.file("run.log")), log);
}

// File > Exit while a long dump runs: the program ends by itself, soon, and
// half a dump is no file.
TEST_F(WineWindow, ExitDuringADumpEndsWithoutAFile) {
    SimConfig config;
    config.pace_baud = 115200;  // 16385 exchanges: half a minute
    SimController sim(config);
    ASSERT_NO_FATAL_FAILURE(Start(sim));
    ASSERT_EQ(probe({"set-tab", KFU_CAPTION, std::to_string(IDC_PageControl), "3"}).status, 0);
    ASSERT_TRUE(Click(IDC_btnDumpEEProm));
    const std::string file = dir.file("eeprom.eed");
    ASSERT_NO_FATAL_FAILURE(Answer("Save As", wine::windows_path(file)));
    ASSERT_TRUE(eventually([&] { return sim.commands().size() >= 100; }));
    ASSERT_TRUE(desktop->key("alt+f") && desktop->key("e"));
    EXPECT_EQ(app->wait(5s), 0);
    EXPECT_LT(sim.commands().size(), 16385u);
    EXPECT_FALSE(std::filesystem::exists(file));
}

}  // namespace
