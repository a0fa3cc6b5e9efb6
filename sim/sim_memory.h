#pragma once
// The simulated controller's memories: program flash in the layout of a HEX
// image, the EEPROM cells and the named registers. Every motor number on the
// line shares the one set.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "firmware/flashmem.h"

struct SimMemory {
    static constexpr int kEepromSize = 16385;

    // Flash erased (0xFF), cell a of the EEPROM holding a & 0xFF, and the
    // registers ":baud" 19200, "C" 0 and "o" 1000.
    SimMemory();

    std::unique_ptr<FirmwareImage> flash = std::make_unique<FirmwareImage>();
    std::vector<int> eeprom = std::vector<int>(kEepromSize);
    int eeprom_clears = 0;
    std::map<std::string, long> registers;

    // A cell outside the table reads 0, and writing one changes nothing.
    int eeprom_at(int address) const;
    void set_eeprom(int address, int value);
    // Every cell to 0xFF, as "~" does.
    void clear_eeprom();

    // `span` image bytes from `first` (a whole frame's words, inside the
    // image): written from the frame's data, three bytes per word with the
    // high byte first, and 0x00 into each padding byte; or erased.
    void store_words(std::uint32_t first, const std::uint8_t* data, std::uint32_t span);
    void erase(std::uint32_t first, std::uint32_t span);
};
