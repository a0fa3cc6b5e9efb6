// What the tests and kfu-sim call: start and stop, the state they read, and
// the faults they ask for. Everything takes the one lock.

#include "sim/sim.h"

#include <unistd.h>

#include "sim/sim_impl.h"

SimController::SimController(SimConfig config) : impl_(std::make_unique<Impl>()) {
    Impl& m = *impl_;
    m.config = std::move(config);
    m.version = m.config.bootloader_version;
    m.bootloader = m.config.start_in_bootloader;
    m.pace_baud = m.config.pace_baud;
    m.open_line();
    m.thread = std::thread([&m] { m.run(); });
}

SimController::~SimController() { stop(); }

const std::string& SimController::path() const { return impl_->path; }

void SimController::stop() {
    Impl& m = *impl_;
    {
        std::lock_guard<std::recursive_mutex> lock(m.mutex);
        if (m.stopped) return;
        m.stopping = true;
        m.wake();
    }
    if (m.thread.joinable()) m.thread.join();
    std::lock_guard<std::recursive_mutex> lock(m.mutex);
    m.close_line();
    for (int& fd : m.wake_pipe) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    if (!m.config.link_path.empty()) ::unlink(m.config.link_path.c_str());
    m.stopped = true;
}

bool SimController::in_bootloader() const {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    return impl_->bootloader;
}

std::vector<std::uint8_t> SimController::flash() const {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    return {impl_->memory.flash->bytes.begin(), impl_->memory.flash->bytes.end()};
}

std::vector<SimFrame> SimController::frames() const {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    return impl_->frames;
}

std::vector<SimController::Command> SimController::commands() const {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    return impl_->commands;
}

std::string SimController::received() const {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    return impl_->received;
}

void SimController::clear_log() {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->frames.clear();
    impl_->commands.clear();
    impl_->received.clear();
    impl_->sent.clear();
}

std::string SimController::sent() const {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    return impl_->sent;
}

int SimController::eeprom(int address) const {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    return impl_->memory.eeprom_at(address);
}

void SimController::set_eeprom(int address, int value) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->memory.set_eeprom(address, value);
}

int SimController::eeprom_clears() const {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    return impl_->memory.eeprom_clears;
}

void SimController::set_register(const std::string& name, long value) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->memory.registers[name] = value;
}

std::optional<long> SimController::get_register(const std::string& name) const {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    const auto r = impl_->memory.registers.find(name);
    if (r == impl_->memory.registers.end()) return std::nullopt;
    return r->second;
}

std::uint32_t SimController::line_baud() const {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    return impl_->tool_baud();
}

void SimController::set_responder(std::function<std::optional<std::string>(const std::string&)> f) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->responder = std::move(f);
}

void SimController::send_raw(const std::string& bytes) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->queue(bytes, Impl::Clock::now());
    impl_->wake();
}

void SimController::set_debug_every(std::chrono::milliseconds period, const std::string& line) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->debug_period = period;
    impl_->debug_line = line;
    impl_->next_debug = Impl::Clock::now() + period;
    impl_->wake();
}

void SimController::set_silent(bool silent) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->silent = silent;
}

void SimController::drop_replies(int count) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->drop = count;
}

void SimController::garble_replies(int count) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->garble = count;
}

void SimController::split_replies(bool split) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->split = split;
}

void SimController::never_start_bootloader(bool never) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->never_start = never;
}

void SimController::refuse_frame(int index, char ack) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->refused[index] = ack;
}

void SimController::garble_ack(int index) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->garbled_acks.insert(index);
}

void SimController::silent_after_frames(int count) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->silent_after = count;
}

void SimController::wrong_echo_at(int upload_line) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->wrong_echo = upload_line;
}

void SimController::short_eeprom_ack(bool one_digit) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->short_ack = one_digit;
}

void SimController::vanish() {
    Impl& m = *impl_;
    std::unique_lock<std::recursive_mutex> lock(m.mutex);
    if (m.vanished) return;
    if (m.stopping || m.stopped || !m.thread.joinable() ||
        std::this_thread::get_id() == m.thread.get_id()) {
        m.close_line();
        m.vanished = true;
        return;
    }
    m.vanish_requested = true;
    m.wake();
    m.vanished_cv.wait(lock, [&m] { return m.vanished; });
}

void SimController::set_pace_baud(std::uint32_t baud) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->pace_baud = baud;
    impl_->line_free = Impl::Clock::time_point();
    impl_->front_active = false;  // the next byte is timed afresh
    impl_->wake();
}

void SimController::set_version_code(const std::string& code) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->version = code;
}
