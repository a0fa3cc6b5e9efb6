#pragma once
// Reading wire traces back in tests: a scratch folder for the files, the
// records of a trace, and the bytes its data records carry.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "serial/trace_reader.h"

struct ScratchDir {
    ScratchDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kfu-trace-XXXXXX").string();
        if (mkdtemp(pattern.data())) path = pattern;
    }
    ~ScratchDir() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    std::string file(const std::string& name) const { return path + "/" + name; }
    std::string path;
};

struct ReadBack {
    TraceSummary summary;
    std::vector<std::string> header;
    std::vector<TraceRecord> records;

    std::vector<std::string> kinds() const {
        std::vector<std::string> k;
        for (const auto& r : records) k.push_back(r.kind);
        return k;
    }
    // The bytes of every "tx" (or "rx") record, in order; every data record
    // must read back.
    std::string bytes(const std::string& kind) const {
        std::string all;
        for (const auto& r : records) {
            if (r.kind != kind) continue;
            const auto t = parse_transfer(r);
            EXPECT_TRUE(t) << r.line;
            if (t) all += t->bytes;
        }
        return all;
    }
    std::vector<TraceRecord> of_kind(const std::string& kind) const {
        std::vector<TraceRecord> out;
        for (const auto& r : records) {
            if (r.kind == kind) out.push_back(r);
        }
        return out;
    }
};

inline ReadBack read_back(const std::string& path, const TraceFilter& filter = {}) {
    ReadBack back;
    back.summary = read_trace(path, filter, [&back](const TraceRecord& r) {
        if (r.header) {
            back.header.push_back(r.line);
        } else {
            back.records.push_back(r);
        }
    });
    return back;
}
