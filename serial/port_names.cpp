// The order in which port lists are shown, the same on every platform.

#include <string>

#include "common/ascii.h"
#include "serial/serial.h"

// Runs of digits compare by value, everything else by character.
bool natural_less(const std::string& a, const std::string& b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (is_digit(a[i]) && is_digit(b[j])) {
            std::size_t i_end = i;
            std::size_t j_end = j;
            while (i_end < a.size() && is_digit(a[i_end])) ++i_end;
            while (j_end < b.size() && is_digit(b[j_end])) ++j_end;
            // Compare values without converting: skip leading zeros, then the
            // longer run is the larger number.
            std::size_t i_sig = i;
            std::size_t j_sig = j;
            while (i_sig + 1 < i_end && a[i_sig] == '0') ++i_sig;
            while (j_sig + 1 < j_end && b[j_sig] == '0') ++j_sig;
            const std::size_t i_len = i_end - i_sig;
            const std::size_t j_len = j_end - j_sig;
            if (i_len != j_len) return i_len < j_len;
            const int cmp = a.compare(i_sig, i_len, b, j_sig, j_len);
            if (cmp != 0) return cmp < 0;
            i = i_end;
            j = j_end;
            continue;
        }
        if (a[i] != b[j])
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
        ++i;
        ++j;
    }
    if (a.size() - i != b.size() - j) return a.size() - i < b.size() - j;
    return a < b;
}
