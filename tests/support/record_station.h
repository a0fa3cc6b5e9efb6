#pragma once
// The production record as stations use it, one body for the Linux kfu and
// for kfu.exe under Wine: a gang of four lines, one of which fails, appending
// to a file that another kfu appends to at the same time; and a record file
// without room for the row. The file is read back by Python's csv module.

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "bootloader/bootloader_support.h"
#include "sim/sim.h"
#include "wine/wine_run.h"

namespace record_station {

struct Station {
    // Leads line `i` (0 ... 4) to the simulator's terminal; returns the
    // port's name as kfu is given it.
    std::function<std::string(int i, const std::string& pty)> port;
    // A file as the program names it.
    std::function<std::string(const std::string& path)> path;
    // Runs kfu; `max_file_size` > 0 limits the size of the files it writes.
    std::function<wine::Result(std::vector<std::string> args, long max_file_size)> kfu;
};

inline std::string Python(const std::string& program, const std::string& file) {
    return wine::run_linux({"/usr/bin/python3", "-c", program, file}).out;
}

// The file's rows as Python's csv module reads them.
inline nlohmann::json CsvRows(const std::string& file) {
    return nlohmann::json::parse(Python(
        "import csv,json,sys\n"
        "print(json.dumps(list(csv.reader(open(sys.argv[1], newline='', encoding='utf-8')))))",
        file));
}

inline std::string Sha256(const std::string& file) {
    return Python(
               "import "
               "hashlib,sys\nprint(hashlib.sha256(open(sys.argv[1],'rb').read()).hexdigest())",
               file)
        .substr(0, 64);
}

inline std::string Firmware(const TempDir& dir, FirmwareImage& wanted) {
    FillImage(wanted);
    Program(wanted, 0, 0x3000);
    const std::string hex = dir.file("fw, v2.hex");
    WriteLines(hex, HexLinesOf(wanted));
    return hex;
}

enum Col {
    kTime,
    kHost,
    kPort,
    kMotor,
    kCommand,
    kFile,
    kSha,
    kBootloader,
    kMode,
    kResult,
    kExit,
    kSeconds,
    kMessage
};

inline void GangAndNeighbourShareOneFile(const Station& station, const TempDir& dir) {
    FirmwareImage wanted;
    const std::string hex = Firmware(dir, wanted);
    const std::string record = dir.file("line 3.csv");
    std::vector<std::unique_ptr<SimController>> sims;
    std::vector<std::string> gang = {
        "flash", "-q", "--timeout", "50", "--record", station.path(record), station.path(hex)};
    std::vector<std::string> ports;
    for (int i = 0; i < 4; ++i) {
        SimConfig config;
        config.start_in_bootloader = true;
        sims.push_back(std::make_unique<SimController>(config));
        ports.push_back(station.port(i, sims[i]->path()));
        gang.insert(gang.end(), {"-p", ports.back()});
    }
    sims[1]->silent_after_frames(5);
    SimController neighbour;
    const std::string neighbour_port = station.port(4, neighbour.path());

    // The other station sends, one kfu after the other, from before the gang
    // starts until after it has ended.
    std::atomic<bool> gang_done{false};
    int neighbour_rows = 0;
    std::thread other([&] {
        for (bool last = false; !last; ++neighbour_rows) {
            last = gang_done;
            const auto r = station.kfu(
                {"send", "-p", neighbour_port, "--record", station.path(record), "VER"}, 0);
            EXPECT_EQ(r.status, 0) << r.out << r.err;
        }
    });
    const auto g = station.kfu(gang, 0);
    gang_done = true;
    other.join();
    EXPECT_EQ(g.status, 1) << g.out << g.err;

    const nlohmann::json rows = CsvRows(record);
    ASSERT_EQ(rows.size(), 1u + 4 + neighbour_rows) << rows.dump(1);
    EXPECT_EQ(rows[0][0], "time");
    int sends = 0;
    std::vector<int> seen(4, 0);
    for (std::size_t r = 1; r < rows.size(); ++r) {
        const nlohmann::json& row = rows[r];
        ASSERT_EQ(row.size(), 14u) << row.dump();
        if (row[kCommand] == "send") {
            EXPECT_EQ(row[kPort], neighbour_port);
            EXPECT_EQ(row[kResult], "ok");
            ++sends;
            continue;
        }
        const auto line = std::find(ports.begin(), ports.end(), row[kPort].get<std::string>());
        ASSERT_NE(line, ports.end()) << row.dump();
        const auto i = static_cast<std::size_t>(line - ports.begin());
        ++seen[i];
        EXPECT_EQ(row[kFile], station.path(hex));
        EXPECT_EQ(row[kSha], Sha256(hex));
        EXPECT_EQ(row[kBootloader], "02");
        EXPECT_EQ(row[kMode], "1536");
        EXPECT_EQ(row[kResult], i == 1 ? "failed" : "ok") << row.dump();
        EXPECT_EQ(row[kExit], i == 1 ? "1" : "0");
        if (i != 1) {
            EXPECT_EQ(row[kMessage], "Firmware successfully written");
        }
        EXPECT_EQ(row[kTime].get<std::string>().size(), 25u) << row[kTime];
    }
    EXPECT_EQ(sends, neighbour_rows);
    EXPECT_EQ(seen, std::vector<int>(4, 1));

    // Read back by kfu itself: only the failed line, and nothing after a
    // time that has not come.
    const auto failed = station.kfu({"records", "--json", "--failed", station.path(record)}, 0);
    ASSERT_EQ(failed.status, 0) << failed.err;
    const nlohmann::json shown = nlohmann::json::parse(failed.out)["figures"]["records"];
    ASSERT_EQ(shown.size(), 1u) << failed.out;
    EXPECT_EQ(shown[0]["port"], ports[1]);
    EXPECT_EQ(shown[0]["exit_code"], 1);
    const auto later = station.kfu({"records", "--since", "2999-01-01", station.path(record)}, 0);
    EXPECT_EQ(wine::lines(later.out).size(), 1u) << later.out;
}

inline void NoRoomForTheRecordLeavesTheFlashDone(const Station& station, const TempDir& dir) {
    FirmwareImage wanted;
    const std::string hex = Firmware(dir, wanted);
    const std::string record = dir.file("full.csv");
    SimController running;
    const auto first = station.kfu(
        {"send", "-p", station.port(0, running.path()), "--record", station.path(record), "VER"},
        0);
    ASSERT_EQ(first.status, 0) << first.err;
    const auto size = std::filesystem::file_size(record);

    SimConfig config;
    config.start_in_bootloader = true;
    SimController sim(config);
    const auto r = station.kfu({"flash", "-q", "-p", station.port(1, sim.path()), "--record",
                                station.path(record), station.path(hex)},
                               static_cast<long>(size) + 40);
    EXPECT_EQ(r.status, 4) << r.out << r.err;
    EXPECT_NE(r.out.find("Firmware successfully written"), std::string::npos) << r.out;
    EXPECT_EQ(FirstDifference(sim.flash(), wanted.bytes.data(), 0, 0x2B000), -1);
    const std::string said = "the record could not be written";
    const auto at = r.err.find(said);
    ASSERT_NE(at, std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(said, at + 1), std::string::npos) << r.err;
    // No part of the row stays behind.
    EXPECT_EQ(std::filesystem::file_size(record), size);

    // A row cut short by a program killed while writing it is ended before
    // the next row, which stays whole.
    std::ofstream(record, std::ios::app) << "2026-12-09T10:00:00+01:00,other,COM1,1,fla";
    const auto next = station.kfu(
        {"send", "-p", station.port(0, running.path()), "--record", station.path(record), "VER"},
        0);
    ASSERT_EQ(next.status, 0) << next.err;
    const nlohmann::json rows = CsvRows(record);
    ASSERT_EQ(rows.size(), 4u) << rows.dump(1);
    EXPECT_EQ(rows[3].size(), 14u);
    EXPECT_EQ(rows[3][kCommand], "send");
}

}  // namespace record_station
