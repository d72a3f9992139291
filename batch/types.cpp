#include "batch/types.h"

#include <algorithm>

#include "effects/levels.h"

namespace quillet::batch {
namespace {

using core::CommandId;
constexpr std::string_view kCurveSummary = "Click on Settings to view or change.";

constexpr BatchType Plain(std::string_view name, CommandId id) {
  return {.name = name, .command = id};
}
constexpr BatchType One(std::string_view name, BlockField f, std::string_view summary,
                        CommandId id) {
  return {.name = name, .kind = BlockKind::Numbers, .fields = {f}, .fieldCount = 1,
          .summary = summary, .command = id};
}
constexpr BatchType Curve(std::string_view name, std::string_view file, CommandId id) {
  return {.name = name, .kind = BlockKind::Curve, .summary = kCurveSummary, .command = id,
          .curveFile = file};
}

constexpr BatchType kTypes[kBatchTypeCount] = {
    Plain("&Auto Trim", core::kCmdAutoTrim),
    One("Insert Silence At The Start", {"SilenceTimes", 0, 4}, "Silence Time (ms) = %d",
        core::kCmdInsertSilenceStart),
    One("Insert Silence At The End", {"SilenceTimes", 0, 4}, "Silence Time (ms) = %d",
        core::kCmdInsertSilenceEnd),
    One("Amplify", {"AmplifyGain", 100, 2}, "Amplify Gain (%%) = %d", core::kCmdAmplify),
    One("Normalize", {"NormalizePeakLevel", 100, 2}, "Normalize Peak Level (%%) = %d",
        core::kCmdNormalize),
    One("High-Pass Filter", {"LowCutFreq", 250, 4}, "Frequency (Hz) = %d", core::kCmdHighPass),
    Curve("Equalizer", "equalizer.dat", core::kCmdEqualizerCurve),
    {.name = "Echo", .kind = BlockKind::Numbers,
     .fields = {BlockField{"EchoTime", 800, 4}, BlockField{"EchoGain", 50, 2}}, .fieldCount = 2,
     .summary = "Echo Time (ms) = %d, Echo Gain (%%) = %d", .command = core::kCmdEcho},
    {.name = "Reverb", .kind = BlockKind::Numbers,
     .fields = {BlockField{"ReverbTime", 50, 4}, BlockField{"ReverbLevel", 50, 2}},
     .fieldCount = 2, .summary = "Reverb Time (ms) = %d, Reverb Level (%%) = %d",
     .command = core::kCmdReverb},
    Curve("Envelope", "envelope.dat", core::kCmdEnvelope),
    Plain("Automatic Gain Control", core::kCmdAutoGainControl),
    One("Noise Reduction", {"NoiseGateLevel", -30, 1, true}, "Noise Gate Level (dB) = %d",
        core::kCmdNoiseGate),
    One("Speed and Pitch Change", {"SpSpeedPitch", 100, 2}, "Speed/Pitch Adjust (%%) = %d",
        core::kCmdSpeedAndPitch),
    One("Speed Change", {"ConstPitchSpeed", 100, 2}, "Speed Adjust (%%) = %d", core::kCmdSpeed),
    One("Pitch Change", {"ConstSpeedPitch", 100, 2}, "Pitch Adjust (%%) = %d", core::kCmdPitch),
    {.name = "Dynamic Range Compressor", .kind = BlockKind::Numbers,
     .fields = {BlockField{"CompressorThreshold", -20, 1, true},
                BlockField{"CompressorRatio", 0, 1}, BlockField{"CompressorLimit", 3, 1, true}},
     .fieldCount = 3, .summary = "Threshold (db) = %d, Ratio = %s, Limit (db) = %d",
     .command = core::kCmdCompressor},
    One("Convert Sample Rate", {"ConvertSampleRate", 44100, 4}, "Convert Sample Rate = %d",
        core::kCmdConvertSampleRate),
    One("Convert Channel (Mono <-> Stereo)", {"ConvertChannel", 1, 1}, "Convert Channel = %d",
        core::kCmdConvertMono),
};

constexpr std::uint32_t kCompressorType = 15;
constexpr std::string_view kRatioLabels[] = {"1:1", "3:2", "2:1", "3:1", "4:1", "5:1", "Limit"};

std::int64_t ReadField(const std::uint8_t* p, const BlockField& f) {
  std::uint32_t v = 0;
  for (int i = 0; i < f.bytes; ++i) v |= std::uint32_t(p[i]) << (8 * i);
  if (!f.isSigned) return v;
  const int bits = 8 * f.bytes;
  const std::int64_t sign = std::int64_t{1} << (bits - 1);
  return (std::int64_t(v) ^ sign) - sign;
}

}  // namespace

const BatchType& TypeOf(std::uint32_t type) { return kTypes[type]; }

std::size_t BlockLength(const BatchType& t) {
  if (t.kind == BlockKind::Curve) return kCurveBlockBytes;
  std::size_t n = 0;
  for (std::size_t i = 0; i < t.fieldCount; ++i) n += t.fields[i].bytes;
  return n;
}

std::string_view CompressorRatioLabel(std::int64_t index) {
  return index >= 0 && index < std::int64_t(std::size(kRatioLabels)) ? kRatioLabels[index]
                                                                     : std::string_view();
}

bool CurveBlockValid(const BatchCommand& c) {
  if (c.type >= kBatchTypeCount || TypeOf(c.type).kind != BlockKind::Curve) return true;
  return c.params.size() < kCurveBlockBytes || c.params[0] <= kMaxCurvePoints;
}

std::vector<std::int64_t> ValuesOf(const BatchCommand& c, const settings::Settings& s) {
  const BatchType& t = TypeOf(c.type);
  std::vector<std::int64_t> out;
  if (t.kind != BlockKind::Numbers) return out;
  const bool fromBlock = c.params.size() >= BlockLength(t);
  std::size_t at = 0;
  for (std::size_t i = 0; i < t.fieldCount; ++i) {
    const BlockField& f = t.fields[i];
    out.push_back(fromBlock ? ReadField(c.params.data() + at, f)
                            : s.GetInt("StoredValues", f.key, int(f.def)));
    at += f.bytes;
  }
  return out;
}

std::vector<std::uint8_t> BlockOf(std::uint32_t type, const std::vector<std::int64_t>& values) {
  const BatchType& t = TypeOf(type);
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i < t.fieldCount && i < values.size(); ++i)
    for (int b = 0; b < t.fields[i].bytes; ++b)
      out.push_back(std::uint8_t((std::uint64_t(values[i]) >> (8 * b)) & 0xff));
  return out;
}

