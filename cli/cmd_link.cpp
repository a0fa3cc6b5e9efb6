// The commands that talk to a running controller one exchange at a time:
// ports, send, test, poll, scan and doctor.

#include <chrono>
#include <cstdio>

#include "bootloader/bootloader_steps.h"
#include "bootloader/write_plan.h"
#include "cli/command_support.h"
#include "cli/commands.h"
#include "cli/platform.h"
#include "common/stop.h"
#include "motor/console.h"
#include "motor/link_test.h"
#include "motor/motor_com.h"
#include "serial/serial.h"
#include "serial/serial_backend.h"

namespace cli {
namespace {

// The window's poll timer leaves this much between two cycles.
constexpr int kPollPauseMs = 10;
// The rates `doctor` tries when the chosen one gets no answer.
constexpr std::uint32_t kUsualRates[] = {115200, 57600, 38400, 19200, 9600};

// Takes the link test's own "-> " and "<- " lines where only the reply counts.
class Silent : public Reporter {
public:
    void message(const std::string&) override {}
    void box(const std::string&, const std::string&, BoxIcon) override {}
    void process_events() override {}
    void set_progress_min(int) override {}
    void set_progress_max(int) override {}
    void set_progress_position(int) override {}
    int progress_position() const override { return 0; }
    void repaint_progress() override {}
};

std::string in_quotes(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

CommandOutcome cmd_ports(const Options& options, Output& out) {
    LineReporter reporter(out, "", options.yes);
    std::vector<std::string> names;
    // Listing does not touch the object's own port, which stays closed.
    serial lister(reporter, "0", options.timeout_ms);
    lister.list_ports(names);
    for (const auto& name : names) reporter.message(name);
    CommandOutcome outcome;
    outcome.figures["ports"] = names;
    keep_lines(reporter, outcome);
    return outcome;
}

CommandOutcome cmd_send(const Options& options, Output& out) {
    return run_on_lines(options, out, [&](LineSession& s, LineOutcome& outcome) -> int {
        if (!s.open()) return kExitPort;
        int unanswered = 0;
        nlohmann::json replies = nlohmann::json::array();
        for (const std::string& command : options.commands) {
            if (stop_here(s.reporter(), "the console commands")) break;
            // The port was opened just now, so no reply of ours can be under
            // way: what is waiting is stale and goes without a read time-out.
            const std::string reply = send_console_command(
                s.port(), s.motor(), s.reporter(), command, false, StaleInput::AlreadyWaiting);
            replies.push_back({{"command", command}, {"reply", reply}});
            if (reply.empty()) {
                ++unanswered;
                s.reporter().error("no reply to " + in_quotes(command) + " from motor " +
                                   options.motor);
            }
        }
        outcome.figures["replies"] = std::move(replies);
        return unanswered > 0 ? kExitController : kExitOk;
    });
}

CommandOutcome cmd_test(const Options& options, Output& out) {
    return run_on_lines(options, out, [&](LineSession& s, LineOutcome& outcome) -> int {
        if (!s.open()) return kExitPort;
        // Opened just now: what is waiting is stale (the rest of an earlier
        // reply) and would be shown as the start of this one.
        s.port().discard_waiting();
        const std::string reply = test_connection(s.port(), s.reporter(), options.motor);
        outcome.figures["reply"] = reply;
        if (!reply.empty()) return kExitOk;
        s.reporter().error("no reply to the link test");
        return kExitController;
    });
}

CommandOutcome cmd_poll(const Options& options, Output& out) {
    return run_on_lines(options, out, [&](LineSession& s, LineOutcome& outcome) -> int {
        if (!s.open()) return kExitPort;
        for (int polls = 1;; ++polls) {
            outcome.figures["polls"] = polls;
            const PollCycle cycle = poll_cycle(s.port(), s.reporter(), options.motor);
            if (cycle.detected) {
                s.reporter().message("Device detected");
                return kExitOk;
            }
            if (options.tries > 0 && polls >= options.tries) {
                s.reporter().error("no device detected after " + std::to_string(polls) + " polls");
                return kExitController;
            }
            // A read that failed at once is paced like one that waited.
            const int pause = cycle.pause_ms > 0 ? cycle.pause_ms : kPollPauseMs;
            s.reporter().pause(std::chrono::milliseconds(pause));
            if (stop_here(s.reporter(), "the poll")) return kExitController;
        }
    });
}

CommandOutcome cmd_scan(const Options& options, Output& out) {
    return run_on_lines(options, out, [&](LineSession& s, LineOutcome& outcome) -> int {
        if (!s.open()) return kExitPort;
        LineReporter& reporter = s.reporter();
        reporter.set_progress_max(options.scan_to);
        reporter.set_progress_min(options.scan_from);
        reporter.set_progress_position(options.scan_from);
        s.show_progress();

        Silent silent;
        nlohmann::json answering = nlohmann::json::array();
        std::vector<std::pair<int, std::string>> rows;
        for (int motor = options.scan_from; motor <= options.scan_to; ++motor) {
            if (stop_here(reporter, "the scan")) break;
            // A reply longer than the test reads would otherwise spill into
            // the next motor's answer.
            s.port().flush_input();
            const std::string reply = test_connection(s.port(), silent, std::to_string(motor));
            if (!reply.empty()) {
                rows.emplace_back(motor, reply);
                answering.push_back({{"motor", motor}, {"reply", reply}});
            }
            reporter.set_progress_position(motor);
        }
        reporter.end_progress();

        outcome.figures["answering"] = std::move(answering);
        reporter.message("Motor  Reply");
        for (const auto& [motor, reply] : rows) {
            char number[16];
            std::snprintf(number, sizeof number, "%5d  ", motor);
            reporter.message(number + reply);
        }
        if (!rows.empty()) return kExitOk;
        reporter.error("no motor from " + std::to_string(options.scan_from) + " to " +
                       std::to_string(options.scan_to) + " answered");
        return kExitController;
    });
}

namespace {

// The link test at the port's current rate, on a clean line.
std::string probe(serial& port, const std::string& motor) {
    Silent silent;
    port.flush_input();
    return test_connection(port, silent, motor);
}

int doctor_line(const Options& options, LineSession& s, nlohmann::json& figures) {
    LineReporter& r = s.reporter();
    const std::string device = serial::device_name(s.port_name());

    r.message("Opening " + device + " at " + std::to_string(options.baud) + " baud");
    s.port().open();
    if (!s.port().is_open()) {
        const int error = s.port().open_error();
        figures["opens"] = false;
        if (error == 0) {
            r.message("Verdict: " + device + " opens but refuses the line settings (8N1 at " +
                      std::to_string(options.baud) + " baud).");
            return kExitPort;
        }
        r.message("  it cannot be opened: " + open_error_text(error));
        const OpenRefusal why = classify_open_error(error);
        if (why == OpenRefusal::no_permission) {
            const std::string advice = permission_advice(device);
            if (!advice.empty()) r.message("  " + advice);
            r.message("Verdict: no permission to use " + device + ".");
        } else if (why == OpenRefusal::busy) {
            const auto holders = port_holders(device);
            for (const auto& h : holders) r.message("  held by process " + h);
            if (holders.empty()) {
                r.message(
                    "  which program holds it cannot be seen (another user's, or one that "
                    "locked it without keeping it open).");
            }
            r.message("Verdict: " + device + " is busy: another program has it open.");
        } else if (why == OpenRefusal::missing) {
            std::vector<std::string> present;
            s.port().list_ports(present);
            std::string list;
            for (const auto& p : present) list += (list.empty() ? "" : ", ") + p;
            r.message("  ports present: " + (list.empty() ? std::string("none") : list));
            r.message("Verdict: there is no " + device + ".");
        } else {
            r.message("Verdict: " + device + " cannot be opened.");
        }
        return kExitPort;
    }
    figures["opens"] = true;

    std::string reply = probe(s.port(), options.motor);
    r.message("Link test, motor " + options.motor + ", " + std::to_string(options.baud) +
              " baud: " + (reply.empty() ? "no reply" : "reply " + in_quotes(reply)));
    std::uint32_t answering_rate = reply.empty() ? 0 : options.baud;
    nlohmann::json rates = nlohmann::json::array();
    rates.push_back({{"baud", options.baud}, {"reply", reply}});
    if (reply.empty()) {
        for (std::uint32_t rate : kUsualRates) {
            if (rate == options.baud || r.stop_requested()) continue;
            s.port().set_baud(rate);
            reply = probe(s.port(), options.motor);
            rates.push_back({{"baud", rate}, {"reply", reply}});
            r.message("Link test at " + std::to_string(rate) +
                      " baud: " + (reply.empty() ? "no reply" : "reply " + in_quotes(reply)));
            if (!reply.empty()) {
                answering_rate = rate;
                break;
            }
        }
    }
    figures["link_tests"] = std::move(rates);
    figures["answering_baud"] = answering_rate;

    const std::uint32_t query_rate = answering_rate != 0 ? answering_rate : options.baud;
    s.port().set_baud(query_rate);
    s.port().flush_input();
    std::uint8_t version[7];
    const int got = VersionQuery(s.port(), options.motor, version);
    const std::string shown = got > 0 ? bytes_to_text(version, static_cast<std::size_t>(got)) : "";
    const std::string code =
        got >= 7 ? std::string{static_cast<char>(version[4]), static_cast<char>(version[5])}
                 : std::string();
    const auto mode = got >= 7 ? ModeOfVersion(code) : std::nullopt;
    r.message("Bootloader version query at " + std::to_string(query_rate) +
              " baud: " + (got <= 0 ? "no reply" : "reply " + in_quotes(shown)) +
              (mode ? std::string(" (version ") + code + ")" : std::string()));
    figures["bootloader_version"] = mode ? code : "";

    if (mode) {
        std::string announced = ModeAnnouncement(*mode);
        r.message("Verdict: the bootloader of motor " + options.motor + " is waiting at " +
                  std::to_string(query_rate) + " baud and will take a firmware write (" +
                  announced.substr(0, announced.size() - 2) + ").");
        return answering_rate == options.baud || answering_rate == 0 ? kExitOk : kExitController;
    }
    if (answering_rate == options.baud) {
        r.message("Verdict: motor " + options.motor + " answers on " + device + " at " +
                  std::to_string(options.baud) + " baud.");
        return kExitOk;
    }
    if (answering_rate != 0) {
        r.message("Verdict: a controller answers at " + std::to_string(answering_rate) +
                  " baud, not at " + std::to_string(options.baud) + ": use --baud " +
                  std::to_string(answering_rate) + ".");
        return kExitController;
    }
    r.message("Verdict: nothing answers motor " + options.motor + " on " + device +
              " at any usual rate: check the cable, the power and the motor number (kfu scan).");
    return kExitController;
}

}  // namespace

CommandOutcome cmd_doctor(const Options& options, Output& out) {
    CommandOutcome outcome;
    std::vector<std::string> ports = options.ports;
    LineReporter reporter(out, "", options.yes);
    if (ports.empty()) {
        serial lister(reporter, "0", options.timeout_ms);
        lister.list_ports(ports);
        if (ports.empty()) {
            reporter.message("Verdict: no serial port is present (is the adapter plugged in?).");
            outcome.exit_code = kExitPort;
            keep_lines(reporter, outcome);
            return outcome;
        }
    }
    // With several ports, the best line decides: one answering controller is
    // what was looked for.
    bool first = true;
    for (const std::string& port : ports) {
        if (reporter.stop_requested()) break;
        LineOutcome line;
        line.port = port;
        {
            const bool several = ports.size() > 1;
            LineSession session(options, port, out, several ? port + ": " : std::string(), several);
            line.exit_code = session.run_traced(
                options.command, [&] { return doctor_line(options, session, line.figures); });
            line.lines = session.reporter().lines();
            line.errors = session.reporter().errors();
        }
        outcome.exit_code = first ? line.exit_code : std::min(outcome.exit_code, line.exit_code);
        first = false;
        outcome.line_outcomes.push_back(std::move(line));
    }
    keep_lines(reporter, outcome);
    return outcome;
}

}  // namespace cli
