#include "effects/gain.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace quillet::effects {
namespace {

const std::array<std::int64_t, kMaxDecibel - kMinDecibel + 1>& Table() {
  static const auto table = [] {
    std::array<std::int64_t, kMaxDecibel - kMinDecibel + 1> t{};
    for (int dB = kMinDecibel; dB <= kMaxDecibel; ++dB)
      t[static_cast<std::size_t>(dB - kMinDecibel)] =
          std::llround(static_cast<double>(kUnity) * std::pow(10.0, dB / 20.0));
    return t;
  }();
  return table;
}

}  // namespace

std::int64_t DecibelGain(int dB) {
  return Table()[static_cast<std::size_t>(std::clamp(dB, kMinDecibel, kMaxDecibel) - kMinDecibel)];
}

int DecibelOfGain(std::int64_t gain) {
  if (gain <= 0) return kMinDecibel;
  const double dB = 20 * std::log10(static_cast<double>(gain) / static_cast<double>(kUnity));
  return static_cast<int>(std::clamp<double>(std::round(dB), kMinDecibel, kMaxDecibel));
}

}  // namespace quillet::effects
