#pragma once
// A document's window inside the frame: the overview of the whole audio on top, the
// main display of the visible range, the marker ruler, and a bottom row with the
// position scroll bar and the zoom and display-mode buttons.

#include <QTimer>
#include <QWidget>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "core/document.h"
#include "formats/source_options.h"
#include "formats/tags.h"
#include "formats/wave_format.h"
#include "ui/view_math.h"

class QFontMetrics;
class QScrollBar;
class QToolButton;

namespace quillet::ui {

class WaveDisplay;
class Ruler;

// A bookmark or region edge as the ruler and the displays show it.
struct RulerMark {
  enum Kind { Bookmark, RegionStart, RegionEnd };
  FramePos at = 0;
  Kind kind = Bookmark;
  QString tip;  // the tool tip under the pointer: name and time
  bool operator==(const RulerMark&) const = default;
};

class DocumentWindow : public QWidget {
  Q_OBJECT
 public:
  explicit DocumentWindow(std::unique_ptr<core::WaveDocument> doc, QWidget* parent = nullptr);
  ~DocumentWindow() override;

  core::WaveDocument& doc() { return *doc_; }
  const core::WaveDocument& doc() const { return *doc_; }
  WaveDisplay* overview() const { return overview_; }
  WaveDisplay* mainDisplay() const { return main_; }
  Ruler* ruler() const { return ruler_; }
  QScrollBar* scrollBar() const { return scroll_; }
  QToolButton* button(int id) const;  // 83..89, 91

  int displayMode() const { return displayMode_; }
  bool verticalZoom() const { return verticalZoom_; }
  // PCM width of the file it came from, so saving keeps the depth.
  int sourceBits = 0;
  // The WAVE format this document saves in: the PCM it was opened from, or what its
  // own Save As chose; unset, the stored choice applies.
  std::optional<formats::WaveFormat> waveFormat;
  // The options of the compressed format it was opened from, read from the file.
  std::optional<formats::DocumentOptions> saveOptions;
  // Read when the file is opened, written into it after each save.
  formats::LAudioTagList tags;

  void ZoomIn();
  void ZoomOut();
  void ZoomSelection();
  void ZoomFull();
  void ToggleVerticalZoom();
  void SetDisplayMode(int mode);
  // The play position moved (playback, Home/End, the scroll bar).
  void FollowPosition(FramePos pos, bool paused = false);
  // Bookmark and region marks: lines across the displays, triangles on the ruler.
  void SetMarks(std::vector<RulerMark> marks);
  const std::vector<RulerMark>& marks() const { return marks_; }
  void ScrollStep(int direction);

  // The whole path of its file (the title when it has none): the caption's tool tip.
  QString FullPath() const;
  // The title as the caption shows it: elided in the middle to fit `pixels`.
  QString ElidedTitle(const QFontMetrics& fm, int pixels) const;

  // Lets the next close through (the frame has asked about saving).
  void ApproveClose() { closeApproved_ = true; }

 signals:
  void closeRequested(DocumentWindow* self);
  void activated(DocumentWindow* self);
  void statesChanged();           // selection, history or mode changed
  void contextMenuRequested(QPoint globalPos);
  // The person moved the position (a click or drag in a display, the scroll bar, the
  // ruler's cursor); selection: a selection was made or changed by it.
  void seekRequested(DocumentWindow* self, bool selection);

 protected:
  void resizeEvent(QResizeEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  bool event(QEvent* e) override;
  bool eventFilter(QObject* obj, QEvent* e) override;

 private:
  void OnChange(core::WaveDocument::Change change);
  void ShowChain();
  void ShowView();
  void ShowSelection();
  void ShowScrollBar();
  void UpdateTitle();
  void UpdateButtons();
  void OnSelectionFinished(FramePos first, FramePos last, FramePos marker);
  void OnAutoScroll(int direction);

  std::unique_ptr<core::WaveDocument> doc_;
  WaveDisplay* overview_;
  WaveDisplay* main_;
  Ruler* ruler_;
  QScrollBar* scroll_;
  QToolButton* buttons_[8];
  int displayMode_ = 0;
  bool verticalZoom_ = false;
  bool closeApproved_ = false;
  int autoScroll_ = 0;
  QTimer autoScrollTimer_;
  std::vector<RulerMark> marks_;
};

// The strip under the main display: selection, cursor, bookmark and region marks.
class Ruler : public QWidget {
  Q_OBJECT
 public:
  explicit Ruler(QWidget* parent = nullptr);
  void SetRange(FramePos start, FrameCount length, std::uint32_t rate);
  // The labelled times it shows, left to right (for tests).
  std::vector<std::pair<int, QString>> Labels() const;
  static constexpr int kMarkRow = 10;  // the marks' strip above the times'
  static constexpr int kHeight = 26;
  void SetMarks(FramePos selStart, FramePos selEnd, FramePos cursor);
  void SetMarks(std::vector<RulerMark> marks) { marks_ = std::move(marks), update(); }
  // The tool tip of the mark within 3 pixels of x ("%s\n%s", ">%s\n%s", "<%s\n%s");
  // empty when none is.
  QString TipAt(int x) const;
 signals:
  void cursorDragged(FramePos frame);

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent*) override { draggingCursor_ = false; }

 private:
  int PixelOf(FramePos f) const;
  FramePos FrameAt(int x) const;
  FramePos start_ = 0;
  FrameCount length_ = 0;
  std::uint32_t rate_ = 0;
  FramePos selStart_ = 0, selEnd_ = 0, cursor_ = 0;
  std::vector<RulerMark> marks_;
  bool draggingCursor_ = false;
};

}  // namespace quillet::ui
