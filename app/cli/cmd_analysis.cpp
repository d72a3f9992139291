// spectrum FILE --at FRAME and spectrogram FILE OUT.png [--from F] [--to T]: the
// analysis windows' data on the terminal and as a picture, from the same code.
#include <cinttypes>
#include <optional>

#include "app/cli/cli.h"
#include "app/cli/png.h"
#include "app/cli/store.h"
#include "core/chain_source.h"
#include "effects/spectrum.h"
#include "formats/document_io.h"
#include "settings/settings.h"

namespace quillet::app {
namespace {

// The file's audio in the store, or nullopt after the reason was written to err.
std::optional<core::AudioChain> Load(CommandContext& c, const std::string& path) {
  core::SegmentStore* store = CliStore(c.err);
  if (!store) return std::nullopt;
  formats::DispatchEnv env(settings::Settings::Process());
  env.prompter = &c.prompter;
  env.owner = &c.progress;
  formats::LoadFileTask load(path, *store, env);
  load.Run(c.progress);
  if (load.result != platform::kTaskDone) {
    if (!load.message().empty()) std::fprintf(c.err, "%s\n", load.message().c_str());
    return std::nullopt;
  }
  return load.chain();
}

// "--name VALUE" options of args from index `from`; false after a message for anything else.
bool Options(CommandContext& c, std::size_t from,
             std::initializer_list<std::pair<std::string_view, std::optional<long long>*>> names) {
  for (std::size_t i = from; i < c.args.size(); i += 2) {
    bool known = false;
    for (const auto& [name, value] : names) {
      if (c.args[i] != name) continue;
      known = true;
      *value = i + 1 < c.args.size() ? ParseWholeNumber(c.args[i + 1]) : std::nullopt;
      if (!*value || **value < 0) {
        std::fprintf(c.err, "quillet-cli: %s needs a whole number of 0 or more\n", c.args[i].c_str());
        return false;
      }
    }
    if (!known) {
      std::fprintf(c.err, "quillet-cli: unexpected \"%s\"\n", c.args[i].c_str());
      return false;
    }
  }
  return true;
}

}  // namespace

platform::TaskResult RunSpectrumCommand(CommandContext& c) {
  std::optional<long long> at;
  if (c.args.empty() || !Options(c, 1, {{"--at", &at}}) || !at) {
    std::fputs("usage: quillet-cli spectrum FILE --at FRAME\n", c.err);
    return platform::kTaskFailed;
  }
  const std::optional<core::AudioChain> chain = Load(c, c.args[0]);
  if (!chain) return platform::kTaskFailed;
  auto src = core::ChainOpenSource(*chain);
  effects::FrequencyData d;
  const platform::Outcome r = effects::ComputeFrequencyData(*src, *at, d);
  if (!r.done()) {
    std::fprintf(c.err, "%s\n", r.message.c_str());
    return r.result;
  }
  for (std::size_t ch = 0; ch < d.levels.size(); ++ch) {
    std::fprintf(c.out, "# channel %zu\n", ch + 1);
    for (int k = 0; k < d.bins(); ++k)
      std::fprintf(c.out, "%.2f %d\n", d.BinHz(k), d.levels[ch][static_cast<std::size_t>(k)]);
  }
  return platform::kTaskDone;
}

platform::TaskResult RunSpectrogramCommand(CommandContext& c) {
  std::optional<long long> from, to, width, height, brightness;
  if (c.args.size() < 2 || !Options(c, 2, {{"--from", &from}, {"--to", &to}, {"--width", &width},
                                             {"--height", &height}, {"--brightness", &brightness}})) {
    std::fputs("usage: quillet-cli spectrogram FILE OUT.png [--from F] [--to T] [--width W] "
               "[--height H] [--brightness B]\n",
               c.err);
    return platform::kTaskFailed;
  }
  const std::optional<core::AudioChain> chain = Load(c, c.args[0]);
  if (!chain) return platform::kTaskFailed;
  const long long length = core::ChainLength(*chain);
  const long long a = std::min(from.value_or(0), length), b = std::min(to.value_or(length), length);
  if (b <= a) {
    std::fprintf(c.err, "quillet-cli: the range [%lld, %lld) holds no audio (the file has %lld frames)\n",
                 a, b, length);
    return platform::kTaskFailed;
  }
  effects::TemporalView view{.width = int(std::clamp(width.value_or(1024), 1LL, 8192LL)),
                             .height = int(std::clamp(height.value_or(512), 1LL, 8192LL)),
                             .brightness = int(std::clamp<long long>(brightness.value_or(effects::kDefaultBrightness),
                                                                     effects::kMinBrightness,
                                                                     effects::kMaxBrightness))};
  effects::TemporalTask task(audio::SourceHandle(core::ChainOpenSource(*chain)), a, b - a);
  task.Run(c.progress);
  if (task.result != platform::kTaskDone) {
    if (!task.message.empty()) std::fprintf(c.err, "%s\n", task.message.c_str());
    return task.result;
  }
  const std::string failure =
      WritePng(c.args[1], view.width, view.height, effects::RenderTemporal(task.data, view));
  if (!failure.empty()) {
    std::fprintf(c.err, "%s\n", failure.c_str());
    return platform::kTaskFailed;
  }
  return platform::kTaskDone;
}

}  // namespace quillet::app
