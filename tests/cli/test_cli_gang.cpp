// Several lines at once: every line in a thread of its own, one line's
// trouble leaving the others alone.

#include <fstream>
#include <memory>

#include "bootloader/bootloader_support.h"
#include "cli_support.h"
#include "sim/sim.h"

namespace {

using nlohmann::json;

class Gang : public CliTest {
protected:
    std::vector<std::unique_ptr<SimController>> Lines(int count, bool bootloader) {
        std::vector<std::unique_ptr<SimController>> sims;
        for (int i = 0; i < count; ++i) {
            SimConfig config;
            config.start_in_bootloader = bootloader;
            sims.push_back(std::make_unique<SimController>(config));
        }
        return sims;
    }
    TempDir dir;
};

TEST_F(Gang, OneLineFallingSilentMidWriteLeavesTheOthersToSucceed) {
    FirmwareImage wanted;
    FillImage(wanted);
    Program(wanted, 0, 0x2B000);  // every block a data block
    const std::string hex = dir.file("full.hex");
    WriteLines(hex, HexLinesOf(wanted));

    auto sims = Lines(4, true);
    sims[2]->silent_after_frames(20);
    std::vector<std::string> args = {"flash", "--json", hex, "--timeout", "50"};
    for (const auto& s : sims) {
        args.push_back("--port");
        args.push_back(s->path());
    }
    const KfuRun run = RunKfu(args);
    EXPECT_EQ(run.exit_code, 1) << run.err;
    const json doc = run.json();
    ASSERT_EQ(doc["ports"].size(), 4u);
    for (int i = 0; i < 4; ++i) {
        const json& line = doc["ports"][i];
        EXPECT_EQ(line["port"], sims[i]->path());
        if (i == 2) {
            EXPECT_EQ(line["result"], "refused");
            EXPECT_EQ(sims[i]->frames().size(), 21u);
        } else {
            EXPECT_EQ(line["result"], "ok") << line["lines"];
            EXPECT_EQ(FirstDifference(sims[i]->flash(), wanted.bytes.data(), 0, 0x2B000), -1) << i;
        }
    }
    // Every line of the document names its port.
    for (const std::string line : doc["lines"]) {
        const bool named = std::any_of(sims.begin(), sims.end(), [&](const auto& s) {
            return line.rfind(s->path() + ": ", 0) == 0;
        });
        EXPECT_TRUE(named) << line;
    }
}

TEST_F(Gang, TextOutputEndsWithASummaryAndFilesGetThePortsName) {
    auto sims = Lines(2, false);
    const std::string file = dir.file("core.eed");
    const KfuRun run = RunKfu({"dump", "core", "-o", file, "-p", sims[0]->path(), "-p",
                               sims[1]->path(), "-p", "/nonexistent/ttyQ"});
    EXPECT_EQ(run.exit_code, 3);
    for (const auto& s : sims) {
        const std::string name = cli::file_for_line(file, s->path(), true);
        EXPECT_NE(name, file);
        std::ifstream written(name);
        std::string first;
        std::getline(written, first);
        EXPECT_EQ(first.substr(0, 14), "0x1E00\t 00 01 ") << name;
    }
    EXPECT_NE(run.out.find("PORT"), std::string::npos);
    EXPECT_NE(run.out.find("/nonexistent/ttyQ  port"), std::string::npos) << run.out;
    EXPECT_EQ(cli::file_for_line("/tmp/d.x/dump.eed", "/dev/ttyUSB0", true),
              "/tmp/d.x/dump-ttyUSB0.eed");
    EXPECT_EQ(cli::file_for_line("/tmp/d.x/dump", "/dev/pts/3", true), "/tmp/d.x/dump-pts-3");
    // A Windows device name keeps only its port's name, without backslashes.
    EXPECT_EQ(cli::file_for_line("/tmp/d.x/dump.eed", "\\\\.\\COM12", true),
              "/tmp/d.x/dump-COM12.eed");
}

}  // namespace
