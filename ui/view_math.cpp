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

std::vector<TileRect> TileRects(int width, int height, int n, bool horizontal) {
  std::vector<TileRect> out;
  if (n <= 0 || width <= 0 || height <= 0) return out;
  // Strips up to three windows; then a grid with as many strips as fit the count.
  int strips = n;
  if (n > 3) {
    strips = 1;
    while (strips * strips < n) ++strips;
  }
  const int across = (n + strips - 1) / strips;  // windows per strip, the last may hold fewer
  for (int s = 0; s < strips; ++s) {
    const int first = s * across;
    const int count = std::min(across, n - first);
    if (count <= 0) break;
    for (int k = 0; k < count; ++k) {
      // Horizontal: strips are rows, the windows of a row side by side.
      const int major = horizontal ? height : width;
      const int minor = horizontal ? width : height;
      const int a0 = major * s / strips, a1 = major * (s + 1) / strips;
      const int b0 = minor * k / count, b1 = minor * (k + 1) / count;
      out.push_back(horizontal ? TileRect{b0, a0, b1 - b0, a1 - a0}
                               : TileRect{a0, b0, a1 - a0, b1 - b0});
    }
  }
  return out;
}

}  // namespace quillet::ui
