#include "ui/view_math.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace quillet::ui {

View ClampView(View v, FrameCount length) {
  length = std::max<FrameCount>(length, 0);
  v.start = std::clamp<FramePos>(v.start, 0, length);
  v.end = std::clamp<FramePos>(v.end, v.start, length);
  return v;
}

View ZoomInView(View v, FramePos cursor, FrameCount length) {
  const FrameCount width = std::max<FrameCount>((v.end - v.start) / 2, kMinZoomFrames);
  const FramePos start = std::max<FramePos>(cursor - width / 2, 0);
  return ClampView({start, start + width}, length);
}

View ZoomOutView(View v, FrameCount length) {
  const double doubled = 2.0 * static_cast<double>(v.end - v.start);
  FrameCount width = doubled >= static_cast<double>(length) ? length
                                                            : static_cast<FrameCount>(doubled);
  width = std::max<FrameCount>(width, 0);
  const FramePos start =
      std::max<FramePos>(v.start - static_cast<FramePos>(static_cast<double>(width) * 0.25), 0);
  // Keeping the width when the start hits the end keeps a zoom out from shrinking.
  const FramePos clampedStart = std::min<FramePos>(start, std::max<FrameCount>(length - width, 0));
  return ClampView({clampedStart, clampedStart + width}, length);
}

View ZoomAboutView(View v, FramePos anchor, double factor, FrameCount length) {
  const double width = static_cast<double>(v.end - v.start);
  const double wanted = std::clamp(width * factor, static_cast<double>(kMinZoomFrames),
                                   static_cast<double>(std::max<FrameCount>(length, kMinZoomFrames)));
  const auto newWidth = static_cast<FrameCount>(wanted);
  anchor = std::clamp<FramePos>(anchor, v.start, v.end);
  const double share = width > 0 ? static_cast<double>(anchor - v.start) / width : 0.0;
  FramePos start = anchor - static_cast<FramePos>(share * static_cast<double>(newWidth));
  start = std::clamp<FramePos>(start, 0, std::max<FrameCount>(length - newWidth, 0));
  return ClampView({start, start + newWidth}, length);
}

View ScrolledView(View v, double steps, FrameCount length) {
  const FrameCount width = v.end - v.start;
  const auto shift = static_cast<FramePos>(static_cast<double>(std::max<FrameCount>(width / 10, 1)) * steps);
  const FramePos start = std::clamp<FramePos>(v.start + shift, 0, std::max<FrameCount>(length - width, 0));
  return ClampView({start, start + width}, length);
}

View ShownView(View v, std::uint32_t rate) {
  if (v.end > v.start) return v;
  return {0, std::max<FrameCount>(rate, 1)};
}

FramePos ScrollTarget(int pos, FrameCount length) {
  pos = std::clamp(pos, 0, kScrollMax);
  const auto target = static_cast<FramePos>(static_cast<double>(length) * pos * 0.005);
  return std::clamp<FramePos>(target, 0, std::max<FrameCount>(length, 0));
}

int ScrollPosition(FramePos cursor, FrameCount length) {
  if (length <= 0) return 0;
  const double pos = static_cast<double>(cursor) * (kScrollMax + 1) / static_cast<double>(length);
  // The ×201 of the mapping reaches 201 at the end: clamp to the bar's range.
  return std::clamp(static_cast<int>(std::min(pos, 1e9)), 0, kScrollMax);
}

View FollowView(View v, FramePos cursor) {
  const FrameCount width = v.end - v.start;
  if (cursor > v.end) return {cursor - width, cursor};
  if (cursor < v.start) return {cursor, cursor + width};
  return v;
}

namespace {

std::string Format(std::int64_t ms, std::int64_t unitMs, int digits, bool seconds) {
  const bool negative = ms < 0;
  // The magnitude of INT64_MIN does not fit: saturate one below it.
  std::uint64_t m = negative ? std::uint64_t(0) - std::uint64_t(ms) : std::uint64_t(ms);
  char buf[64];
  const std::uint64_t h = m / 3600000, mi = m / 60000 % 60, s = m / 1000 % 60;
  if (seconds) {
    std::snprintf(buf, sizeof buf, "%s%llu:%.2llu:%.2llu", negative ? "-" : "",
                  (unsigned long long)h, (unsigned long long)mi, (unsigned long long)s);
  } else {
    const std::uint64_t frac = m % 1000 / std::uint64_t(unitMs);
    std::snprintf(buf, sizeof buf, "%s%llu:%.2llu:%.2llu.%.*llu", negative ? "-" : "",
                  (unsigned long long)h, (unsigned long long)mi, (unsigned long long)s, digits,
                  (unsigned long long)frac);
  }
  return buf;
}

std::int64_t AddSaturating(std::int64_t ms, std::int64_t add) {
  if (ms >= 0) return ms > std::numeric_limits<std::int64_t>::max() - add ? ms : ms + add;
  return ms < std::numeric_limits<std::int64_t>::min() + add ? ms : ms - add;
}

}  // namespace

std::string FormatTimeMillis(std::int64_t ms) { return Format(ms, 1, 3, false); }
std::string FormatTimeTenths(std::int64_t ms) { return Format(ms, 100, 1, false); }
std::string FormatTimeSeconds(std::int64_t ms) {
  return Format(AddSaturating(ms, 500), 1, 0, true);
}

}  // namespace quillet::ui
