#include "ui/wave_display.h"

#include <QMouseEvent>
#include <QWheelEvent>
#include <QPainter>
#include <QPalette>

#include <algorithm>
#include <climits>

namespace quillet::ui {

WaveDisplay::WaveDisplay(QWidget* parent) : QWidget(parent) {
  setEnabled(false);
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::NoFocus);
  setMinimumSize(16, 8);
  worker_ = std::make_unique<core::PeakWorker>([this](int, int, int) {
    // From the worker thread: repaint on the interface thread. Posted to this object,
    // so nothing arrives once it is gone; the worker is joined before that.
    QMetaObject::invokeMethod(this, [this] { update(); }, Qt::QueuedConnection);
  });
  worker_->Resize(UsableColumns());
}

WaveDisplay::~WaveDisplay() { worker_.reset(); }

int WaveDisplay::UsableColumns() const { return std::clamp(width() - 2, 1, core::kMaxColumns); }

void WaveDisplay::Remap() {
  map_ = core::ColumnMapping::Make(reqStart_, reqLength_, UsableColumns());
}

void WaveDisplay::SetAudio(const core::AudioChain& chain, int displayMode, bool verticalZoom) {
  channels_ = std::max(chain.channels, 1);
  displayMode_ = displayMode;
  hasAudio_ = true;
  worker_->SetAudio(chain, core::PeakOptions{displayMode, verticalZoom});
  worker_->Resize(UsableColumns());
  reqStart_ = 0;
  reqLength_ = 0;
  Remap();
  setEnabled(true);
  update();
}

void WaveDisplay::RequestView(FramePos start, FrameCount length) {
  reqStart_ = start;
  reqLength_ = std::max<FrameCount>(length, 0);
  Remap();
  worker_->RequestView(reqStart_, reqLength_);
  update();
}

void WaveDisplay::SetSelectionMarks(FramePos first, FramePos last) {
  if (first == selFirst_ && last == selLast_) return;
  selFirst_ = first;
  selLast_ = last;
  update();
}

void WaveDisplay::SetMarker(FramePos pos, FrameCount length) {
  if (pos == markerPos_ && length == markerLength_) return;
  markerPos_ = pos;
  markerLength_ = length;
  update();
}

void WaveDisplay::SetAudioEnd(FramePos end) {
  audioEnd_ = end;
  update();
}

void WaveDisplay::SetLines(std::vector<FramePos> lines) {
  lines_ = std::move(lines);
  update();
}

void WaveDisplay::SetRangeMark(FramePos start, FramePos end) {
  if (start == rangeStart_ && end == rangeEnd_) return;
  rangeStart_ = start;
  rangeEnd_ = end;
  update();
}

int WaveDisplay::HandleAt(int x, int y) const {
  if (selFirst_ == selLast_ || y < height() - 1 - kHandleHeight) return 0;
  const int a = PixelOfFrame(selFirst_), b = PixelOfFrame(selLast_);
  const int da = a < 0 ? INT_MAX : std::abs(a - x), db = b < 0 ? INT_MAX : std::abs(b - x);
  if (std::min(da, db) > kHandleHalfWidth) return 0;
  return db < da || (db == da && x > b) ? +1 : -1;
}

bool WaveDisplay::WaitIdle(std::chrono::milliseconds timeout) const {
  return worker_->WaitIdle(timeout);
}

FramePos WaveDisplay::ClampFrame(FramePos f) const { return std::clamp<FramePos>(f, 0, audioEnd_); }

FramePos WaveDisplay::FrameAtPixel(int x) const {
  if (!map_.valid()) return 0;
  if (x <= 1) return ClampFrame(map_.viewStart);
  if (x >= std::min(map_.width, width() - 2)) return ClampFrame(map_.viewStart + map_.viewLength);
  return ClampFrame(map_.FrameOf(std::int64_t{x} - 1));
}

FramePos WaveDisplay::SnappedFrameAtPixel(int x) const {
  const FramePos f = FrameAtPixel(x);
  FramePos best = f;
  int bestDistance = kSnapPixels + 1;
  auto consider = [&](FramePos target) {
    const int px = PixelOfFrame(target);
    if (px < 0 || std::abs(px - x) >= bestDistance) return;
    bestDistance = std::abs(px - x);
    best = target;
  };
  consider(0);
  consider(audioEnd_);
  consider(snapCursor_);
  for (FramePos line : lines_) consider(line);
  return ClampFrame(best);
}

FramePos WaveDisplay::EventFrame(const QMouseEvent* e) const {
  const int x = int(e->position().x());
  return e->modifiers() & Qt::ControlModifier ? FrameAtPixel(x) : SnappedFrameAtPixel(x);
}

int WaveDisplay::PixelOfFrame(FramePos f) const {
  if (!map_.valid() || f < map_.viewStart || f > map_.viewStart + map_.viewLength) return -1;
  const std::int64_t c = map_.ColumnOf(f);
  return c < 0 ? -1 : int(c) + 1;
}

