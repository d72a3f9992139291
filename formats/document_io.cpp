#include "formats/document_io.h"

#include "audio/resample.h"
#include "core/chain_source.h"
#include "core/segment_sink.h"
#include "formats/messages.h"
#include "formats/mp3_source.h"
#include "formats/wav_chooser.h"
#include "formats/wav_reader.h"
#include "formats/wav_writer.h"
#include "platform/paths.h"

namespace quillet::formats {

audio::SourceHandle OpenAudioFile(const std::filesystem::path& file, std::string* readerName) {
  const std::string name = file.string();
  if (platform::SameExtension(platform::PathExtension(name), ".mp3")) {
    if (readerName) *readerName = "mp3";
    return OpenMp3Source(file);
  }
  if (readerName) *readerName = "wave";
  return OpenWaveFile(file);
}

audio::SinkHandle MakeAudioFileSink(const std::filesystem::path& file, std::uint32_t rate,
                                    int channels, int sourceBits) {
  // No dialog here: the stored choice, following the document's rate and channels for
  // PCM as the save options would.
  if (!ReadWavCodecFile(WavCodecFilePath()) &&
      (sourceBits == 8 || sourceBits == 24 || sourceBits == 32))
    return MakeWaveFormatSink(file, MakePcmFormat(rate, channels, sourceBits));
  return MakeWaveFormatSink(file, WaveSaveFormat(rate, channels, /*followDocument=*/true));
}

int SourcePcmBits(const audio::LSoundSource& source) {
  const auto* wave = dynamic_cast<const WaveSourceDetails*>(&source);
  if (!wave) return 0;
  const WaveFormat& f = wave->format();
  // Extensible PCM (what sox and ffmpeg write above 16 bits) counts as PCM.
  if (f.tag != wave_tag::kPcm &&
      !(f.tag == wave_tag::kExtensible && f.SubFormatTag() == wave_tag::kPcm))
    return 0;
  return f.bits == 8 || f.bits == 16 || f.bits == 24 || f.bits == 32 ? f.bits : 0;
}

const audio::FormatAdaptors& DefaultAdaptors() { return audio::StandardFormatAdaptors(); }

audio::TransferOutcome TransferUnderTask(platform::LProgressDialog& task,
                                         audio::SourceHandle source, audio::LSoundSink& sink) {
  audio::TransferOutcome out = audio::TransferAdapted(
      std::move(source), sink, DefaultAdaptors(),
      [&task](audio::FrameCount done, audio::FrameCount total) {
        task.SetProgress(total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 0.0);
        return !task.Pump();
      });
  if (out.result == audio::TaskResult::Done && !sink.Finish()) {
    out.result = audio::TaskResult::Failed;
    out.message = sink.failureMessage();
  }
  if (out.result != audio::TaskResult::Done) sink.Abandon();
  return out;
}

LoadFileTask::LoadFileTask(std::filesystem::path file, core::SegmentStore& store)
    : LProgressDialog("Loading Audio File Source"), file_(std::move(file)), chain_(&store) {}

bool LoadFileTask::Execute() {
  audio::SourceHandle source = OpenAudioFile(file_);
  if (!source->ready()) {
    message_ = OpenFailureMessage(source->status(), file_.string());
    result = platform::kTaskFailed;
    return true;
  }
  sourceBits_ = SourcePcmBits(*source);
  core::AudioChain loaded(chain_.store());
  auto sink = core::ChainOpenSink(loaded, static_cast<std::uint32_t>(source->sampleRate()),
                                  source->channels());
  if (sink->failed()) {
    message_ = sink->failureMessage();
    result = platform::kTaskFailed;
    return true;
  }
  const audio::TransferOutcome moved = TransferUnderTask(*this, source, *sink);
  sink = {};
  result = static_cast<std::int32_t>(moved.result);
  if (moved.result == audio::TaskResult::Done) {
    // An empty file still gives the document its rate and channels.
    loaded.sampleRate = static_cast<std::uint32_t>(source->sampleRate());
    loaded.channels = source->channels();
    chain_ = std::move(loaded);
  } else if (moved.result == audio::TaskResult::Failed) {
    message_ = moved.message.empty()
                   ? OpenFailureMessage(audio::SoundStatus::Corrupt, file_.string())
                   : moved.message;
  }
  return true;
}

SaveChainTask::SaveChainTask(const core::AudioChain& chain, std::filesystem::path file,
                             int sourceBits)
    : LProgressDialog("Saving..."),
      chain_(chain),
      file_(std::move(file)),
      sourceBits_(sourceBits) {}

bool SaveChainTask::Execute() {
  SetText(0, "Process Audio");
  SetText(1, "Saving file...");
  audio::SinkHandle sink =
      MakeAudioFileSink(file_, chain_.sampleRate, chain_.channels, sourceBits_);
  auto fail = [&](const std::string& why) {
    message_ = SaveFailureMessage(file_.string());
    if (!why.empty()) message_ += "\n" + why;
    result = platform::kTaskFailed;
    return true;
  };
  if (!sink) return fail("");
  if (sink->failed()) {
    sink->Abandon();
    return fail(sink->failureMessage());
  }
  const audio::TransferOutcome moved =
      TransferUnderTask(*this, core::ChainOpenSource(chain_), *sink);
  if (moved.result == audio::TaskResult::Failed) return fail(moved.message);
  result = static_cast<std::int32_t>(moved.result);
  return true;
}

}  // namespace quillet::formats
