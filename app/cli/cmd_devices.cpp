// play FILE [--from F] [--to F] [--speed S | --effect COMMAND] and record OUT --seconds N [--rate HZ]
// [--channels N]: the sound device from the command line, on the editor's player and
// recorder and the devices of the settings. Ctrl+C stops either cleanly (exit 1); a
// device that is missing, busy or fails gives exit 2 with its message.
#include <charconv>
#include <cmath>

#include "app/cli/cli.h"
#include "app/cli/interrupt.h"
#include "app/cli/store.h"
#include "devices/device_choice.h"
#include "devices/document_playback.h"
#include "devices/record_command.h"
#include "devices/record_dialog_model.h"
#include "devices/stretch_play.h"
#include "effects/preview.h"
#include "formats/document_io.h"
#include "platform/frame_time.h"

namespace quillet::app {
namespace {

using platform::kTaskCancelled;
using platform::kTaskDone;
using platform::kTaskFailed;

// How often the command looks for Ctrl+C while the device runs.
constexpr int kPollMs = 50;

platform::TaskResult Usage(CommandContext& c, const char* usage) {
  std::fprintf(c.err, "usage: quillet-cli %s\n", usage);
  return kTaskFailed;
}

struct PlayWatch : devices::LPlayerListener {
  bool stopped = false;
  void Stopped(std::uintptr_t) override { stopped = true; }
};

struct RecordWatch : devices::LRecorderListener {
  bool stopped = false;
  void Stopped(std::uintptr_t) override { stopped = true; }
};

std::optional<devices::PlaySpeed> ParseSpeed(std::string_view s) {
  if (s == "normal") return devices::PlaySpeed::Normal;
  if (s == "slow") return devices::PlaySpeed::Slow;
  if (s == "fast") return devices::PlaySpeed::Fast;
  return std::nullopt;
}

// Plays until the player stops: done at the end, cancelled by Ctrl+C, failed when the
// device failed.
platform::TaskResult WaitForPlayer(CommandContext& c, platform::NotificationQueue& queue,
                                   devices::LSoundPlayer& player, const PlayWatch& watch,
                                   InterruptGuard& interrupt) {
  while (!watch.stopped) {
    queue.WaitAndDispatch(kPollMs);
    if (interrupt.interrupted()) {
      player.Close();
      std::fputs("Playback stopped.\n", c.err);
      return kTaskCancelled;
    }
  }
  // Stopped without reaching the end only when the device failed.
  if (!player.lastError().empty()) {
    std::fprintf(c.err, "%s\n", player.lastError().c_str());
    return kTaskFailed;
  }
  return kTaskDone;
}

// [from, to) of the file as a document's selection, heard through the command's
// preview as its dialog's "Pre&view" plays it.
platform::TaskResult PlayPreview(CommandContext& c, const std::string& file, long long from, long long to,
                                 const CommandWord& effect) {
  core::SegmentStore* store = CliStore(c.err);
  if (!store) return kTaskFailed;
  settings::Settings& settings = settings::Settings::Process();
  formats::DispatchEnv env(settings);
  env.prompter = &c.prompter;
  env.owner = &c.progress;
  formats::LoadFileTask load(file, *store, env);
  load.Run(c.progress);
  if (load.result != kTaskDone) {
    if (!load.message().empty()) std::fprintf(c.err, "%s\n", load.message().c_str());
    return load.result;
  }
  core::WaveDocument doc(std::move(load.chain()), 0, file);
  if (from > doc.length()) {
    std::fprintf(c.err, "quillet-cli: --from (%lld) is past the end (%lld frames)\n", from,
                 static_cast<long long>(doc.length()));
    return kTaskFailed;
  }
  doc.SetSelection(from, to < 0 ? doc.length() : to, from);

  platform::NotificationQueue queue;
  devices::LSoundPlayer player(platform::AlsaSoundSystem(), queue);
  PlayWatch watch;
  player.InstallListener(&watch, 0);
  devices::PlayerControl control(player, platform::AlsaSoundSystem(), settings, devices::TimeStretchAdaptor());
  InterruptGuard interrupt;
  effects::EffectPreview preview(&control, doc);
  const effects::Status s = preview.Press(effects::PreviewOf(*effect.command, *effect.values));
  if (!preview.notice().empty()) std::fprintf(c.err, "%s\n", preview.notice().c_str());
  if (!s.ok()) {
    std::fprintf(c.err, "quillet-cli: %s: %s\n", effect.command->cliName.c_str(), s.message.c_str());
    return kTaskFailed;
  }
  return WaitForPlayer(c, queue, player, watch, interrupt);
}

}  // namespace

platform::TaskResult RunPlayCommand(CommandContext& c) {
  constexpr const char* kUsage =
      "play FILE [--from F] [--to F] [--speed normal|slow|fast | --effect COMMAND[:P1,P2,...]]";
  std::optional<std::string> file;
  long long from = 0, to = -1;
  devices::PlaySpeed speed = devices::PlaySpeed::Normal;
  std::optional<CommandWord> effect;
  for (std::size_t i = 0; i < c.args.size(); ++i) {
    const std::string& arg = c.args[i];
    const bool hasValue = i + 1 < c.args.size();
    if (arg == "--from" || arg == "--to") {
      const auto n = hasValue ? ParseWholeNumber(c.args[i + 1]) : std::nullopt;
      if (!n || *n < 0) {
        std::fprintf(c.err, "quillet-cli: %s needs a frame number of 0 or more\n", arg.c_str());
        return kTaskFailed;
      }
      (arg == "--from" ? from : to) = *n;
      ++i;
    } else if (arg == "--speed") {
      const auto s = hasValue ? ParseSpeed(c.args[i + 1]) : std::nullopt;
      if (!s) {
        std::fputs("quillet-cli: --speed is normal, slow or fast\n", c.err);
        return kTaskFailed;
      }
      speed = *s;
      ++i;
    } else if (arg == "--effect") {
      if (!hasValue) return Usage(c, kUsage);
      effect = ParseCommandWord(c.args[++i], c.registry, c.err, false);
      if (!effect) return kTaskFailed;
      if (!effect->command->preview) {
        std::fprintf(c.err, "quillet-cli: %s has no preview\n", effect->command->cliName.c_str());
        return kTaskFailed;
      }
    } else if (!file) {
      file = arg;
    } else {
      return Usage(c, kUsage);
    }
  }
  if (!file || (effect && speed != devices::PlaySpeed::Normal)) return Usage(c, kUsage);
  if (to >= 0 && to < from) {
    std::fprintf(c.err, "quillet-cli: --to (%lld) is before --from (%lld)\n", to, from);
    return kTaskFailed;
  }
  if (effect) return PlayPreview(c, *file, from, to, *effect);

  formats::FormatsFileIo files(settings::Settings::Process());
  std::string message;
  audio::SourceHandle source = files.Open(*file, &message);
  if (!source || !source->ready()) {
    std::fprintf(c.err, "%s\n", message.empty() ? "The file cannot be read." : message.c_str());
    return kTaskFailed;
  }
  if (from > source->length()) {
    std::fprintf(c.err, "quillet-cli: --from (%lld) is past the end (%lld frames)\n", from,
                 static_cast<long long>(source->length()));
    return kTaskFailed;
  }

  platform::NotificationQueue queue;
  devices::LSoundPlayer player(platform::AlsaSoundSystem(), queue);
  PlayWatch watch;
  player.InstallListener(&watch, 0);
  devices::PlayerControl control(player, platform::AlsaSoundSystem(), settings::Settings::Process(),
                                 devices::TimeStretchAdaptor());
  control.SetSpeed(speed);
  InterruptGuard interrupt;
  const bool playing = control.Play(devices::SourceRange(source, from, to));
  if (!control.message().empty()) std::fprintf(c.err, "%s\n", control.message().c_str());
  if (!playing) return kTaskFailed;
  return WaitForPlayer(c, queue, player, watch, interrupt);
}

platform::TaskResult RunRecordCommand(CommandContext& c) {
  constexpr const char* kUsage = "record OUT --seconds N [--rate HZ] [--channels N]";
  std::optional<std::string> out;
  double seconds = 0;
  long long rate = 44100, channels = 2;
  for (std::size_t i = 0; i < c.args.size(); ++i) {
    const std::string& arg = c.args[i];
    const std::string* value = i + 1 < c.args.size() ? &c.args[i + 1] : nullptr;
    if (arg == "--seconds") {
      double v = 0;
      const char* end = value ? value->data() + value->size() : nullptr;
      if (!value || std::from_chars(value->data(), end, v).ptr != end || !(v > 0) || v > 24 * 3600.0) {
        std::fputs("quillet-cli: --seconds needs a time above 0 and at most 86400\n", c.err);
        return kTaskFailed;
      }
      seconds = v;
      ++i;
    } else if (arg == "--rate" || arg == "--channels") {
      const bool isRate = arg == "--rate";
      const long long lo = isRate ? 1000 : 1, hi = isRate ? 384000 : 8;
      const long long n = (value ? ParseWholeNumber(*value) : std::nullopt).value_or(lo - 1);
      if (n < lo || n > hi) {
        std::fprintf(c.err, "quillet-cli: %s must be between %lld and %lld\n", arg.c_str(), lo, hi);
        return kTaskFailed;
      }
      (isRate ? rate : channels) = n;
      ++i;
    } else if (!out) {
      out = arg;
    } else {
      return Usage(c, kUsage);
    }
  }
  if (!out || seconds <= 0) return Usage(c, kUsage);

  settings::Settings& settings = settings::Settings::Process();
  const devices::RecorderSettings stored = devices::RecorderSettings::Load(settings);
  if (auto invalid = stored.Validate()) {
    std::fprintf(c.err, "%s\n", invalid->c_str());
    return kTaskFailed;
  }
  devices::RecordOptions options = stored.Options();
  const devices::DeviceChoice device =
      devices::ChooseDevice(platform::AlsaSoundSystem(), settings, devices::kRecordDevice);
  if (!device.message.empty()) std::fprintf(c.err, "%s\n", device.message.c_str());
  options.device = device.name;
  const std::int64_t limitMs = std::llround(seconds * 1000);
  // The recorder ends after the capture time; auto trim may keep less of it.
  options.timeLimitMs = limitMs;
  options.captureLimitMs = limitMs;

  core::SegmentStore* store = CliStore(c.err);
  if (!store) return kTaskFailed;
  devices::RecordingTake take(*store, static_cast<std::uint32_t>(rate), static_cast<int>(channels));
  platform::NotificationQueue queue;
  devices::LSoundRecorder recorder(platform::AlsaSoundSystem(), queue);
  RecordWatch watch;
  recorder.InstallListener(&watch, 0);
  bool interrupted = false;
  {
    audio::SinkHandle sink = take.SinkAt(0);
    if (sink->failed()) {
      std::fprintf(c.err, "%s\n", sink->failureMessage().c_str());
      return kTaskFailed;
    }
    InterruptGuard interrupt;
    if (!recorder.Start(sink, options)) {
      std::fprintf(c.err, "%s\n", recorder.lastError().c_str());
      return kTaskFailed;
    }
    while (!watch.stopped) {
      queue.WaitAndDispatch(kPollMs);
      if (interrupt.interrupted()) {
        interrupted = true;
        break;
      }
    }
    recorder.Stop();
    if (!recorder.lastError().empty()) {
      std::fprintf(c.err, "%s\n", recorder.lastError().c_str());
      return kTaskFailed;
    }
    if (!sink->Finish() || sink->failed()) {
      std::fprintf(c.err, "%s\n", sink->failureMessage().c_str());
      return kTaskFailed;
    }
  }

  formats::DispatchEnv env(settings);
  env.prompter = &c.prompter;
  env.owner = &c.progress;
  const core::AudioChain& recorded = take.chain();
  formats::SaveChainTask save(recorded, *out, env, 16);
  save.Run(c.progress);
  if (save.result != kTaskDone) {
    if (!save.message().empty()) std::fprintf(c.err, "%s\n", save.message().c_str());
    return save.result;
  }
  std::fprintf(c.out, "frames=%lld\n", static_cast<long long>(core::ChainLength(recorded)));
  // Cut short, but what was recorded is kept.
  if (interrupted) {
    std::fprintf(c.err, "Recording stopped early; what was recorded is in %s.\n", out->c_str());
    return kTaskCancelled;
  }
  return kTaskDone;
}

}  // namespace quillet::app
