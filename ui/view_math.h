#pragma once
// The zoom rules, scroll-bar mapping and time texts of a document window, as plain
// arithmetic (no window needed), bounded for every length and width.

#include <cstdint>
#include <string>
#include <vector>

#include "audio/sample.h"

namespace quillet::ui {

using audio::FrameCount;
using audio::FramePos;

struct View {
  FramePos start = 0;
  FramePos end = 0;
  friend bool operator==(const View&, const View&) = default;
};

// The shortest view Zoom In gives, in frames.
inline constexpr FrameCount kMinZoomFrames = 100;

// [max(0, start), min(length, end)], never reversed.
View ClampView(View v, FrameCount length);
// Half as wide (at least kMinZoomFrames), centred on the cursor.
View ZoomInView(View v, FramePos cursor, FrameCount length);
// Twice as wide (at most the length), a quarter of the new width further left.
View ZoomOutView(View v, FrameCount length);
// What the displays show for a view: an empty view (an empty document) shows one
// second instead, so nothing divides by a zero length.
View ShownView(View v, std::uint32_t rate);
// The view zoomed by factor (below 1: in) about anchor, which stays at the same place
// on screen; no narrower than kMinZoomFrames, no wider than the audio.
View ZoomAboutView(View v, FramePos anchor, double factor, FrameCount length);
// The view moved by steps tenths of its width (negative: left), inside the audio.
View ScrolledView(View v, double steps, FrameCount length);
// The scroll bar over a view: its value is where the view starts and its page how
// wide it is, both in units of `unit` frames so that long files fit an int.
struct ScrollBarSpan {
  int maximum = 0, page = 1, value = 0;
  FrameCount unit = 1;
  friend bool operator==(const ScrollBarSpan&, const ScrollBarSpan&) = default;
};
ScrollBarSpan ScrollBarFor(View v, FrameCount length);
// The view the thumb at value shows (same width), and the play position that goes with
// it: as far through that view as the thumb is through its travel, so the start of the
// bar is the start of the audio and its end the end.
View ViewAtScrollValue(View v, int value, const ScrollBarSpan& span, FrameCount length);
FramePos CursorAtScrollValue(View shown, int value, const ScrollBarSpan& span);
// The view after the play position moved to cursor: shifted (same width) so that
// the cursor is inside.
View FollowView(View v, FramePos cursor);

// "h:mm:ss.mmm", truncating (the selection length field).
std::string FormatTimeMillis(std::int64_t ms);
// "h:mm:ss.t", truncating.
std::string FormatTimeTenths(std::int64_t ms);
// "h:mm:ss", rounded to the nearest second.
std::string FormatTimeSeconds(std::int64_t ms);

// Window rectangles that tile an area of `size` with n windows: horizontal tiling
// stacks them one above the other, vertical sets them side by side; past three a
// grid is used whose rows (horizontal) or columns (vertical) hold the rest.
struct TileRect {
  int x, y, width, height;
  friend bool operator==(const TileRect&, const TileRect&) = default;
};
std::vector<TileRect> TileRects(int width, int height, int n, bool horizontal);

// The ruler's labelled step for a view of viewMs over pixels: the shortest of the
// steps people count in (1, 2, 5 ms ... 1, 2, 5, 10, 15, 30 s, 1, 2, 5, 10, 15, 30 min,
// 1, 2, 5 h and on by hours) whose labels lie at least minPixels apart.
std::int64_t RulerStepMs(std::int64_t viewMs, int pixels, int minPixels);
// A ruler label at ms: as precise as the step needs, never more (h:mm:ss for whole
// seconds, then tenths, hundredths, thousandths).
std::string RulerLabel(std::int64_t ms, std::int64_t stepMs);

// The status line's times, all to the millisecond: the length, then the selection
// (start - end and its length) when there is one, then the cursor.
std::string StatusTimes(FramePos length, FramePos selStart, FramePos selEnd, FramePos cursor,
                        std::uint32_t rate);

}  // namespace quillet::ui
