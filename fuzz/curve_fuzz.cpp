// The curve readers: "envelope.dat" and "equalizer.dat" bytes, curve texts and the
// equalizer's shape texts. The first byte picks the reader (and the sample rate the
// accepted curve is turned into magnitudes at); the rest is its input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "effects/dialogs.h"
#include "effects/equalizer.h"

using namespace quillet;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const settings::Settings stored(settings::FolderLocations("/nonexistent/quillet-fuzz"));
  const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  effects::EnvelopeShape curve;
  bool ok = false;
  switch (data[0] % 3) {
    case 0: ok = effects::DecodeEnvelope(rest, curve); break;
    case 1: ok = effects::ParseEqualizerCurve(rest, curve).ok(); break;
    default:
      // An empty text reads the stored file: not this reader's input.
      if (rest.empty()) return 0;
      ok = effects::EqualizerCurveOf(rest, stored, "/nonexistent/quillet-fuzz", curve).ok();
  }
  if (!ok) return 0;
  if (!effects::IsValidEnvelope(curve) || curve.size() > effects::kMaxEnvelopePoints) std::abort();
  if (effects::EncodeEnvelope(curve).size() != 1 + 2 * curve.size()) std::abort();
  static constexpr std::int64_t kRates[] = {0, 6000, 8000, 44100, 96000, 1};
  for (int m : effects::CurveMagnitudes(curve, kRates[(data[0] / 3) % 6]))
    if (m < 0 || m > 255) std::abort();
  return 0;
}
