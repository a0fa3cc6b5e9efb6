// The bootloader: its version reply, the binary data and clear frames, and
// the ASCII mode's HEX lines.

#include "firmware/flashmem.h"
#include "sim/sim_impl.h"

bool SimController::Impl::begin_binary_frame(char c) {
    if (!bootloader || ascii_mode() || body != "@" || (c != ':' && c != 'C')) return false;
    binary_kind = c;
    binary_1536 = version != "01";
    const std::size_t address = binary_1536 ? 3 : 2;
    const std::size_t data = c == ':' ? (binary_1536 ? 1536 : 96) : 0;
    binary_need = address + data + 1;
    binary.clear();
    state = State::Binary;
    return true;
}

void SimController::Impl::on_bootloader_command(int id, const std::string& command,
                                                Clock::time_point now) {
    if (command == " ") {
        reply("BLV:" + version + "\r", now);
    } else if (command == "@S") {
        reply(prefix(id) + "@OK\r", now);
    } else if (command == "@E") {
        bootloader = false;
        restart_zeros_left = config.restart_zero_answers;
        reply(prefix(id) + "@E\r", now);
    }
    // A bootloader knows nothing else and stays quiet.
}

std::optional<char> SimController::Impl::ack_for(int index, char good) const {
    if (silent_after >= 0 && index >= silent_after) return std::nullopt;
    if (const auto r = refused.find(index); r != refused.end()) return r->second;
    if (garbled_acks.count(index)) return '?';
    return good;
}

void SimController::Impl::send_ack(char ack, Clock::time_point now) {
    std::string bytes = config.usb_cr_acks ? "\r" : "";
    bytes += ack;
    bytes += '\r';
    reply(bytes, now);
}

void SimController::Impl::on_binary_frame() {
    const auto id = addressed(target);
    if (!id) return;
    const Clock::time_point now = Clock::now();
    const int index = static_cast<int>(frames.size());
    const bool clear = binary_kind == 'C';

    SimFrame f{};
    f.kind = binary_1536 ? (clear ? SimFrame::Clear1536 : SimFrame::Data1536)
                         : (clear ? SimFrame::Clear96 : SimFrame::Data96);
    f.length = 1 + target.size() + 2 + binary.size();
    f.checksum_ok = FrameChecksum(binary.data(), binary.size() - 1) == binary.back();
    const std::size_t address_bytes = binary_1536 ? 3 : 2;
    for (std::size_t i = 0; i < address_bytes; ++i) f.address = (f.address << 8) | binary[i];
    const std::uint32_t first = 2 * f.address;
    const std::uint32_t span = binary_1536 ? 2048 : 128;
    const bool in_range = first + span <= kImageSize;
    frames.push_back(f);

    const char good = binary_1536 ? 'k' : (clear ? 'C' : 'Y');
    const auto ack = ack_for(index, f.checksum_ok && in_range ? good : 'n');
    const bool accepted = f.checksum_ok && in_range && !refused.count(index);
    if (accepted) {
        if (clear) {
            memory.erase(first, span);
        } else {
            memory.store_words(first, binary.data() + address_bytes, span);
        }
    }
    if (ack) send_ack(*ack, now);
}

void SimController::Impl::on_ascii_line(const std::string& line, Clock::time_point now) {
    const int index = static_cast<int>(frames.size());
    SimFrame f{};
    f.kind = SimFrame::AsciiLine;
    f.line = line;
    f.length = 1 + target.size() + 1 + line.size() + 1;
    int result = kHexOk;
    if (!refused.count(index)) result = ParseHexLine(*memory.flash, line);
    f.checksum_ok = result != kHexDataChecksum && result != kHexUpperChecksum;
    frames.push_back(f);

    if (silent_after >= 0 && index >= silent_after) return;
    if (const auto r = refused.find(index); r != refused.end()) {
        reply(std::string(1, r->second) + "\r", now);
    } else if (!f.checksum_ok) {
        reply("ERR\r", now);
    } else if (garbled_acks.count(index)) {
        reply("?KLINE\r", now);
    } else {
        reply("OKLINE\r", now);
    }
}
