// The wire trace: the text form of bytes, a trace written and read back, and
// the reader on any file.
//
// Any bytes survive the text form, which holds printable ASCII only and no
// quote. A trace written from the input's calls and marks, in parts as small
// as the input asks, reads back record for record: the same bytes, counts,
// names and texts, and the operation filter keeps exactly the records inside
// the operation. Any file at all gives records that parse again from their
// own line the same way, and data records whose hex and text agree.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "fuzz/mem_file.h"
#include "serial/trace_reader.h"
#include "serial/wire_trace.h"

namespace {

const char* const kOperations[] = {"write", "script", "script-line", "console"};

void check_text_form(std::string_view bytes) {
    const std::string text = trace_text(bytes);
    for (const char c : text) {
        FUZZ_CHECK(c >= 0x20 && c <= 0x7E && c != '"', "text form: " + escaped(text));
    }
    const auto back = bytes_of_trace_text(text);
    FUZZ_CHECK(back && *back == bytes, escaped(bytes) + " -> " + escaped(text));
}

void check_any_file(std::string_view bytes) {
    static MemFile file("trace");
    if (!file.ok() || !file.set(bytes)) return;
    std::size_t emitted = 0;
    const TraceSummary summary = read_trace(file.path(), {}, [&](const TraceRecord& r) {
        if (r.header) return;
        ++emitted;
        const auto again = parse_trace_line(r.line);
        FUZZ_CHECK(again && again->time_us == r.time_us && again->kind == r.kind &&
                       again->fields == r.fields,
                   escaped(r.line));
        if (const auto t = parse_transfer(r)) {
            FUZZ_CHECK(t->bytes.size() == static_cast<std::size_t>(t->result > 0 ? t->result : 0),
                       escaped(r.line));
        }
    });
    FUZZ_CHECK(summary.read, "a file that exists is read");
    FUZZ_CHECK(emitted == summary.records, "records counted as emitted");
}

struct Expected {
    std::string kind;
    std::string bytes;  // data records
    long result = 0;
    std::size_t asked = 0;
    std::string name;  // marks
    std::string text;
    bool inside = false;  // within the filtered operation
};

void check_round_trip(FuzzInput& in) {
    const FuzzTempFile file("trace");
    const std::uint64_t part_bytes = 200 + static_cast<std::uint64_t>(in.byte()) * 32;
    const std::string filtered = kOperations[in.small(3)];
    std::vector<Expected> expected;
    std::vector<std::string> open;
    const auto inside = [&] {
        for (const auto& name : open) {
            if (name == filtered) return true;
        }
        return false;
    };
    {
        std::string error;
        auto trace = WireTrace::start(file.path, {"fuzz", nullptr, part_bytes}, error);
        FUZZ_CHECK(trace, error);
        for (int steps = in.small(40); steps > 0 && !in.empty(); --steps) {
            switch (in.small(3)) {
                case 0:
                case 1: {
                    const bool tx = in.flag();
                    const std::string bytes = in.text();
                    const bool failed = bytes.empty() && in.flag();
                    const std::size_t asked = bytes.size() + in.small(3);
                    trace->transfer(tx ? WireTrace::Direction::tx : WireTrace::Direction::rx,
                                    failed ? -1 : static_cast<long>(bytes.size()), asked,
                                    WireTrace::Clock::now(),
                                    reinterpret_cast<const std::uint8_t*>(bytes.data()));
                    expected.push_back({tx ? "tx" : "rx",
                                        bytes,
                                        failed ? -1 : static_cast<long>(bytes.size()),
                                        asked,
                                        {},
                                        {},
                                        inside()});
                    break;
                }
                case 2: {
                    const std::string name = kOperations[in.small(3)];
                    const std::string detail = in.text(40);
                    trace->begin(name, detail);
                    open.push_back(name);
                    expected.push_back({"begin", {}, 0, 0, name, detail, inside()});
                    break;
                }
                default: {
                    if (open.empty()) break;
                    const std::string text = in.text(40);
                    const bool was = inside();
                    trace->end(open.back(), "ok", std::chrono::microseconds(in.byte()), text);
                    expected.push_back({"end", {}, 0, 0, open.back(), text, was});
                    open.pop_back();
                    break;
                }
            }
        }
    }

    std::vector<TraceRecord> all;
    const TraceSummary summary =
        read_trace(file.path, {}, [&](const TraceRecord& r) { all.push_back(r); });
    std::vector<TraceRecord> records;
    for (const auto& r : all) {
        if (!r.header && r.kind != "note") records.push_back(r);
    }
    FUZZ_CHECK(summary.ended && summary.problems.empty(), "a whole trace reads back whole");
    FUZZ_CHECK(
        records.size() == expected.size(),
        std::to_string(records.size()) + " records, expected " + std::to_string(expected.size()));
    for (std::size_t i = 0; i < records.size(); ++i) {
        const Expected& e = expected[i];
        const TraceRecord& r = records[i];
        FUZZ_CHECK(r.kind == e.kind, r.line);
        if (e.kind == "tx" || e.kind == "rx") {
            const auto t = parse_transfer(r);
            FUZZ_CHECK(t && t->bytes == e.bytes && t->result == e.result && t->asked == e.asked,
                       r.line);
        } else {
            const auto m = parse_mark(r);
            FUZZ_CHECK(m && m->operation == e.name && m->text == e.text, r.line);
        }
    }
    std::size_t kept = 0;
    read_trace(file.path, {filtered, {}, {}}, [&](const TraceRecord& r) {
        if (r.header || r.kind == "note") return;
        while (kept < expected.size() && !expected[kept].inside) ++kept;
        FUZZ_CHECK(kept < expected.size() && expected[kept].kind == r.kind,
                   "filtered by " + filtered + ": " + r.line);
        ++kept;
    });
    while (kept < expected.size()) FUZZ_CHECK(!expected[kept++].inside, "filter kept all inside");

    for (int part = 2; part <= static_cast<int>(summary.parts.size()); ++part) {
        std::error_code ignored;
        std::filesystem::remove(WireTrace::part_path(file.path, part), ignored);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    check_text_form(bytes);
    check_any_file(bytes);
    FuzzInput in(data, size);
    check_round_trip(in);
    return 0;
}
