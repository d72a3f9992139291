#include "core/time_text.h"

#include <cstdio>
#include <limits>

namespace quillet::core {
namespace {

// Far beyond any document (about 29 million years), small enough that every step
// below stays inside 64 bits.
constexpr std::int64_t kMaxSeconds = std::int64_t{1} << 50;

}  // namespace

std::string FormatTimeHundredths(std::int64_t ms) {
  const bool negative = ms < 0;
  // Magnitude in unsigned arithmetic: the most negative value has no positive twin.
  std::uint64_t m = negative ? 0 - static_cast<std::uint64_t>(ms) : static_cast<std::uint64_t>(ms);
  m = m > std::numeric_limits<std::uint64_t>::max() - 5 ? m : m + 5;
  const std::uint64_t hundredths = (m / 10) % 100;
  const std::uint64_t seconds = m / 1000;
  char text[64];
  std::snprintf(text, sizeof text, "%s%llu:%02llu:%02llu.%02llu", negative ? "-" : "",
                static_cast<unsigned long long>(seconds / 3600),
                static_cast<unsigned long long>(seconds / 60 % 60),
                static_cast<unsigned long long>(seconds % 60),
                static_cast<unsigned long long>(hundredths));
  return text;
}

std::int64_t ParseTimeText(std::string_view text) {
  std::int64_t carried = 0;  // seconds before the current field, already times 60
  std::int64_t field = 0;
  std::int64_t fraction = 0;  // ms
  int fractionDigits = -1;    // -1: before the first '.'
  bool negative = false;
  for (char c : text) {
    if (c == '-') {
      negative = true;
    } else if (c == '.') {
      if (fractionDigits < 0) fractionDigits = 0;
    } else if (c == ':') {
      if (fractionDigits < 0) {
        carried = carried + field > kMaxSeconds / 60 ? kMaxSeconds : (carried + field) * 60;
        field = 0;
      }
    } else if (c >= '0' && c <= '9') {
      const int d = c - '0';
      if (fractionDigits < 0) {
        field = field > kMaxSeconds / 10 ? kMaxSeconds : field * 10 + d;
      } else if (fractionDigits < 3) {
        static constexpr int kPlace[] = {100, 10, 1};
        fraction += d * kPlace[fractionDigits++];
      }
    }
  }
  std::int64_t seconds = carried + field;
  if (seconds > kMaxSeconds) seconds = kMaxSeconds;
  const std::int64_t ms = seconds * 1000 + fraction;
  return negative ? -ms : ms;
}

bool IsTimeText(std::string_view text) {
  bool digit = false;
  for (char c : text) {
    if (c >= '0' && c <= '9') digit = true;
    else if (c != ':' && c != '.' && c != '-' && c != ' ' && c != '\t') return false;
  }
  return digit;
}

}  // namespace quillet::core
