#include "sim/sim_memory.h"

#include <algorithm>

SimMemory::SimMemory() {
    FillImage(*flash);
    for (int a = 0; a < kEepromSize; ++a) eeprom[a] = a & 0xFF;
    registers[":baud"] = 19200;
    registers["C"] = 0;
    registers["o"] = 1000;
}

int SimMemory::eeprom_at(int address) const {
    return address >= 0 && address < kEepromSize ? eeprom[address] : 0;
}

void SimMemory::set_eeprom(int address, int value) {
    if (address >= 0 && address < kEepromSize) eeprom[address] = value;
}

void SimMemory::clear_eeprom() {
    std::fill(eeprom.begin(), eeprom.end(), 0xFF);
    ++eeprom_clears;
}

void SimMemory::store_words(std::uint32_t first, const std::uint8_t* data, std::uint32_t span) {
    std::uint8_t* words = flash->bytes.data() + first;
    for (std::uint32_t w = 0; w < span / 4; ++w) {
        words[4 * w] = data[3 * w + 2];
        words[4 * w + 1] = data[3 * w + 1];
        words[4 * w + 2] = data[3 * w];
        words[4 * w + 3] = 0x00;
    }
}

void SimMemory::erase(std::uint32_t first, std::uint32_t span) {
    std::fill(flash->bytes.data() + first, flash->bytes.data() + first + span, 0xFF);
}