void WaveDisplay::resizeEvent(QResizeEvent*) {
  worker_->Resize(UsableColumns());
  Remap();
}

void WaveDisplay::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const int w = width(), h = height();
  const QColor grey = palette().color(QPalette::Disabled, QPalette::WindowText);
  const QColor face = palette().color(QPalette::Button);
  // Only a display without audio is grey: one disabled while a task runs still shows it.
  if (!hasAudio_) {
    p.fillRect(rect(), face);
  } else {
    p.fillRect(rect(), QColor(colors::kBackground));
    const core::PeakWorker::Columns cols = worker_->Snapshot();
    const int H = h - 1;
    const bool twoLanes = displayMode_ == 2 && channels_ == 2;
    const int laneScale = twoLanes ? H / 2 : H;
    const int count = std::min(map_.width, w - 2);
    // Heights come from the worker's last computed view; while it catches up with a
    // new request the old columns are drawn rather than nothing.
    const bool haveCols = cols.map.valid() && int(cols.top.size()) > 0;
    for (int x = 0; x < count; ++x) {
      const FramePos f = map_.FrameOf(x);
      QColor bg = QColor(colors::kBackground), wave = QColor(colors::kWave);
      const bool selected = f >= selFirst_ && f < selLast_;
      if (f < 0 || f > audioEnd_) {
        bg = face;
        wave = grey;
      } else if (markerLength_ > 0 && f >= markerPos_ && f < markerPos_ + markerLength_) {
        bg = QColor(colors::kMarkerBand);
        wave = QColor(colors::kMarkerWave);
        if (selected) std::swap(bg, wave);
      } else if (selected) {
        bg = QColor(colors::kSelectedBackground);
        wave = QColor(colors::kSelectedWave);
      }
      const int idx = std::min<int>(x, int(cols.top.size()) - 1);
      const int top = haveCols && idx >= 0 ? cols.top[std::size_t(idx)] : 0;
      const int bottom = haveCols && idx >= 0 ? cols.bottom[std::size_t(idx)] : 0;
      const int px = x + 1;
      auto lane = [&](int centre, int up, int down, int y0, int y1) {
        p.setPen(bg);
        p.drawLine(px, y0, px, y1);
        p.setPen(wave);
        p.drawLine(px, std::max(y0, centre - up), px, std::min(y1, centre + down));
      };
      if (twoLanes) {
        const int c1 = H / 2 - H / 4, c2 = H / 2 + H / 4;
        const int t = (top * laneScale) >> 9, b = (bottom * laneScale) >> 9;
        lane(c1, t, t, 0, H / 2 - 1);
        lane(c2, b, b, H / 2, H);
      } else {
        lane(H / 2, (top * laneScale) >> 9, (bottom * laneScale) >> 9, 0, H);
      }
    }
    if (twoLanes) {
      p.setPen(grey);
      p.drawLine(1, H / 2, w - 2, H / 2);
    }
    p.setPen(QColor(colors::kBookmarkLine));
    for (FramePos line : lines_) {
      const int x = PixelOfFrame(line);
      if (x >= 0) p.drawLine(x, 0, x, H);
    }
    const int mx = PixelOfFrame(markerPos_);
    if (mx >= 0 && mx <= count) {
      p.setPen(QColor(colors::kMarkerLine));
      p.drawLine(mx, 0, mx, H);
    }
    if (selFirst_ != selLast_) {
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(colors::kSelectedWave));
      for (FramePos edge : {selFirst_, selLast_}) {
        const int x = PixelOfFrame(edge);
        if (x >= 0) p.drawRect(x - kHandleHalfWidth, H - kHandleHeight, 2 * kHandleHalfWidth, kHandleHeight);
      }
      p.setBrush(Qt::NoBrush);
    }
    if (rangeEnd_ > rangeStart_) {
      // Clipped to the columns, so a range reaching the end stays visible.
      const int a = std::max(PixelOfFrame(std::max<FramePos>(rangeStart_, map_.viewStart)), 1);
      const int b = PixelOfFrame(std::min<FramePos>(rangeEnd_, map_.viewStart + map_.viewLength));
      const int right = b < 0 ? count : std::min(b, count);
      const QColor band(colors::kMarkerLine);
      p.fillRect(a, 1, std::max(right - a, 2), kRangeBand, band);
      p.setPen(band);
      p.drawRect(a, 1, std::max(right - a, 2), H - 2);
    }
  }
  // A sunken frame.
  p.setPen(Qt::black);
  p.drawLine(0, 0, w - 1, 0);
  p.drawLine(0, 0, 0, h - 1);
  p.setPen(Qt::white);
  p.drawLine(0, h - 1, w - 1, h - 1);
  p.drawLine(w - 1, 0, w - 1, h - 1);
}

