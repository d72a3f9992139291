#pragma once
// One waveform display (the overview or the main display of a document window): it
// paints the peak columns its worker computes, the selection, the play marker and
// the bookmark lines, and lets the person select with the mouse.

#include <QWidget>
#include <atomic>
#include <chrono>
#include <memory>
#include <vector>

#include "core/peak_worker.h"

namespace quillet::ui {

using audio::FrameCount;
using audio::FramePos;

// The display's colours.
namespace colors {
inline constexpr QRgb kWave = qRgb(102, 255, 102);
inline constexpr QRgb kBackground = qRgb(0, 0, 0);
inline constexpr QRgb kSelectedWave = qRgb(255, 255, 255);
inline constexpr QRgb kSelectedBackground = qRgb(5, 94, 167);
inline constexpr QRgb kMarkerBand = qRgb(255, 255, 189);
inline constexpr QRgb kMarkerWave = qRgb(0, 128, 0);
inline constexpr QRgb kMarkerLine = qRgb(255, 255, 17);
inline constexpr QRgb kBookmarkLine = qRgb(0, 191, 255);
}  // namespace colors

class WaveDisplay : public QWidget {
  Q_OBJECT
 public:
  explicit WaveDisplay(QWidget* parent = nullptr);
  ~WaveDisplay() override;

  // Restarts the worker on a copy of chain; the display is enabled from then on.
  void SetAudio(const core::AudioChain& chain, int displayMode, bool verticalZoom);
  void RequestView(FramePos start, FrameCount length);
  void SetSelectionMarks(FramePos first, FramePos last);
  void SetMarker(FramePos pos, FrameCount length);
  void SetAudioEnd(FramePos end);
  // Full-height lines (bookmarks, region edges), in frames.
  void SetLines(std::vector<FramePos> lines);
  // The overview's frame around the main display's range [start, end); its band at
  // the top drags the range.
  void SetRangeMark(FramePos start, FramePos end);
  static constexpr int kRangeBand = 6;
  // The selection's edges are grabbed by their handles: tabs this tall at the bottom
  // of the display, kHandleHalfWidth either side of the edge.
  static constexpr int kHandleHeight = 9;
  static constexpr int kHandleHalfWidth = 4;
  // 0: none, -1: the selection's start, +1: its end, under (x, y).
  int HandleAt(int x, int y) const;

  FramePos selFirst() const { return selFirst_; }
  FramePos selLast() const { return selLast_; }
  FramePos markerPos() const { return markerPos_; }
  FramePos viewStart() const { return map_.viewStart; }
  FrameCount viewLength() const { return map_.viewLength; }
  int columns() const { return map_.width; }
  // The frame under pixel x (columns start at pixel 1), clamped to the audio. The
  // first column and the frame left of it are the view's start, the last column and
  // the frame right of it its end, so a drag edge to edge takes all that is in view.
  FramePos FrameAtPixel(int x) const;
  // FrameAtPixel, caught by the start, the end, the cursor or a bookmark when one is
  // within kSnapPixels of x.
  FramePos SnappedFrameAtPixel(int x) const;
  static constexpr int kSnapPixels = 5;
  // The pixel of frame f; -1 when it is not in view.
  int PixelOfFrame(FramePos f) const;
  // For tests and benchmarks: waits until the worker has computed the latest view.
  bool WaitIdle(std::chrono::milliseconds timeout) const;
  // While the view scrolls under a drag, the moving edge follows the view's edge.
  void PinMovingEdge(bool right);
  bool dragging() const { return dragging_; }

 signals:
  void selectionChanging(FramePos first, FramePos last);
  void selectionFinished(FramePos first, FramePos last, FramePos marker);
  // +1: dragging past the right edge, -1: past the left, 0: back inside.
  void autoScroll(int direction);
  void contextMenuRequested(QPoint globalPos);
  // The wheel turned by steps notches (positive: away from the person) over frame;
  // zoom asks for Ctrl+wheel.
  void wheelTurned(double steps, FramePos frame, bool zoom);
  // The range mark was dragged so that the range starts at start.
  void rangeDragged(FramePos start);

 protected:
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void contextMenuEvent(QContextMenuEvent* e) override;
  void wheelEvent(QWheelEvent* e) override;

 private:
  int UsableColumns() const;
  void Remap();
  void SetAutoScroll(int direction);
  FramePos ClampFrame(FramePos f) const;
  // Where a mouse event points; Ctrl held turns snapping off.
  FramePos EventFrame(const QMouseEvent* e) const;
  bool InRangeBand(int x, int y) const;

  std::unique_ptr<core::PeakWorker> worker_;
  core::ColumnMapping map_;  // of the requested view, on this thread
  FramePos reqStart_ = 0;
  FrameCount reqLength_ = 0;
  int channels_ = 1;
  int displayMode_ = 0;
  bool hasAudio_ = false;
  FramePos selFirst_ = 0, selLast_ = 0, dragOrigin_ = 0;
  FramePos markerPos_ = 0;
  FramePos snapCursor_ = 0;  // the cursor when the drag began
  FrameCount markerLength_ = 0;
  FramePos audioEnd_ = 0;
  std::vector<FramePos> lines_;
  FramePos rangeStart_ = 0, rangeEnd_ = -1;
  bool draggingRange_ = false;
  FrameCount rangeGrab_ = 0;  // the pointer's distance from the range's start
  bool dragging_ = false, nearFirst_ = false, nearLast_ = false;
  bool draggingFirst_ = false, draggingLast_ = false;
  int edgeScroll_ = 0;
};

}  // namespace quillet::ui
