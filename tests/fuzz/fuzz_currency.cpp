// Head-office amounts through TextToCurrency: no undefined behaviour on any text, surrounding
// blanks change nothing, and an amount read back from its own decimal form is the same amount.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "sync/integration/LigneToRecord.h"

namespace {

std::string DecimalText(std::int64_t tenThousandths) {
    const bool negative = tenThousandths < 0;
    const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(tenThousandths)
                                             : static_cast<std::uint64_t>(tenThousandths);
    std::string fraction = std::to_string(magnitude % 10000);
    fraction.insert(0, 4 - fraction.size(), '0');
    return (negative ? "-" : "") + std::to_string(magnitude / 10000) + "," + fraction;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::int64_t value = -1;
    const bool read = quorvane::TextToCurrency(text, value);
    if (!read && value != 0) {
        __builtin_trap();
    }
    std::int64_t padded = -1;
    if (quorvane::TextToCurrency("  " + text + " \t", padded) != read || padded != value) {
        __builtin_trap();
    }
    // Below 10^15 ten-thousandths a double holds the amount closely enough to round back.
    if (read && std::llabs(value) < 1000000000000000LL) {
        std::int64_t again = -1;
        if (!quorvane::TextToCurrency(DecimalText(value), again) || again != value) {
            __builtin_trap();
        }
    }
    return 0;
}
