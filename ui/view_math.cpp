#include "ui/view_math.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "platform/frame_time.h"

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

ScrollBarSpan ScrollBarFor(View v, FrameCount length) {
  ScrollBarSpan s;
  if (length <= 0) return s;
  // A million steps is finer than any screen, and far from INT_MAX.
  s.unit = std::max<FrameCount>(1, (length + 999'999) / 1'000'000);
  const FrameCount width = std::clamp<FrameCount>(v.end - v.start, 0, length);
  s.maximum = static_cast<int>((length - width) / s.unit);
  s.page = std::max(1, static_cast<int>(width / s.unit));
  s.value = std::clamp(static_cast<int>(std::clamp<FramePos>(v.start, 0, length) / s.unit), 0, s.maximum);
  return s;
}

View ViewAtScrollValue(View v, int value, const ScrollBarSpan& span, FrameCount length) {
  const FrameCount width = std::clamp<FrameCount>(v.end - v.start, 0, std::max<FrameCount>(length, 0));
  const FramePos start = value >= span.maximum ? length - width
                                               : std::clamp<FramePos>(FramePos(std::max(value, 0)) * span.unit,
                                                                      0, std::max<FrameCount>(length - width, 0));
  return {start, start + width};
}

FramePos CursorAtScrollValue(View shown, int value, const ScrollBarSpan& span) {
  if (span.maximum <= 0) return value > 0 ? shown.end : shown.start;
  const double share = std::clamp(double(value) / span.maximum, 0.0, 1.0);
  return shown.start + static_cast<FramePos>(share * static_cast<double>(shown.end - shown.start));
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

std::int64_t RulerStepMs(std::int64_t viewMs, int pixels, int minPixels) {
  static constexpr std::int64_t kSteps[] = {
      1,      2,      5,       10,      20,      50,      100,     200,      500,      1000,
      2000,   5000,   10000,   15000,   30000,   60000,   120000,  300000,   600000,   900000,
      1800000, 3600000, 7200000, 18000000};
  const double perPixel = double(std::max<std::int64_t>(viewMs, 1)) / std::max(pixels, 1);
  const double least = perPixel * std::max(minPixels, 1);
  for (std::int64_t step : kSteps)
    if (double(step) >= least) return step;
  // Longer still: whole multiples of five hours.
  return std::int64_t(std::ceil(least / 18000000.0)) * 18000000;
}

std::string RulerLabel(std::int64_t ms, std::int64_t stepMs) {
  if (stepMs % 1000 == 0) return Format(ms, 1, 0, true);
  if (stepMs % 100 == 0) return FormatTimeTenths(ms);
  if (stepMs % 10 == 0) return Format(ms, 10, 2, false);
  return FormatTimeMillis(ms);
}

std::string StatusTimes(FramePos length, FramePos selStart, FramePos selEnd, FramePos cursor,
                        std::uint32_t rate) {
  const std::int64_t r = std::max<std::uint32_t>(rate, 1);
  auto t = [r](FramePos f) { return FormatTimeMillis(platform::MsFromFrames(f, r)); };
  std::string out = "Length: " + t(length);
  if (selEnd > selStart)
    out += "   Selection: " + t(selStart) + " - " + t(selEnd) + " (" +
           FormatTimeMillis(platform::MsFromFrames(selEnd, r) - platform::MsFromFrames(selStart, r)) + ")";
  return out + "   Cursor: " + t(cursor);
}

}  // namespace quillet::ui
