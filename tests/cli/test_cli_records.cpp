// The production record of the Linux kfu; the same paths run for kfu.exe
// under Wine (tests/wine).

#include <unistd.h>

#include "cli_support.h"
#include "support/record_station.h"

namespace {

class Records : public CliTest {
protected:
    // The fourth line's port goes by a name holding a comma, a quote and a
    // line break, which the record must keep whole.
    record_station::Station station{
        [this](int i, const std::string& pty) {
            if (i != 3) return pty;
            const std::string odd = dir.file("line \"4\",\nB");
            EXPECT_EQ(::symlink(pty.c_str(), odd.c_str()), 0);
            return odd;
        },
        [](const std::string& path) { return path; },
        [](std::vector<std::string> args, long max_file_size) {
            args.insert(args.begin(), KFU_PROGRAM);
            if (max_file_size > 0) {
                args.insert(args.begin(),
                            {"/usr/bin/prlimit", "--fsize=" + std::to_string(max_file_size), "--"});
            }
            return wine::run_linux(args);
        }};
    TempDir dir;
};

TEST_F(Records, AGangAndAnotherStationShareOneFile) {
    record_station::GangAndNeighbourShareOneFile(station, dir);
}

TEST_F(Records, NoRoomForTheRecordLeavesTheFlashDone) {
    record_station::NoRoomForTheRecordLeavesTheFlashDone(station, dir);
}

}  // namespace
