#include "audio/transfer.h"

#include <algorithm>
#include <vector>

namespace quillet::audio {
namespace {

std::string Describe(std::int64_t rate, int channels) {
  return std::to_string(rate) + " Hz with " + std::to_string(channels) +
         (channels == 1 ? " channel" : " channels");
}

TransferOutcome Failure(std::string message) {
  TransferOutcome out;
  out.result = platform::kTaskFailed;
  out.message = std::move(message);
  return out;
}

}  // namespace

SourceHandle AdaptSource(SourceHandle source, std::int32_t rate, int channels,
                         const FormatAdaptors& adaptors, std::string* message) {
  const bool needChannels = source->channels() != channels;
  const bool needRate = source->sampleRate() != rate;
  if ((needChannels && !adaptors.channels) || (needRate && !adaptors.rate)) {
    if (message)
      *message = "Cannot convert audio of " + Describe(source->sampleRate(), source->channels()) +
                 " to " + Describe(rate, channels) + ": no converter is available.";
    return nullptr;
  }
  // Fewer channels first keeps the rate converter's work small.
  const bool reduceFirst = source->channels() > channels;
  if (needChannels && reduceFirst) source = adaptors.channels(std::move(source), channels);
  if (source && needRate) source = adaptors.rate(std::move(source), rate);
  if (source && needChannels && !reduceFirst) source = adaptors.channels(std::move(source), channels);
  if (!source && message) *message = "The audio converter could not be started.";
  return source;
}

TransferOutcome Transfer(LSoundSource& source, LSoundSink& sink, const ProgressFn& progress) {
  if (source.failed()) return Failure(source.failureMessage());
  if (!source.ready())
    return Failure("The audio source is not usable (status " +
                   std::to_string(static_cast<int>(source.status())) + ").");
  if (sink.failed()) return Failure(sink.failureMessage());
  if (source.channels() != sink.channels() ||
      static_cast<std::uint32_t>(source.sampleRate()) != sink.sampleRate())
    return Failure("Cannot write audio of " + Describe(source.sampleRate(), source.channels()) +
                   " into a target of " + Describe(sink.sampleRate(), sink.channels()) + ".");

  const FramePos start = source.position();
  std::vector<Sample> buffer(static_cast<std::size_t>(kBlockFrames) * source.channels());
  TransferOutcome out;
  bool spans = true;  // until the sink declines one
  for (;;) {
    // Ask every time: a decoder refines its estimate as it goes.
    const FrameCount total = source.length();
    const FramePos pos = source.position();
    if (pos >= total) break;
    // Bytes that are already the sink's layout are copied, not decoded and encoded.
    if (const Pcm16Span span = spans ? source.Pcm16At(std::min(kSpanFrames, total - pos)) : Pcm16Span{};
        span.frames > 0) {
      const FrameCount moved = sink.writePcm16(span);
      if (sink.failed()) return Failure(sink.failureMessage());
      if (moved > 0) {
        source.seek(pos + moved);
        out.frames += moved;
        if (progress && !progress(pos + moved - start, total - start)) {
          out.result = platform::kTaskCancelled;
          return out;
        }
        continue;
      }
      // Declined, or the file ends early: samples from here on, so a short file fails as a read.
      spans = false;
    }
    const FrameCount n = std::min(kBlockFrames, total - pos);
    source.read(buffer.data(), n);
    if (source.failed()) {
      TransferOutcome failed = Failure(source.failureMessage());
      failed.frames = out.frames;
      return failed;
    }
    sink.write(buffer.data(), n);
    if (sink.failed()) return Failure(sink.failureMessage());
    out.frames += n;
    if (progress && !progress(pos + n - start, total - start)) {
      out.result = platform::kTaskCancelled;
      return out;
    }
  }
  return out;
}

TransferOutcome TransferAdapted(SourceHandle source, LSoundSink& sink,
                                const FormatAdaptors& adaptors, const ProgressFn& progress) {
  if (!source->ready()) return Transfer(*source, sink, progress);
  std::string message;
  SourceHandle adapted = AdaptSource(std::move(source), static_cast<std::int32_t>(sink.sampleRate()),
                                     sink.channels(), adaptors, &message);
  if (!adapted) return Failure(message);
  return Transfer(*adapted, sink, progress);
}

}  // namespace quillet::audio
