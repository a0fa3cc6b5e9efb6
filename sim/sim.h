#pragma once
// A simulated motor controller (firmware and bootloader) answering on a
// pseudo-terminal. Used by the tests, the benchmarks and the demo run.
//
// Wire shapes it speaks (the tool relies on exactly these):
//  - ordinary command: "#" + motor number or "*" + command + CR; reply
//    "<motor number><reply proper>" CR, the number as "%03d" (or plain, see
//    SimConfig::padded_ids). Only addressed motors answer; for "*" the first
//    simulated motor answers.
//  - "@S" -> "@OK" and the bootloader starts; "@E" leaves it, after which
//    "i" answers 0 `restart_zero_answers` times and then 1.
//  - in the bootloader: version query "#" + id + " " CR -> the 7 bytes
//    "BLV:" + version code + CR; binary data and clear frames of the 1536-
//    and 96-byte modes, checked byte by byte, acknowledged with ack + CR
//    (optionally preceded by a CR, as USB adapters do); ASCII mode lines
//    "#" + id + "@" + HEX line + CR acknowledged with the 7 bytes "OKLINE" CR.
//  - "(E" + decimal address -> "+" + value from the EEPROM table.
//  - "~" clears the EEPROM and, after `eeprom_clear_delay_ms`, answers the
//    motor number padded to three digits + "~" CR.
//  - "(JS", "(J" + number, "(JI" are echoed.
//  - a register table: "name" -> name + "+" + value (or without "+"),
//    "name=value" sets it; ":baud" is such a register.
//  - any other command is echoed.
//
// Several motor numbers may share the line; they share one memory (flash,
// EEPROM, registers) and one bootloader state. A data frame writes the three
// data bytes of each word and 0x00 into the padding byte, as the HEX files of
// these controllers carry it; an erased word reads 0xFF in all four bytes.
// A HEX line with a bad checksum in the ASCII mode is answered "ERR" CR.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct SimConfig {
    std::vector<int> motor_ids{1};
    bool padded_ids = true;            // "001" rather than "1" ahead of replies
    std::string bootloader_version = "02";
    bool start_in_bootloader = false;
    bool usb_cr_acks = false;          // acknowledgements preceded by CR
    bool register_plus = true;         // "name+value" rather than "namevalue"
    std::uint32_t pace_baud = 0;       // 0: no pacing; else bytes leave at this rate
    int restart_zero_answers = 3;      // "i" answers 0 this often after "@E"
    int eeprom_clear_delay_ms = 700;
    // When set, bytes that arrive while the tool's side of the line runs at
    // another rate are not understood, as a real controller would only see
    // garbage then.
    std::uint32_t only_baud = 0;
    std::string link_path;             // when set, a symbolic link to the pty
};

// One bootloader frame as the simulator received it.
struct SimFrame {
    enum Kind { Data1536, Clear1536, Data96, Clear96, AsciiLine } kind;
    std::uint32_t address = 0;  // word address (1536), word address (96), or 0
    std::size_t length = 0;     // bytes of the whole frame
    bool checksum_ok = true;
    std::string line;           // AsciiLine only: the HEX line as sent
};

class SimController {
public:
    explicit SimController(SimConfig config = {});
    ~SimController();
    SimController(const SimController&) = delete;
    SimController& operator=(const SimController&) = delete;

    // Path of the slave side the tool opens, e.g. /dev/pts/7.
    const std::string& path() const;
    // Stops answering and closes the pty.
    void stop();

    // --- state, safe to call from the test's thread at any time ---
    bool in_bootloader() const;
    // Program memory in the layout of a HEX image: 262,144 bytes, four per
    // 24-bit word (low, middle, high, padding); erased bytes are 0xFF.
    std::vector<std::uint8_t> flash() const;
    std::vector<SimFrame> frames() const;
    // Ordinary command frames received, without "#"... CR: {target, command}.
    struct Command {
        std::string target;  // "1", "001", "*" ... as received
        std::string command;
    };
    std::vector<Command> commands() const;
    // Every byte received since the start or the last clear_log().
    std::string received() const;
    // Every byte that went out to the tool since then.
    std::string sent() const;
    void clear_log();
    int eeprom(int address) const;
    void set_eeprom(int address, int value);  // values above 255 allowed
    int eeprom_clears() const;
    void set_register(const std::string& name, long value);
    std::optional<long> get_register(const std::string& name) const;
    // The baud rate the tool's side of the line is set to.
    std::uint32_t line_baud() const;

    // Answers ordinary commands before the built-in table when it returns a
    // reply proper (prefix and CR are added). Runs on the simulator's thread;
    // it may call the accessors above.
    void set_responder(std::function<std::optional<std::string>(const std::string& command)> f);

    // --- spontaneous output and faults ---
    void send_raw(const std::string& bytes);  // raw bytes, as a debug line would come
    // `line` is sent as it stands (include its CR); a period of 0 stops it.
    void set_debug_every(std::chrono::milliseconds period, const std::string& line);
    void set_silent(bool silent);          // receive everything, answer nothing
    void drop_replies(int count);          // the next `count` replies are lost
    void garble_replies(int count);        // the next `count` replies are corrupted
    void split_replies(bool split);        // each reply leaves in two writes with a pause
    void never_start_bootloader(bool never);  // "@S" gets no "@OK"
    void refuse_frame(int index, char ack = 'n');  // bootloader frame `index` (0-based) refused
    void garble_ack(int index);            // ack of frame `index` is a wrong byte
    void silent_after_frames(int count);   // no more acks after `count` frames
    void wrong_echo_at(int upload_line);   // program upload line (0-based) echoed wrongly
    void short_eeprom_ack(bool one_digit); // "1~" CR instead of "001~" CR
    void vanish();                         // the line disappears: the pty is closed
    void set_pace_baud(std::uint32_t baud);
    void set_version_code(const std::string& code);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
