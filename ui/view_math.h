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
// The scroll bar's range is 0..kScrollMax.
inline constexpr int kScrollMax = 200;

// [max(0, start), min(length, end)], never reversed.
View ClampView(View v, FrameCount length);
// Half as wide (at least kMinZoomFrames), centred on the cursor.
View ZoomInView(View v, FramePos cursor, FrameCount length);
// Twice as wide (at most the length), a quarter of the new width further left.
View ZoomOutView(View v, FrameCount length);
// What the displays show for a view: an empty view (an empty document) shows one
// second instead, so nothing divides by a zero length.
View ShownView(View v, std::uint32_t rate);
// Where the play position moves when the scroll bar moves to pos (0..kScrollMax).
FramePos ScrollTarget(int pos, FrameCount length);
// The scroll bar position of frame cursor; 0 while no length is known.
int ScrollPosition(FramePos cursor, FrameCount length);
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

}  // namespace quillet::ui
