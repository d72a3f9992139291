#include "core/mix.h"

#include <algorithm>
#include <vector>

#include "core/chain_source.h"
#include "core/segment_sink.h"

namespace quillet::core {
namespace {

std::int64_t GainOfPercent(std::int64_t pct) { return pct * kUnityGain / 100; }

// sample + (gain >> 15) x mix >> 9, in 64 bits.
Sample AddScaled(Sample base, Sample mix, std::int64_t gain) {
  return audio::SaturateSample(std::int64_t{base} + (((gain >> 15) * mix) >> 9));
}

}  // namespace

MixGains MixChannelGains(int volumePct, int pan) {
  pan = std::clamp(pan, 0, 100);
  const std::int64_t v = volumePct;
  return {GainOfPercent((100 - pan) * v / 50), GainOfPercent(pan * v / 50)};
}

MixOutcome MixIntoChain(EditContext& ctx, EditTask& task, AudioChain& doc, FramePos from,
                        FramePos to, const AudioChain& mixIn, const MixParams& params) {
  MixOutcome out;
  if (to < from) return out;
  AudioChain mix(&ctx.store);
  out.result = ConvertChain(ctx, task, mixIn, doc.sampleRate, doc.channels, mix);
  if (out.result != platform::kTaskDone) return out;
  const FrameCount mixLength = ChainLength(mix);
  if (mixLength == 0) return out;

  task.SetText(0, "Pasting Mix");
  task.SetText(1, "Please wait...");
  // Worked on a copy: a cancelled mix leaves the document as it was.
  AudioChain work = doc;
  const FrameCount extra = mixLength - (to - from);
  bool fade = false;
  if (extra < 1) {
    to = from + mixLength;
  } else if (params.longer == MixLonger::InsertSilence) {
    ChainInsertSilence(work, to, extra);
    to += extra;
  } else if (params.longer == MixLonger::IncreaseSelection) {
    to += extra;
  } else {
    fade = true;
  }
  const FrameCount n = std::max<FrameCount>(to - from, 1);
  const FrameCount fadeStart = fade ? std::max<FrameCount>(0, n - std::max<FrameCount>(params.fadeFrames, 0)) : n;
  const FrameCount fadeLength = n - fadeStart;

  const MixGains gains = MixChannelGains(params.volumePct, work.channels == 2 ? params.pan : 50);
  const int channels = work.channels;
  auto base = ChainOpenSource(work);
  base->seek(from);
  auto over = ChainOpenSource(mix);
  AudioChain scratch(&ctx.store);
  {
    auto sink = ChainOpenSink(scratch, work.sampleRate, channels);
    if (sink->failed()) {
      out.result = FailEdit(ctx, &task, sink->failureMessage());
      return out;
    }
    std::vector<Sample> a(static_cast<std::size_t>(audio::kBlockFrames) * channels);
    std::vector<Sample> b(a.size());
    for (FrameCount done = 0; done < n;) {
      const FrameCount m = std::min(audio::kBlockFrames, n - done);
      base->read(a.data(), m);
      over->read(b.data(), m);
      if (base->failed() || over->failed()) {
        sink->Abandon();
        out.result = FailEdit(ctx, &task, (base->failed() ? *base : *over).failureMessage());
        return out;
      }
      for (FrameCount i = 0; i < m; ++i) {
        const FrameCount k = done + i;
        std::int64_t gl = gains.left, gr = gains.right;
        if (k >= fadeStart) {  // full at the fade's start, falling linearly to its end
          gl = gl * (n - k) / fadeLength;
          gr = gr * (n - k) / fadeLength;
        }
        Sample* fa = a.data() + i * channels;
        const Sample* fb = b.data() + i * channels;
        fa[0] = AddScaled(fa[0], fb[0], gl);
        if (channels > 1) fa[1] = AddScaled(fa[1], fb[1], gr);
        for (int c = 2; c < channels; ++c) fa[c] = AddScaled(fa[c], fb[c], gl);
      }
      sink->write(a.data(), m);
      done += m;
      task.SetProgress(static_cast<double>(done) / static_cast<double>(n));
      if (task.Pump()) {
        sink->Abandon();
        out.result = platform::kTaskCancelled;
        return out;
      }
      if (sink->failed()) break;
    }
    if (!sink->Finish()) {
      sink->Abandon();
      out.result = FailEdit(ctx, &task, sink->failureMessage());
      return out;
    }
  }
  if (!ChainReplaceRange(work, from, from + n, scratch)) {
    out.result = FailEdit(ctx, &task, "The mixed audio does not fit the document.");
    return out;
  }
  doc = std::move(work);
  out.mixedFrames = n;
  out.result = platform::kTaskDone;
  return out;
}

}  // namespace quillet::core
