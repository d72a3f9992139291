#include "formats/document_io.h"

#include "audio/resample.h"
#include "core/chain_source.h"
#include "core/segment_sink.h"
#include "formats/messages.h"
#include "formats/raw_file.h"
#include "formats/wav_reader.h"

namespace quillet::formats {

audio::SourceHandle OpenAudioFile(const std::filesystem::path& file, settings::Settings& s,
                                  std::string* readerName) {
  OpenOutcome opened = OpenDispatch(file, nullptr, DispatchEnv(s));
  if (readerName) *readerName = opened.reader;
  if (opened.result == platform::kTaskDone) return opened.source;
  return audio::MakeNullSource(opened.status);
}

int SourcePcmBits(const audio::LSoundSource& source) {
  if (const auto* raw = dynamic_cast<const LRawFileSoundSource*>(&source)) return CodingPcmBits(raw->coding());
  const auto* wave = dynamic_cast<const WaveSourceDetails*>(&source);
  if (!wave) return 0;
  const WaveFormat& f = wave->format();
  // Extensible PCM (what sox and ffmpeg write above 16 bits) counts as PCM.
  if (f.tag != wave_tag::kPcm &&
      !(f.tag == wave_tag::kExtensible && f.SubFormatTag() == wave_tag::kPcm))
    return 0;
  return f.bits == 8 || f.bits == 16 || f.bits == 24 || f.bits == 32 ? f.bits : 0;
}

audio::SourceHandle FormatsFileIo::Open(const std::filesystem::path& file, std::string* message) {
  // The dispatch's own message (a pipe, a file too large for its format, a missing
  // codec program) says more than one made from the status.
  OpenOutcome opened = OpenDispatch(file, nullptr, DispatchEnv(settings_));
  if (opened.result == platform::kTaskDone && opened.source->ready()) return opened.source;
  audio::SourceHandle source = opened.source ? opened.source : audio::MakeNullSource(opened.status);
  if (!opened.message.empty())
    *message = opened.message;
  else
    *message = source->failed() && !source->failureMessage().empty()
                   ? source->failureMessage()
                   : formats::OpenFailureMessage(source->status(), file.string());
  return source;
}

audio::TransferOutcome FormatsFileIo::SaveWave(audio::LSoundSource& source,
                                              const std::filesystem::path& target,
                                              const audio::ProgressFn& progress) {
  audio::TransferOutcome out;
  audio::SinkHandle sink = formats::MakeSaveSink(
      target, static_cast<std::uint32_t>(source.sampleRate()), source.channels(), settings_);
  if (!sink || sink->failed()) {
    if (sink) sink->Abandon();
    out.result = platform::kTaskFailed;
    out.message = formats::SaveFailureMessage(target.string());
    return out;
  }
  out = audio::Transfer(source, *sink, progress);
  if (out.result == platform::kTaskDone && !sink->Finish()) {
    out.result = platform::kTaskFailed;
    out.message = sink->failureMessage();
  }
  if (out.result != platform::kTaskDone) {
    sink->Abandon();
    if (out.result == platform::kTaskFailed)
      out.message = formats::SaveFailureMessage(target.string()) +
                    (out.message.empty() ? "" : "\n" + out.message);
  }
  return out;
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
  if (out.result == platform::kTaskDone && !sink.Finish()) {
    out.result = platform::kTaskFailed;
    out.message = sink.failureMessage();
  }
  if (out.result != platform::kTaskDone) sink.Abandon();
  return out;
}

LoadFileTask::LoadFileTask(std::filesystem::path file, core::SegmentStore& store, DispatchEnv env,
                           bool* ask)
    : LProgressDialog("Loading Audio File Source"),
      file_(std::move(file)),
      env_(env),
      ask_(ask),
      chain_(&store) {}

bool LoadFileTask::Execute() {
  OpenOutcome opened = OpenDispatch(file_, ask_, env_, this);
  if (opened.result != platform::kTaskDone) {
    message_ = opened.message;
    result = opened.result;
    return true;
  }
  audio::SourceHandle source = std::move(opened.source);
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
  result = moved.result;
  if (moved.result == platform::kTaskDone) {
    // An empty file still gives the document its rate and channels.
    loaded.sampleRate = static_cast<std::uint32_t>(source->sampleRate());
    loaded.channels = source->channels();
    chain_ = std::move(loaded);
  } else if (moved.result == platform::kTaskFailed) {
    message_ = moved.message.empty()
                   ? OpenFailureMessage(audio::SoundStatus::Corrupt, file_.string())
                   : moved.message;
  }
  return true;
}

SaveChainTask::SaveChainTask(const core::AudioChain& chain, std::filesystem::path file, DispatchEnv env,
                             int sourceBits, bool* ask, LAudioTagList tags)
    : LProgressDialog("Saving..."),
      chain_(chain),
      file_(std::move(file)),
      env_(env),
      sourceBits_(sourceBits),
      ask_(ask),
      tags_(std::move(tags)) {}

bool SaveChainTask::Execute() {
  platform::Outcome saved = RunSaveSteps(*this, chain_, file_, ask_, env_, sourceBits_, &tags_);
  result = saved.result;
  message_ = std::move(saved.message);
  return true;
}

ConvertFileTask::ConvertFileTask(std::filesystem::path file, std::filesystem::path target, DispatchEnv env,
                                 LAudioTagList tags)
    : LProgressDialog("Converting Audio File"),
      file_(std::move(file)),
      target_(std::move(target)),
      env_(env),
      tags_(std::move(tags)) {}

bool ConvertFileTask::Execute() {
  OpenOutcome opened = OpenDispatch(file_, nullptr, env_, this);
  if (opened.result != platform::kTaskDone) {
    message_ = opened.message;
    result = opened.result;
    return true;
  }
  const int bits = SourcePcmBits(*opened.source);
  platform::Outcome saved = RunSaveSteps(*this, std::move(opened.source), target_, nullptr, env_, bits, &tags_);
  result = saved.result;
  message_ = std::move(saved.message);
  return true;
}

}  // namespace quillet::formats
