// korvane-util.exe, the Win32 window, under Wine on a private X server:
// whole user paths worked with X input and read back through win_probe.exe.

#include <gtest/gtest.h>

#include <filesystem>

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

    static int Count(const std::string& title) {
        int n = 0;
        for (const auto& w : windows()) n += w.size() == 6 && w[3] == "1" && w[5] == title;
        return n;
    }

    const std::string util = wine::program("korvane-util.exe");
    Desktop* desktop = nullptr;
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

}  // namespace
