#include <cstdio>

#include "app/cli/cli_commands.h"
#include "formats/dispatch.h"
#include "formats/parse_log.h"
#include "formats/wav_reader.h"
#include "platform/frame_time.h"
#include "settings/settings.h"

namespace quillet::app {
namespace {

// h:mm:ss.mmm
std::string Duration(std::int64_t frames, std::int64_t rate) {
  const std::int64_t ms = platform::MsFromFrames(frames, rate);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld.%03lld", static_cast<long long>(ms / 3600000),
                static_cast<long long>(ms / 60000 % 60), static_cast<long long>(ms / 1000 % 60),
                static_cast<long long>(ms % 1000));
  return buf;
}

}  // namespace

platform::TaskResult RunInfo(const std::vector<std::string>& args, std::ostream& out,
                             std::ostream& err, platform::ProgressWindowFactory& progress) {
  if (args.size() != 1) {
    err << "usage: quillet-cli info FILE\n";
    return platform::kTaskFailed;
  }
  // No questions: a raw file is read with its stored record.
  formats::DispatchEnv env(settings::Settings::Process());
  env.owner = &progress;
  formats::OpenOutcome opened = formats::OpenDispatch(args[0], nullptr, env);
  if (opened.result != platform::kTaskDone) {
    if (!opened.message.empty()) err << opened.message << "\n";
    return opened.result;
  }
  const audio::SourceHandle& src = opened.source;
  const auto* details = dynamic_cast<const formats::WaveSourceDetails*>(src.get());
  const bool pcm = dynamic_cast<const formats::LWavePCMSoundSource*>(src.get()) != nullptr;
  // A WAVE file read directly says how it is coded; decoded files name their decoder.
  if (opened.reader == "wave" || opened.reader == "dct")
    out << "reader=" << opened.reader << (pcm ? "-pcm" : "-codec") << "\n";
  else
    out << "reader=" << opened.reader << "\n";
  if (details && opened.reader != "wave" && opened.reader != "dct") details = nullptr;
  if (details) {
    const formats::WaveFormat& f = details->format();
    const std::uint16_t tag = f.tag == formats::wave_tag::kExtensible ? f.SubFormatTag() : f.tag;
    out << "format=" << formats::FormatTagName(tag)
        << (f.tag == formats::wave_tag::kExtensible ? " (extensible)" : "") << "\n";
    out << "bits=" << f.bits << "\n";
  }
  out << "rate=" << src->sampleRate() << "\n";
  out << "channels=" << src->channels() << "\n";
  out << "frames=" << src->length() << "\n";
  out << "duration=" << Duration(src->length(), src->sampleRate()) << "\n";
  if (const auto* n = dynamic_cast<const formats::SourceNotices*>(src.get()))
    for (const std::string& line : n->notices()) out << "notice=" << line << "\n";
  return platform::kTaskDone;
}

}  // namespace quillet::app
