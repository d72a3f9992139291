#include "app/cli/cli_commands.h"
#include "audio/transfer.h"
#include "formats/messages.h"
#include "formats/wav_chooser.h"
#include "formats/wav_reader.h"
#include "formats/wav_writer.h"

namespace quillet::app {

int RunConvert(const std::vector<std::string>& args, std::ostream&, std::ostream& err) {
  if (args.size() != 2) {
    err << "usage: quillet-cli convert IN OUT\n";
    return 2;
  }
  const std::string& in = args[0];
  const std::string& outName = args[1];
  audio::SourceHandle src = formats::OpenWaveFile(in);
  if (!src->ready()) {
    err << formats::OpenFailureMessage(src->status(), in) << "\n";
    return 2;
  }
  // No dialog here: the stored choice, following the document's rate and channels for
  // PCM as the save options would.
  const formats::WaveFormat target = formats::WaveSaveFormat(
      static_cast<std::uint32_t>(src->sampleRate()), src->channels(), /*followDocument=*/true);
  audio::SinkHandle sink = formats::MakeWaveFormatSink(outName, target);
  auto fail = [&](const std::string& why) {
    if (auto* file = dynamic_cast<formats::LWaveFileSink*>(sink.get())) file->Abandon();
    err << formats::SaveFailureMessage(outName) << "\n";
    if (!why.empty()) err << why << "\n";
    return 2;
  };
  if (sink->failed()) return fail(sink->failureMessage());
  const audio::TransferOutcome moved = audio::TransferAdapted(src, *sink, audio::FormatAdaptors{});
  if (moved.result != audio::TaskResult::Done) {
    if (moved.result == audio::TaskResult::Cancelled) {
      if (auto* file = dynamic_cast<formats::LWaveFileSink*>(sink.get())) file->Abandon();
      return 1;
    }
    return fail(moved.message);
  }
  if (!sink->Finish()) return fail(sink->failureMessage());
  return 0;
}

}  // namespace quillet::app
