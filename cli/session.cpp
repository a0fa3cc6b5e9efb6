#include "cli/session.h"

#include <algorithm>
#include <utility>

#include "cli/outcome.h"
#include "cli/platform.h"
#include "common/int_text.h"
#include "common/version.h"
#include "motor/motor_com.h"
#include "serial/serial.h"
#include "serial/serial_backend.h"
#include "serial/wire_trace.h"

namespace cli {
namespace {

// The platform's backend, counting the bytes that cross the line.
class CountingBackend final : public SerialBackend {
public:
    CountingBackend(std::unique_ptr<SerialBackend> real,
                    std::shared_ptr<std::atomic<std::uint64_t>> count)
        : real_(std::move(real)), count_(std::move(count)) {}

    bool open_device(const std::string& device, int& error) override {
        return real_->open_device(device, error);
    }
    bool save_settings() override { return real_->save_settings(); }
    bool apply_timeouts() override { return real_->apply_timeouts(); }
    bool read_state() override { return real_->read_state(); }
    bool apply_state(std::uint32_t baud) override { return real_->apply_state(baud); }
    bool arm_transmit_wait() override { return real_->arm_transmit_wait(); }
    void restore_and_close() override { real_->restore_and_close(); }
    void close_device() override { real_->close_device(); }
    long read_bytes(std::uint8_t* buffer, std::size_t n, int timeout_ms) override {
        return counted(real_->read_bytes(buffer, n, timeout_ms));
    }
    long write_bytes(const std::uint8_t* data, std::size_t n, int timeout_ms) override {
        return counted(real_->write_bytes(data, n, timeout_ms));
    }
    bool drain_output(int timeout_ms) override { return real_->drain_output(timeout_ms); }
    void set_rts(bool on) override { real_->set_rts(on); }

private:
    long counted(long n) {
        if (n > 0) count_->fetch_add(static_cast<std::uint64_t>(n));
        return n;
    }

    std::unique_ptr<SerialBackend> real_;
    std::shared_ptr<std::atomic<std::uint64_t>> count_;
};

}  // namespace

int motor_number(const std::string& motor_text) {
    return motor_text == "*" ? 0 : read_integer_or(motor_text, 1);
}

LineReporter::LineReporter(Output& out, std::string prefix, bool yes)
    : out_(out), prefix_(std::move(prefix)), yes_(yes) {}

void LineReporter::message(const std::string& line) {
    lines_.push_back(line);
    last_said_ = line;
    out_.line(prefix_, line);
}

void LineReporter::box(const std::string& text, const std::string& caption, BoxIcon) {
    error(caption + ": " + text);
}

void LineReporter::error(const std::string& text) {
    errors_.push_back(text);
    last_said_ = text;
    out_.error(prefix_, text);
}

void LineReporter::set_progress_min(int value) {
    min_ = value;
    if (max_ < min_) max_ = min_;
    if (position_ < min_) position_ = min_;
    update_progress();
}

void LineReporter::set_progress_max(int value) {
    max_ = value;
    if (min_ > max_) min_ = max_;
    if (position_ > max_) position_ = max_;
    update_progress();
}

void LineReporter::set_progress_position(int value) {
    // As the window's bar, a position outside the range is ignored.
    if (value < min_ || value > max_) return;
    position_ = value;
    update_progress();
}

bool LineReporter::ask_yes_no(const std::string& text, const std::string& caption) {
    // The question is one output line, like every other.
    std::string line = caption + ": " + text;
    std::replace(line.begin(), line.end(), '\n', ' ');
    message(line);
    message(yes_ ? "Answered Yes (--yes)." : "Answered No (give --yes to answer Yes).");
    return yes_;
}

bool LineReporter::stop_requested() const { return stop_signalled(); }

void LineReporter::pause(std::chrono::milliseconds duration) {
    wait_unless_stopped(static_cast<int>(duration.count()));
}

void LineReporter::show_progress(const std::string& label,
                                 const std::atomic<std::uint64_t>* line_bytes) {
    if (slot_ >= 0) return;
    line_bytes_ = line_bytes;
    slot_ = out_.add_progress(label);
    update_progress();
}

void LineReporter::end_progress() {
    if (slot_ >= 0) out_.end_progress(slot_);
    slot_ = -1;
}

void LineReporter::update_progress() {
    if (slot_ < 0) return;
    const double fraction =
        max_ > min_ ? static_cast<double>(position_ - min_) / static_cast<double>(max_ - min_)
                    : 0.0;
    out_.set_progress(slot_, fraction, line_bytes_ ? line_bytes_->load() : 0);
}

LineSession::LineSession(const Options& options, std::string port_name, Output& out,
                         std::string prefix, bool several)
    : port_name_(std::move(port_name)),
      reporter_(out, std::move(prefix), options.yes),
      line_bytes_(std::make_shared<std::atomic<std::uint64_t>>(0)) {
    port_ = std::make_unique<serial>(
        reporter_, port_name_, options.timeout_ms,
        std::make_unique<CountingBackend>(make_platform_backend(), line_bytes_));
    if (!options.trace.empty()) {
        trace_path_ = file_for_line(options.trace, port_name_, several);
        port_->set_trace(WireTrace::start(
            trace_path_, {std::string("kfu ") + kfu_version, &reporter_, WireTrace::kPartBytes},
            trace_error_));
    }
    port_->set_baud(options.baud);
    motor_ = std::make_unique<motor_com>(*port_);
    motor_->set_id(motor_number(options.motor));
}

// The port goes before the reporter it writes to; closing it gives the line
// its old settings back.
LineSession::~LineSession() {
    reporter_.end_progress();
    motor_.reset();
    port_.reset();
}

bool LineSession::open() {
    port_->open();
    if (port_->is_open()) return true;
    const std::string device = serial::device_name(port_name_);
    const int error = port_->open_error();
    if (error == 0) {
        reporter_.error("cannot configure " + device);
        return false;
    }
    reporter_.error("cannot open " + device + ": " + open_error_text(error));
    return false;
}

int LineSession::run_traced(const std::string& command, const std::function<int()>& work) {
    if (!trace_error_.empty()) {
        reporter_.error("cannot create the trace file " + trace_path_ + ": " + trace_error_);
        return kExitFile;
    }
    const std::shared_ptr<WireTrace> trace = port_->trace();
    int code = kExitOk;
    {
        TraceOperation operation(trace, command);
        code = work();
        operation.set_result(result_word(code));
        operation.set_text(reporter_.last_said());
    }
    // The trace has said why on the line's output.
    if (trace && trace->failed()) code = worst(code, kExitFile);
    return code;
}

}  // namespace cli
