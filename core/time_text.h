#pragma once
// Times as people type and read them: h:mm:ss.hh in the time fields, and the reading
// of a typed time, which is forgiving about what it skips.

#include <cstdint>
#include <string>
#include <string_view>

namespace quillet::core {

// "h:mm:ss.hh", rounded to the nearest hundredth (5 ms added before truncating);
// a negative time gets a leading '-' and is formatted by its magnitude.
std::string FormatTimeHundredths(std::int64_t ms);

// Milliseconds of a typed time: digits build the current field, ':' carries what came
// before into the next (times 60), digits after the first '.' are tenths, hundredths
// and thousandths (later ones count nothing, a second '.' is ignored), a '-' anywhere
// makes it negative, anything else is skipped. Saturates instead of overflowing.
std::int64_t ParseTimeText(std::string_view text);

// Whether text reads as a time: at least one digit, and nothing but digits, ':', '.',
// '-' and blanks, so a slip of the keyboard is refused rather than read as zero.
bool IsTimeText(std::string_view text);

}  // namespace quillet::core