std::string CurveTextOf(const BatchCommand& c) {
  if (c.params.size() < kCurveBlockBytes) return {};
  const std::size_t n = std::min<std::size_t>(c.params[0], kMaxCurvePoints);
  effects::EnvelopeShape shape;
  for (std::size_t i = 0; i < n; ++i) {
    std::uint8_t pos = c.params[1 + 2 * i];
    if (!shape.empty()) pos = std::max(pos, shape.back().position);
    shape.push_back({pos, c.params[2 + 2 * i]});
  }
  if (shape.empty()) shape = {{0, 128}, {255, 128}};
  return effects::FormatCurve(shape);
}

std::string SummaryOf(const BatchCommand& c, const settings::Settings& s) {
  const BatchType& t = TypeOf(c.type);
  const std::vector<std::int64_t> values = ValuesOf(c, s);
  std::string out;
  std::size_t next = 0;
  for (std::size_t i = 0; i < t.summary.size(); ++i) {
    const char ch = t.summary[i];
    if (ch != '%' || i + 1 == t.summary.size()) {
      out += ch;
      continue;
    }
    const char conversion = t.summary[++i];
    if (conversion == '%') {
      out += '%';
    } else if (next < values.size()) {
      const std::int64_t v = values[next++];
      out += conversion == 's' ? std::string(CompressorRatioLabel(v)) : std::to_string(v);
    }
  }
  return out;
}

std::optional<core::ParamSet> DialogValuesOf(const BatchCommand& c, const core::Command& command,
                                             const settings::Settings& s) {
  if (!command.params) return std::nullopt;
  core::ParamSet set(*command.params);
  if (TypeOf(c.type).kind == BlockKind::Curve) {
    set.SetText(0, CurveTextOf(c));
  } else {
    const std::vector<std::int64_t> values = ValuesOf(c, s);
    for (std::size_t i = 0; i < values.size() && i < set.size(); ++i) set.SetInt(i, values[i]);
  }
  return set;
}

BatchCommand CommandFromValues(std::uint32_t type, const core::ParamSet& values) {
  BatchCommand c{type, {}};
  if (TypeOf(type).kind != BlockKind::Curve) {
    std::vector<std::int64_t> numbers;
    for (std::size_t i = 0; i < values.size(); ++i) numbers.push_back(values.Int(i));
    c.params = BlockOf(type, numbers);
    return c;
  }
  effects::EnvelopeShape shape;
  if (values.Text(0).empty() || !effects::ParseEnvelope(values.Text(0), shape).ok()) return c;
  c.params.assign(kCurveBlockBytes, 0);
  c.params[0] = std::uint8_t(std::min(shape.size(), kMaxCurvePoints));
  for (std::size_t i = 0; i < c.params[0]; ++i) {
    c.params[1 + 2 * i] = shape[i].position;
    c.params[2 + 2 * i] = shape[i].level;
  }
  return c;
}

PreparedStep PrepareStep(const BatchCommand& c, const core::CommandRegistry& registry,
                         const settings::Settings& s) {
  PreparedStep step;
  const BatchType& t = TypeOf(c.type);
  const std::string name = core::MenuLabel(t.name);
  const std::vector<std::int64_t> values = ValuesOf(c, s);
  if (c.type == kCompressorType && CompressorRatioLabel(values[1]).empty()) {
    step.skip = true;
    return step;
  }
  step.command = registry.Find(t.command);
  if (!step.command || !step.command->run) {
    step.command = nullptr;
    step.message = "The command \"" + name + "\" is not available in this build.";
    return step;
  }
  step.values = DialogValuesOf(c, *step.command, s);
  if (!step.values) return step;
  std::string why = step.values->Validate();
  if (!why.empty()) {
    step.command = nullptr;
    step.values.reset();
    step.message = name + ": " + why;
  }
  return step;
}

}  // namespace quillet::batch
