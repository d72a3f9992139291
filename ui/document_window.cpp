#include "ui/document_window.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolButton>
#include <QToolTip>

#include <algorithm>
#include <cmath>

#include "platform/frame_time.h"
#include "ui/wave_display.h"

namespace quillet::ui {
namespace {

// Button IDs in layout order, with their text and tooltip.
struct ButtonInfo {
  int id;
  const char* text;
  const char* tip;
};
constexpr ButtonInfo kButtons[8] = {
    {83, "-", "Zoom Out (Ctrl+Minus)"},
    {84, "+", "Zoom In (Ctrl+Plus)"},
    {85, "[ ]", "Zoom Selection (Ctrl+Shift+S)"},
    {86, "<>", "Zoom Full (Ctrl+Shift+F)"},
    {87, "V", "Vertical Zoom (Ctrl+Shift+V)"},
    {88, "+/-", "Wave display + up / - down"},
    {89, "L/R", "Wave display left channel up / right channel down."},
    {91, "LR", "Wave display dual left and right channels"},
};

constexpr int kAutoScrollMs = 50;

}  // namespace

DocumentWindow::DocumentWindow(std::unique_ptr<core::WaveDocument> doc, QWidget* parent)
    : QWidget(parent), doc_(std::move(doc)) {
  setAttribute(Qt::WA_DeleteOnClose, false);
  // The window itself holds the focus, not its first button: Space then plays, and
  // only a button reached with Tab takes it.
  setFocusPolicy(Qt::ClickFocus);
  overview_ = new WaveDisplay(this);
  overview_->setObjectName("overview");
  main_ = new WaveDisplay(this);
  main_->setObjectName("main");
  ruler_ = new Ruler(this);
  scroll_ = new QScrollBar(Qt::Horizontal, this);
  for (int i = 0; i < 8; ++i) {
    auto* b = new QToolButton(this);
    b->setText(kButtons[i].text);
    b->setToolTip(kButtons[i].tip);
    b->setObjectName(QString("button%1").arg(kButtons[i].id));
    b->setFocusPolicy(Qt::TabFocus);
    buttons_[i] = b;
  }
  buttons_[4]->setCheckable(true);
  for (int i = 5; i < 8; ++i) buttons_[i]->setCheckable(true), buttons_[i]->setAutoExclusive(true);
  connect(buttons_[0], &QToolButton::clicked, this, &DocumentWindow::ZoomOut);
  connect(buttons_[1], &QToolButton::clicked, this, &DocumentWindow::ZoomIn);
  connect(buttons_[2], &QToolButton::clicked, this, &DocumentWindow::ZoomSelection);
  connect(buttons_[3], &QToolButton::clicked, this, &DocumentWindow::ZoomFull);
  connect(buttons_[4], &QToolButton::clicked, this, &DocumentWindow::ToggleVerticalZoom);
  connect(buttons_[5], &QToolButton::clicked, this, [this] { SetDisplayMode(0); });
  connect(buttons_[6], &QToolButton::clicked, this, [this] { SetDisplayMode(1); });
  connect(buttons_[7], &QToolButton::clicked, this, [this] { SetDisplayMode(2); });

  for (WaveDisplay* d : {overview_, main_}) {
    connect(d, &WaveDisplay::selectionChanging, this, [this](FramePos a, FramePos b) {
      doc_->SetSelection(a, b, doc_->cursor());
    });
    connect(d, &WaveDisplay::selectionFinished, this, &DocumentWindow::OnSelectionFinished);
    connect(d, &WaveDisplay::contextMenuRequested, this, &DocumentWindow::contextMenuRequested);
  }
  connect(overview_, &WaveDisplay::rangeDragged, this, [this](FramePos start) {
    const FrameCount width = doc_->viewEnd() - doc_->viewStart();
    start = std::clamp<FramePos>(start, 0, std::max<FrameCount>(doc_->length() - width, 0));
    doc_->SetView(start, start + width);
  });
  connect(main_, &WaveDisplay::autoScroll, this, &DocumentWindow::OnAutoScroll);
  connect(main_, &WaveDisplay::wheelTurned, this, [this](double steps, FramePos frame, bool zoom) {
    const View v{doc_->viewStart(), doc_->viewEnd()};
    // Each notch away halves the width (zoom in) or moves the view a tenth to the left.
    const View to = zoom ? ZoomAboutView(v, frame, std::pow(0.5, steps), doc_->length())
                         : ScrolledView(v, -steps, doc_->length());
    doc_->SetView(to.start, to.end);
    if (zoom) emit statesChanged();
  });
  connect(&autoScrollTimer_, &QTimer::timeout, this, [this] {
    ScrollStep(autoScroll_);
    main_->PinMovingEdge(autoScroll_ > 0);
  });
  // The bar is the view: its thumb is the visible part and a page is its width. The
  // play position goes along, as it does with the other ways of moving through a file.
  connect(scroll_, &QScrollBar::actionTriggered, this, [this](int action) {
    const FrameCount len = doc_->length();
    const View v{doc_->viewStart(), doc_->viewEnd()};
    const FrameCount width = v.end - v.start;
    const FramePos twoSeconds = FramePos{2} * doc_->sampleRate();
    FramePos target = doc_->cursor();
    switch (action) {
      case QAbstractSlider::SliderSingleStepSub: target -= twoSeconds; break;
      case QAbstractSlider::SliderSingleStepAdd: target += twoSeconds; break;
      case QAbstractSlider::SliderPageStepSub:
      case QAbstractSlider::SliderPageStepAdd: {
        const FrameCount shift = action == QAbstractSlider::SliderPageStepAdd ? width : -width;
        const FramePos start = std::clamp<FramePos>(v.start + shift, 0, std::max<FrameCount>(len - width, 0));
        const View to{start, start + width};
        target += to.start - v.start;
        doc_->SetView(to.start, to.end);
        break;
      }
      default: {
        const ScrollBarSpan span = ScrollBarFor(v, len);
        const View to = ViewAtScrollValue(v, scroll_->sliderPosition(), span, len);
        target = CursorAtScrollValue(to, scroll_->sliderPosition(), span);
        doc_->SetView(to.start, to.end);
        break;
      }
    }
    FollowPosition(std::clamp<FramePos>(target, 0, len));
    emit seekRequested(this, false);
    // The bar shows the view, not where the slider was dragged past the end.
    ShowScrollBar();
  });
  connect(ruler_, &Ruler::cursorDragged, this, [this](FramePos f) {
    FollowPosition(f);
    emit seekRequested(this, false);
  });

  doc_->SetObserver([this](core::WaveDocument::Change c) { OnChange(c); });
  if (doc_->viewEnd() <= doc_->viewStart()) doc_->ZoomFull();
  ShowChain();
  UpdateTitle();
  UpdateButtons();
  resize(640, 320);
}

DocumentWindow::~DocumentWindow() { doc_->SetObserver({}); }

QToolButton* DocumentWindow::button(int id) const {
  for (int i = 0; i < 8; ++i)
    if (kButtons[i].id == id) return buttons_[i];
  return nullptr;
}

void DocumentWindow::resizeEvent(QResizeEvent*) {
  const int W = width(), H = height();
  const int rowY = H - 26;
  const int scrollW = int(0.6 * W);
  scroll_->setGeometry(0, rowY, scrollW, 25);
  const int bw = std::max((W - scrollW - 4) / 8, 1);
  for (int i = 0; i < 8; ++i) buttons_[i]->setGeometry(scrollW + 1 + i * (bw + 1), rowY, bw, 25);
  const int rulerY = rowY - Ruler::kHeight;
  ruler_->setGeometry(0, rulerY, W, Ruler::kHeight);
  const int above = std::max(rulerY, 2);
  const int ovH = std::max(above * 12 / 100, 1);
  overview_->setGeometry(0, 0, W, ovH);
  main_->setGeometry(0, ovH, W, std::max(above - ovH, 1));
}

void DocumentWindow::closeEvent(QCloseEvent* e) {
  if (closeApproved_) {
    e->accept();
    return;
  }
  e->ignore();
  emit closeRequested(this);
}

bool DocumentWindow::event(QEvent* e) {
  if (e->type() == QEvent::WindowActivate || e->type() == QEvent::FocusIn) emit activated(this);
  if (e->type() == QEvent::ParentChange && parentWidget()) {
    // The caption belongs to the frame around us: its tool tip and width come from there.
    parentWidget()->installEventFilter(this);
    UpdateTitle();
  }
  return QWidget::event(e);
}

bool DocumentWindow::eventFilter(QObject* obj, QEvent* e) {
  if (obj == parentWidget()) {
    if (e->type() == QEvent::Resize) UpdateTitle();
    if (e->type() == QEvent::ToolTip) {
      auto* help = static_cast<QHelpEvent*>(e);
      // Only over the caption: the displays have tips of their own.
      if (help->pos().y() < geometry().top()) {
        QToolTip::showText(help->globalPos(), FullPath(), parentWidget());
        return true;
      }
    }
  }
  return QWidget::eventFilter(obj, e);
}

QString DocumentWindow::FullPath() const {
  return doc_->file().empty() ? QString::fromStdString(doc_->Title()) : QString::fromStdString(doc_->file().string());
}

QString DocumentWindow::ElidedTitle(const QFontMetrics& fm, int pixels) const {
  return fm.elidedText(QString::fromStdString(doc_->Title()), Qt::ElideMiddle, std::max(pixels, 1));
}

void DocumentWindow::OnChange(core::WaveDocument::Change change) {
  switch (change) {
    case core::WaveDocument::Change::Audio: ShowChain(); break;
    case core::WaveDocument::Change::View: ShowView(); break;
    case core::WaveDocument::Change::Selection: ShowSelection(); break;
    case core::WaveDocument::Change::History: break;
  }
  UpdateTitle();
  emit statesChanged();
}

void DocumentWindow::ShowChain() {
  const core::AudioChain& chain = doc_->chain();
  const FrameCount len = doc_->length();
  if (chain.channels != 2 && displayMode_ != 0) displayMode_ = 0;
  overview_->SetAudioEnd(len);
  overview_->SetAudio(chain, 0, false);
  const View whole = ShownView({0, len}, doc_->sampleRate());
  overview_->RequestView(whole.start, whole.end - whole.start);
  main_->SetAudioEnd(len);
  main_->SetAudio(chain, displayMode_, verticalZoom_);
  ShowView();
  ShowSelection();
  UpdateButtons();
}

void DocumentWindow::ShowView() {
  const View v = ShownView({doc_->viewStart(), doc_->viewEnd()}, doc_->sampleRate());
  main_->RequestView(v.start, v.end - v.start);
  ruler_->SetRange(v.start, v.end - v.start, doc_->sampleRate());
  overview_->SetRangeMark(doc_->viewStart(), doc_->viewEnd());
  ShowScrollBar();
}

void DocumentWindow::ShowScrollBar() {
  const ScrollBarSpan span = ScrollBarFor({doc_->viewStart(), doc_->viewEnd()}, doc_->length());
  const QSignalBlocker block(scroll_);
  scroll_->setRange(0, span.maximum);
  scroll_->setPageStep(span.page);
  scroll_->setSingleStep(std::max(span.page / 10, 1));
  if (!scroll_->isSliderDown()) scroll_->setValue(span.value);
}

void DocumentWindow::ShowSelection() {
  for (WaveDisplay* d : {overview_, main_}) {
    if (!d->dragging()) d->SetSelectionMarks(doc_->selStart(), doc_->selEnd());
  }
  overview_->SetMarker(doc_->cursor(), 0);
  main_->SetMarker(doc_->cursor(), 0);
  ruler_->SetMarks(doc_->selStart(), doc_->selEnd(), doc_->cursor());
}

void DocumentWindow::UpdateTitle() {
  // Room for the icon, the title bar's three buttons and the modified mark.
  constexpr int kCaptionChrome = 110;
  const QWidget* frame = parentWidget() ? parentWidget() : this;
  setWindowTitle(ElidedTitle(QFontMetrics(frame->font()), frame->width() - kCaptionChrome) + "[*]");
  setWindowModified(doc_->modified());
}

void DocumentWindow::UpdateButtons() {
  const bool stereo = doc_->channels() == 2;
  for (int i = 5; i < 8; ++i) buttons_[i]->setEnabled(stereo);
  buttons_[5 + displayMode_]->setChecked(true);
  buttons_[4]->setChecked(verticalZoom_);
}

void DocumentWindow::OnSelectionFinished(FramePos first, FramePos last, FramePos marker) {
  doc_->SetSelection(first, last, marker);
  FollowPosition(doc_->cursor());
  emit seekRequested(this, true);
}

void DocumentWindow::OnAutoScroll(int direction) {
  autoScroll_ = direction;
  if (direction == 0) autoScrollTimer_.stop();
  else autoScrollTimer_.start(kAutoScrollMs);
}

void DocumentWindow::ScrollStep(int direction) {
  const View v{doc_->viewStart(), doc_->viewEnd()};
  const FrameCount width = v.end - v.start;
  const FrameCount step = std::max<FrameCount>(width / 10, 1) * direction;
  FramePos start = std::clamp<FramePos>(v.start + step, 0, std::max<FrameCount>(doc_->length() - width, 0));
  doc_->SetView(start, start + width);
}

void DocumentWindow::ZoomIn() {
  const View v = ZoomInView({doc_->viewStart(), doc_->viewEnd()}, doc_->cursor(), doc_->length());
  doc_->SetView(v.start, v.end);
  emit statesChanged();
}

void DocumentWindow::ZoomOut() {
  const View v = ZoomOutView({doc_->viewStart(), doc_->viewEnd()}, doc_->length());
  doc_->SetView(v.start, v.end);
  emit statesChanged();
}

void DocumentWindow::ZoomSelection() {
  if (doc_->HasSelection()) doc_->SetView(doc_->selStart(), doc_->selEnd());
  emit statesChanged();
}

void DocumentWindow::ZoomFull() {
  doc_->ZoomFull();
  emit statesChanged();
}

void DocumentWindow::ToggleVerticalZoom() {
  verticalZoom_ = !verticalZoom_;
  main_->SetAudio(doc_->chain(), displayMode_, verticalZoom_);
  ShowView();
  UpdateButtons();
  emit statesChanged();
}

void DocumentWindow::SetDisplayMode(int mode) {
  if (mode != 0 && doc_->channels() != 2) mode = 0;
  displayMode_ = std::clamp(mode, 0, 2);
  main_->SetAudio(doc_->chain(), displayMode_, verticalZoom_);
  ShowView();
  UpdateButtons();
  emit statesChanged();
}

void DocumentWindow::FollowPosition(FramePos pos, bool paused) {
  const FramePos cursor = std::clamp<FramePos>(pos, 0, doc_->length());
  doc_->SetCursor(cursor);
  const FrameCount band = paused ? FrameCount(doc_->sampleRate()) * 25 / 1000 : 0;
  main_->SetMarker(cursor, band);
  const View v = FollowView({doc_->viewStart(), doc_->viewEnd()}, cursor);
  if (v != View{doc_->viewStart(), doc_->viewEnd()}) doc_->SetView(v.start, v.end);
  ShowSelection();
  emit statesChanged();
}

void DocumentWindow::SetMarks(std::vector<RulerMark> marks) {
  if (marks == marks_) return;
  marks_ = std::move(marks);
  std::vector<FramePos> lines;
  for (const RulerMark& m : marks_) lines.push_back(m.at);
  overview_->SetLines(lines);
  main_->SetLines(lines);
  ruler_->SetMarks(marks_);
}

Ruler::Ruler(QWidget* parent) : QWidget(parent) {
  setMinimumHeight(10);
  setMouseTracking(true);  // tool tips follow the pointer
}

QString Ruler::TipAt(int x) const {
  for (const RulerMark& m : marks_) {
    const int mx = PixelOf(m.at);
    if (mx >= 0 && std::abs(mx - x) <= 3) return m.tip;
  }
  return {};
}

void Ruler::SetRange(FramePos start, FrameCount length, std::uint32_t rate) {
  start_ = start;
  length_ = length;
  rate_ = rate;
  update();
}

namespace {
// Room for "10:00:00.000" and a gap.
constexpr int kLabelPixels = 90;
}  // namespace

std::vector<std::pair<int, QString>> Ruler::Labels() const {
  std::vector<std::pair<int, QString>> out;
  if (length_ <= 0 || rate_ == 0) return out;
  const std::int64_t first = platform::MsFromFrames(start_, rate_);
  const std::int64_t last = platform::MsFromFrames(start_ + length_, rate_);
  const std::int64_t step = RulerStepMs(last - first, std::max(width() - 2, 1), kLabelPixels);
  for (std::int64_t ms = (first + step - 1) / step * step; ms <= last; ms += step) {
    const int x = PixelOf(FramePos(platform::FramesFromMs(ms, rate_)));
    if (x >= 0) out.emplace_back(x, QString::fromStdString(RulerLabel(ms, step)));
  }
  return out;
}

void Ruler::SetMarks(FramePos selStart, FramePos selEnd, FramePos cursor) {
  selStart_ = selStart;
  selEnd_ = selEnd;
  cursor_ = cursor;
  update();
}

int Ruler::PixelOf(FramePos f) const {
  if (length_ <= 0) return -1;
  const int usable = std::clamp(width() - 2, 1, 2048);
  const double x = double(f - start_) * std::max(usable, 8) / double(length_);
  if (x < 0 || x > usable) return -1;
  return int(x) + 1;
}

FramePos Ruler::FrameAt(int x) const {
  const int usable = std::clamp(width() - 2, 1, 2048);
  return start_ + FramePos(double(x - 1) * double(length_) / std::max(usable, 8));
}

void Ruler::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), QColor(64, 64, 64));
  QFont small = font();
  small.setPixelSize(height() - kMarkRow - 3);
  p.setFont(small);
  p.setPen(QColor(200, 200, 200));
  for (const auto& [x, text] : Labels()) {
    p.drawLine(x, kMarkRow, x, height() - 1);
    p.drawText(QRect(x + 3, kMarkRow, kLabelPixels, height() - kMarkRow), Qt::AlignLeft | Qt::AlignVCenter, text);
  }
  const int h = kMarkRow;
  auto triangle = [&](FramePos f, QColor c, int dir) {
    const int x = PixelOf(f);
    if (x < 0) return;
    p.setPen(c);
    p.setBrush(c);
    // dir < 0: points right from the left of x (start), > 0: left (end), 0: down.
    const QPoint pts[3] = {dir == 0 ? QPoint(x - 3, 0) : QPoint(x, 0),
                           dir == 0 ? QPoint(x + 3, 0) : QPoint(x + (dir < 0 ? 4 : -4), 0),
                           QPoint(x, h - 1)};
    p.drawPolygon(pts, 3);
  };
  for (const RulerMark& m : marks_)
    triangle(m.at, QColor(0, 191, 255), m.kind == RulerMark::Bookmark ? 0 : m.kind == RulerMark::RegionStart ? -1 : 1);
  if (selEnd_ > selStart_) {
    triangle(selStart_, QColor(5, 94, 167).lighter(160), -1);
    triangle(selEnd_, QColor(5, 94, 167).lighter(160), 1);
  }
  triangle(cursor_, QColor(255, 255, 17), 0);
}

void Ruler::mousePressEvent(QMouseEvent* e) {
  const int x = int(e->position().x());
  const int cx = PixelOf(cursor_);
  draggingCursor_ = cx >= 0 && std::abs(cx - x) <= 3 && e->position().y() < kMarkRow + 2;
}

void Ruler::mouseMoveEvent(QMouseEvent* e) {
  if (draggingCursor_) {
    emit cursorDragged(std::max<FramePos>(FrameAt(int(e->position().x())), 0));
    return;
  }
  const QString tip = TipAt(int(e->position().x()));
  if (tip.isEmpty()) {
    QToolTip::hideText();
    return;
  }
  // Above the pointer, so the triangle stays in sight; at most 300 pixels wide.
  QToolTip::showText(e->globalPosition().toPoint() - QPoint(0, 40),
                     QString("<div style='max-width:300px'>%1</div>").arg(tip.toHtmlEscaped().replace('\n', "<br>")), this);
}

}  // namespace quillet::ui
