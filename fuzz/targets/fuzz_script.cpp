// Configuration scripts: the runner and the line interpreter on a script
// from the input, with the controller's replies, the check boxes and edits
// made to the script while it runs (events run between lines and during
// waits) all taken from the input too.
//
// A run must never ask for a line outside the script as it stands, must
// give the port back the read time-out shown in the port dialog however it
// ends, must send only whole command frames, and must show an error's text
// whole. The interpreter on its own must always point at a later line (or
// stop the run).

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/int_text.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/line_bench.h"
#include "motor/motor_id.h"
#include "script/script.h"

namespace {

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::string current;
    for (char c : text) {
        if (c == '\n' || c == '\r') {
            lines.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) lines.push_back(current);
    return lines;
}

std::string one_line(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    return text;
}

class Host : public ScriptHost {
public:
    // `edits` is a plan of its own, so that the replies in the rest of the
    // input keep their places whatever the run does with events.
    Host(const std::string& edits, LineBench& b)
        : plan_(reinterpret_cast<const std::uint8_t*>(edits.data()), edits.size()), b_(b) {}

    std::vector<std::string> lines;
    bool save_log = false;
    bool log_send = true;
    int repeat_budget = 0;
    std::string timeout_text;
    std::optional<std::string> log_name;
    bool editing = false;

    int line_count() override { return static_cast<int>(lines.size()); }
    std::string line(int index) override {
        FUZZ_CHECK(index >= 0 && index < line_count(), "line " + std::to_string(index) +
                                                           " asked of a script of " +
                                                           std::to_string(line_count()) + " lines");
        return lines[static_cast<std::size_t>(index)];
    }
    bool save_log_checked() override { return save_log; }
    bool log_send_checked() override { return log_send; }
    bool repeat_checked() override { return repeat_budget > 0 && repeat_budget--; }
    void set_motor_id_text(const std::string& text) override {
        b_.motor.set_id(choose_motor_id(text).id);
    }
    std::string timeout_box_text() override { return timeout_text; }
    std::optional<std::string> ask_log_file_name() override { return log_name; }
    void wait_cmd_timer(int ms) override {
        FUZZ_CHECK(ms > 0, "a wait of " + std::to_string(ms) + " ms");
        events();
    }

    // The user edits the script while it runs.
    void events() {
        if (!editing || !plan_.flag()) return;
        switch (plan_.small(3)) {
            case 0:
                if (!lines.empty()) lines.pop_back();
                break;
            case 1:
                lines.push_back(one_line(plan_.text(40)));
                break;
            case 2:
                lines.clear();
                break;
            default:
                if (!lines.empty()) lines[plan_.u32() % lines.size()] = one_line(plan_.text(40));
        }
    }

private:
    FuzzInput plan_;
    LineBench& b_;
};

void check_frames(const std::string& written, int writes) {
    // Every write is one command frame: "#", the motor, the command, CR.
    std::size_t frames = 0;
    for (std::size_t at = 0; at < written.size(); ++frames) {
        FUZZ_CHECK(written[at] == '#', "frame starts with #: " + escaped(written.substr(at, 40)));
        const std::size_t cr = written.find('\r', at);
        FUZZ_CHECK(cr != std::string::npos,
                   "frame ends with CR: " + escaped(written.substr(at, 40)));
        at = cr + 1;
    }
    FUZZ_CHECK(frames == static_cast<std::size_t>(writes), "one frame per write");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The runner appends ".log" to the name the dialog gives.
    static const FuzzTempFile log_file("script.log");
    const std::string log_base = log_file.path.substr(0, log_file.path.size() - 4);
    FuzzInput in(data, size);
    LineBench b;
    const std::uint8_t options = in.byte();
    const bool log_named = in.flag();
    const int timeout_before = in.byte();
    const std::string edits = in.text(64);
    Host host(edits, b);
    ScriptRunner runner(b.port, b.motor, b.out, host);

    host.save_log = options & 1;
    host.log_send = options & 2;
    host.repeat_budget = (options >> 2) & 7;
    static const char* const kTimeouts[] = {"100", "abc", "-5",         "0x20",
                                            "",    " 7",  "2147483647", "0"};
    host.timeout_text = kTimeouts[options >> 5];
    if (log_named) host.log_name = log_base;
    std::filesystem::remove(log_file.path);
    host.lines = split_lines(in.long_text(4096));

    int writes = 0;
    b.mem->on_write = [&](const std::uint8_t*, std::size_t) {
        ++writes;
        b.mem->queue(in.text());
    };

    // Each directive line on its own, as the runner hands it over.
    const std::vector<std::string> script = host.lines;
    int directives = 0;
    for (std::size_t i = 0; i < script.size() && directives < 8; ++i) {
        const std::string text = trim_script_text(script[i]);
        if (text.empty() || text[0] != '#') continue;
        ++directives;
        const int index = static_cast<int>(i);
        try {
            const int next = runner.ExecuteScriptLine(text, index);
            FUZZ_CHECK(next == -1 || (next > index && next <= host.line_count()),
                       "line " + std::to_string(index) + " '" + escaped(text) + "' gave " +
                           std::to_string(next));
        } catch (const ScriptError& e) {
            const std::string tail = "' is not a valid integer value";
            FUZZ_CHECK(e.text().size() > tail.size() &&
                           e.text().compare(e.text().size() - tail.size(), tail.size(), tail) == 0,
                       "error text '" + escaped(e.text()) + "'");
        }
    }

    // The whole run, with edits.
    host.editing = true;
    b.out.on_events = [&] { host.events(); };
    b.port.set_timeout(static_cast<std::uint32_t>(timeout_before));
    runner.RunConfigScript(0);

    const auto shown = read_integer(host.timeout_text);
    const std::uint32_t expected = shown && *shown >= 0 ? static_cast<std::uint32_t>(*shown) : 200;
    FUZZ_CHECK(b.port.get_timeout() == expected, "read time-out after the run is " +
                                                     std::to_string(b.port.get_timeout()) +
                                                     ", expected " + std::to_string(expected));
    check_frames(b.mem->written_text(), writes);

    const std::string tail = "' is not a valid integer value";
    for (const RecordedBox& box : b.out.boxes) {
        FUZZ_CHECK(box.caption == "Error", "box caption " + box.caption);
        FUZZ_CHECK(box.text.size() > tail.size() && box.text[0] == '\'' &&
                       box.text.compare(box.text.size() - tail.size(), tail.size(), tail) == 0,
                   "error box text cut or unknown: '" + escaped(box.text) + "'");
    }
    FUZZ_CHECK(b.out.boxes.size() <= 1, "more than one error box for one run");
    return 0;
}