void WaveDisplay::SetAutoScroll(int direction) {
  if (direction == edgeScroll_) return;
  edgeScroll_ = direction;
  emit autoScroll(direction);
}

void WaveDisplay::PinMovingEdge(bool right) {
  if (!dragging_ || !map_.valid()) return;
  const FramePos edge = ClampFrame(right ? map_.viewStart + map_.viewLength : map_.viewStart);
  if (right) {
    if (edge >= dragOrigin_) selLast_ = edge, selFirst_ = dragOrigin_;
    else selFirst_ = edge, selLast_ = dragOrigin_;
  } else {
    if (edge <= dragOrigin_) selFirst_ = edge, selLast_ = dragOrigin_;
    else selFirst_ = dragOrigin_, selLast_ = edge;
  }
  update();
  emit selectionChanging(selFirst_, selLast_);
}

bool WaveDisplay::InRangeBand(int x, int y) const {
  if (rangeEnd_ <= rangeStart_ || y > kRangeBand + 1) return false;
  const FramePos f = FrameAtPixel(x);
  return f >= rangeStart_ && f <= rangeEnd_;
}

void WaveDisplay::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton || !hasAudio_) return;
  const int x = int(e->position().x()), y = int(e->position().y());
  if (InRangeBand(x, y)) {
    draggingRange_ = true;
    rangeGrab_ = FrameAtPixel(x) - rangeStart_;
    return;
  }
  const int handle = HandleAt(x, y);
  nearFirst_ = handle < 0;
  nearLast_ = handle > 0;
  snapCursor_ = markerPos_;
  const FramePos f = EventFrame(e);
  dragging_ = true;
  draggingFirst_ = draggingLast_ = false;
  if (e->modifiers() & Qt::ShiftModifier) {
    selFirst_ = std::min(f, dragOrigin_);
    selLast_ = std::max(f, dragOrigin_);
  } else if (nearFirst_ && selFirst_ != selLast_) {
    dragOrigin_ = selLast_;
    markerPos_ = selFirst_;
    draggingFirst_ = true;
  } else if (nearLast_ && selFirst_ != selLast_) {
    dragOrigin_ = selFirst_;
    markerPos_ = selLast_;
    draggingLast_ = true;
  } else {
    dragOrigin_ = f;
    selFirst_ = selLast_ = f;
    markerPos_ = f;
  }
  update();
  emit selectionChanging(selFirst_, selLast_);
}

void WaveDisplay::mouseMoveEvent(QMouseEvent* e) {
  if (!hasAudio_) return;
  const int x = int(e->position().x());
  const int y = int(e->position().y());
  if (draggingRange_) {
    emit rangeDragged(FrameAtPixel(x) - rangeGrab_);
    return;
  }
  if (!dragging_) {
    setCursor(HandleAt(x, y) ? Qt::SizeHorCursor
              : InRangeBand(x, y) ? Qt::OpenHandCursor
                                  : Qt::ArrowCursor);
    return;
  }
  const FramePos f = EventFrame(e);
  if (x >= width() - 1) SetAutoScroll(+1);
  else if (x <= 0) SetAutoScroll(-1);
  else SetAutoScroll(0);
  if (e->modifiers() & Qt::ShiftModifier) return;
  if (draggingLast_) {
    selLast_ = f;
  } else if (draggingFirst_) {
    selFirst_ = f;
  } else if (f <= dragOrigin_) {
    selFirst_ = f;
    selLast_ = dragOrigin_;
  } else {
    selFirst_ = dragOrigin_;
    selLast_ = f;
  }
  if (selFirst_ > selLast_) std::swap(selFirst_, selLast_);
  update();
  emit selectionChanging(selFirst_, selLast_);
}

void WaveDisplay::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton && draggingRange_) {
    draggingRange_ = false;
    return;
  }
  if (e->button() != Qt::LeftButton || !dragging_) return;
  dragging_ = false;
  setCursor(Qt::ArrowCursor);
  SetAutoScroll(0);
  if (!(e->modifiers() & Qt::ShiftModifier)) {
    const FramePos f = EventFrame(e);
    if (!draggingFirst_ && !draggingLast_) {
      selFirst_ = std::min(f, dragOrigin_);
      selLast_ = std::max(f, dragOrigin_);
    }
    markerPos_ = f;
  }
  update();
  emit selectionFinished(selFirst_, selLast_, markerPos_);
}

void WaveDisplay::wheelEvent(QWheelEvent* e) {
  // Touchpads send small deltas; a notch is 120.
  const double steps = e->angleDelta().y() / 120.0;
  if (!hasAudio_ || steps == 0) return;
  emit wheelTurned(steps, FrameAtPixel(int(e->position().x())), e->modifiers() & Qt::ControlModifier);
  e->accept();
}

void WaveDisplay::contextMenuEvent(QContextMenuEvent* e) {
  emit contextMenuRequested(e->globalPos());
}

}  // namespace quillet::ui
