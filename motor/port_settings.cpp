#include "motor/port_settings.h"

#include "common/int_text.h"
#include "serial/serial.h"

bool apply_port_settings(serial& port, const std::string& baud_text,
                         const std::string& timeout_text) {
    port.set_baud(static_cast<std::uint32_t>(read_integer_or(baud_text, 115200)));
    // A negative time-out would wrap to weeks of waiting per read, so it is
    // refused like text that is no number at all.
    const auto timeout = read_integer(timeout_text);
    const bool usable = timeout && *timeout >= 0;
    port.set_timeout(usable ? static_cast<std::uint32_t>(*timeout) : 100u);
    if (!usable) return false;
    port.open();
    return true;
}
