#include "ui/analysis_windows.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>
#include <cmath>

#include "core/chain_source.h"
#include "ui/document_window.h"

namespace quillet::ui {
namespace {

// The level axis of the frequency graph, top to bottom, in dB.
constexpr double kTopDb = 10;
constexpr double kBottomDb = -130;
constexpr int kMaxZoom = 2;

// A step of 1, 2 or 5 times a power of ten that puts labels at least minPixels apart
// on an axis of `pixels` showing `span` units.
double NiceStep(double span, int pixels, int minPixels) {
  if (span <= 0 || pixels <= 0) return 1;
  const double raw = span * minPixels / pixels;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0})
    if (m * power >= raw) return m * power;
  return 10 * power;
}

QString HzText(double hz) {
  return hz >= 1000 ? QString::number(hz / 1000, 'g', 4) + "k" : QString::number(std::lround(hz));
}

// m:ss.hh
QString TimeText(double seconds) {
  const auto hundredths = static_cast<long long>(std::floor(seconds * 100 + 0.5));
  return QString::asprintf("%lld:%02lld.%02lld", hundredths / 6000, hundredths / 100 % 60, hundredths % 100);
}

QToolButton* Button(const QString& text, const QString& tip, QWidget* parent) {
  auto* b = new QToolButton(parent);
  b->setText(text);
  b->setToolTip(tip);
  b->setAccessibleName(tip);
  return b;
}

const QColor kChannelColours[] = {QColor(90, 220, 120), QColor(240, 110, 90)};

}  // namespace

// ---- the frequency window ----

FrequencyGraph::FrequencyGraph(QWidget* parent) : QWidget(parent) {
  setMouseTracking(true);
  setMinimumSize(320, 180);
}

QRect FrequencyGraph::Plot() const { return rect().adjusted(52, 8, -10, -26); }

void FrequencyGraph::SetView(int hLevel, int hScroll, int vLevel, int vScroll) {
  hzSpan_ = 1.0 / (1 << hLevel);
  hzFrom_ = std::min(hScroll / 101.0, 1 - hzSpan_);
  dbSpan_ = 1.0 / (1 << vLevel);
  dbFrom_ = std::min(vScroll / 101.0, 1 - dbSpan_);
  update();
}

double FrequencyGraph::HzAt(int x) const {
  const QRect p = Plot();
  const double nyquist = data_ ? static_cast<double>(data_->rate) / 2 : 22050;
  return (hzFrom_ + hzSpan_ * (x - p.left()) / std::max(p.width() - 1, 1)) * nyquist;
}

double FrequencyGraph::DbAt(int y) const {
  const QRect p = Plot();
  return kTopDb - (dbFrom_ + dbSpan_ * (y - p.top()) / std::max(p.height() - 1, 1)) * (kTopDb - kBottomDb);
}

QString FrequencyGraph::TextAt(QPoint pt) const {
  if (!data_ || data_->levels.empty() || !Plot().contains(pt)) return {};
  const double hz = HzAt(pt.x());
  const int bin = std::clamp(static_cast<int>(std::lround(hz / data_->BinHz(1))), 0, data_->bins() - 1);
  int level = effects::kLowestLevel;
  for (const auto& ch : data_->levels) level = std::max(level, ch[static_cast<std::size_t>(bin)]);
  return QString::asprintf("%d Hz, %d dB", static_cast<int>(std::lround(hz)), level);
}

void FrequencyGraph::mouseMoveEvent(QMouseEvent* e) {
  const QString text = TextAt(e->position().toPoint());
  setToolTip(text);
  emit hovered(text);
}

void FrequencyGraph::paintEvent(QPaintEvent*) {
  QPainter g(this);
  g.fillRect(rect(), palette().window());
  const QRect p = Plot();
  g.fillRect(p, Qt::black);
  const double hz0 = HzAt(p.left()), hz1 = HzAt(p.right());
  const double db0 = DbAt(p.bottom()), db1 = DbAt(p.top());
  auto xOf = [&](double hz) { return p.left() + static_cast<int>(std::lround((hz - hz0) / (hz1 - hz0) * (p.width() - 1))); };
  auto yOf = [&](double db) { return p.bottom() - static_cast<int>(std::lround((db - db0) / (db1 - db0) * (p.height() - 1))); };
  // Axes: labels always, lines across the plot when the grid is on.
  g.setPen(palette().text().color());
  const double hzStep = NiceStep(hz1 - hz0, p.width(), 70);
  for (double hz = std::ceil(hz0 / hzStep) * hzStep; hz <= hz1; hz += hzStep) {
    const int x = xOf(hz);
    g.setPen(QColor(70, 70, 70));
    if (grid) g.drawLine(x, p.top(), x, p.bottom());
    g.setPen(palette().text().color());
    g.drawLine(x, p.bottom() + 1, x, p.bottom() + 4);
    g.drawText(QRect(x - 40, p.bottom() + 5, 80, 18), Qt::AlignHCenter | Qt::AlignTop, HzText(hz));
  }
  const double dbStep = NiceStep(db1 - db0, p.height(), 28);
  for (double db = std::ceil(db0 / dbStep) * dbStep; db <= db1; db += dbStep) {
    const int y = yOf(db);
    g.setPen(QColor(70, 70, 70));
    if (grid) g.drawLine(p.left(), y, p.right(), y);
    g.setPen(palette().text().color());
    g.drawLine(p.left() - 4, y, p.left() - 1, y);
    g.drawText(QRect(0, y - 9, p.left() - 6, 18), Qt::AlignRight | Qt::AlignVCenter,
               QString::number(std::lround(db)));
  }
  g.drawText(QRect(4, p.bottom() + 5, p.left() - 6, 18), Qt::AlignLeft | Qt::AlignTop, "Hz");
  g.drawText(QRect(2, p.top() - 2, p.left() - 6, 14), Qt::AlignLeft | Qt::AlignTop, "dB");
  if (!data_) return;
  g.setClipRect(p);
  g.setRenderHint(QPainter::Antialiasing);
  const double binHz = data_->BinHz(1);
  for (std::size_t c = 0; c < data_->levels.size(); ++c) {
    const auto& levels = data_->levels[c];
    QPolygonF line;
    for (int x = p.left(); x <= p.right(); ++x) {
      // The loudest bin under the column, so a narrow partial is never skipped.
      const int k0 = std::clamp(static_cast<int>(std::floor(HzAt(x) / binHz)), 0, data_->bins() - 1);
      const int k1 = std::clamp(static_cast<int>(std::floor(HzAt(x + 1) / binHz)), k0, data_->bins() - 1);
      int level = levels[static_cast<std::size_t>(k0)];
      for (int k = k0 + 1; k <= k1; ++k) level = std::max(level, levels[static_cast<std::size_t>(k)]);
      line << QPointF(x, yOf(level));
    }
    g.setPen(QPen(kChannelColours[c % 2], 1.2));
    g.drawPolyline(line);
  }
}

LFrequencyWindow::LFrequencyWindow(settings::Settings& settings, QWidget* parent)
    : QWidget(parent), settings_(settings) {
  setObjectName("LFrequencyWindow");
  graph_ = new FrequencyGraph(this);
  hScroll_ = new QScrollBar(Qt::Horizontal, this);
  vScroll_ = new QScrollBar(Qt::Vertical, this);
  hScroll_->setToolTip("Click to scroll the frequency window horizontally");
  vScroll_->setToolTip("Click to scroll the frequency window vertically");
  const char* names[] = {"Vertical Zoom In", "Vertical Zoom Out", "Horizontal Zoom In",
                         "Horizontal Zoom Out", "Zoom to Default"};
  const char* faces[] = {"V+", "V-", "H+", "H-", "1:1"};
  auto* row = new QHBoxLayout;
  for (int i = 0; i < 5; ++i) {
    buttons_[i] = Button(faces[i], names[i], this);
    row->addWidget(buttons_[i]);
  }
  auto_ = new QCheckBox("Auto update", this);
  auto_->setToolTip("Follow the cursor of the active document");
  auto_->setChecked(settings_.GetBool("Settings", "FFTAutoUpdate", true));
  connect(auto_, &QCheckBox::toggled, this, [this](bool on) { settings_.SetBool("Settings", "FFTAutoUpdate", on); });
  row->addWidget(auto_);
  where_ = new QLabel(this);
  row->addWidget(where_, 1);
  hover_ = new QLabel(this);
  hover_->setMinimumWidth(130);
  hover_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  row->addWidget(hover_);
  auto* grid = new QHBoxLayout;
  grid->setSpacing(0);
  grid->addWidget(graph_, 1);
  grid->addWidget(vScroll_);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(4, 4, 4, 4);
  column->addLayout(row);
  column->addLayout(grid, 1);
  column->addWidget(hScroll_);
  connect(graph_, &FrequencyGraph::hovered, hover_, &QLabel::setText);
  connect(buttons_[0], &QToolButton::clicked, this, [this] { Zoom(vLevel_, 1); });
  connect(buttons_[1], &QToolButton::clicked, this, [this] { Zoom(vLevel_, -1); });
  connect(buttons_[2], &QToolButton::clicked, this, [this] { Zoom(hLevel_, 1); });
  connect(buttons_[3], &QToolButton::clicked, this, [this] { Zoom(hLevel_, -1); });
  connect(buttons_[4], &QToolButton::clicked, this, [this] {
    hLevel_ = vLevel_ = 0;
    ApplyView();
  });
  connect(hScroll_, &QScrollBar::valueChanged, this, [this] { ApplyView(); });
  connect(vScroll_, &QScrollBar::valueChanged, this, [this] { ApplyView(); });
  ApplyView();
}

bool LFrequencyWindow::autoUpdate() const { return auto_->isChecked(); }

void LFrequencyWindow::Zoom(int& level, int delta) {
  level = std::clamp(level + delta, 0, kMaxZoom);
  ApplyView();
}

void LFrequencyWindow::ApplyView() {
  for (auto [bar, level] : {std::pair{hScroll_, hLevel_}, std::pair{vScroll_, vLevel_}}) {
    const QSignalBlocker block(bar);
    const int page = 101 / (1 << level);
    bar->setPageStep(page);
    bar->setRange(0, 101 - page);
  }
  buttons_[0]->setEnabled(vLevel_ < kMaxZoom);
  buttons_[1]->setEnabled(vLevel_ > 0);
  buttons_[2]->setEnabled(hLevel_ < kMaxZoom);
  buttons_[3]->setEnabled(hLevel_ > 0);
  graph_->SetView(hLevel_, hScroll_->value(), vLevel_, vScroll_->value());
}

void LFrequencyWindow::SetData(effects::FrequencyData levels, const QString& where) {
  data_ = std::move(levels);
  where_->setText(where);
  graph_->SetData(&data_);
}

// ---- the temporal window ----

TemporalPicture::TemporalPicture(QWidget* parent) : QWidget(parent) {
  setMouseTracking(true);
  setMinimumSize(320, 200);
}

QRect TemporalPicture::Plot() const { return rect().adjusted(56, 6, -24, -24); }

void TemporalPicture::Rebuild() {
  const QRect p = Plot();
  view.width = std::max(p.width(), 0);
  view.height = std::max(p.height(), 0);
  image_ = QImage();
  if (data_ && view.width > 0 && view.height > 0) {
    const std::vector<std::uint32_t> px = effects::RenderTemporal(*data_, view);
    image_ = QImage(view.width, view.height, QImage::Format_RGB32);
    for (int y = 0; y < view.height; ++y)
      std::copy_n(px.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(view.width), view.width,
                  reinterpret_cast<std::uint32_t*>(image_.scanLine(y)));
  }
  update();
}

void TemporalPicture::resizeEvent(QResizeEvent*) { Rebuild(); }

QString TemporalPicture::TextAt(QPoint pt) const {
  const QRect p = Plot();
  if (!data_ || data_->columns <= 0 || !p.contains(pt)) return {};
  const std::int64_t col = effects::ColumnAtX(*data_, view, pt.x() - p.left());
  const int bin = effects::BinAtRow(*data_, view, pt.y() - p.top());
  const double seconds = static_cast<double>(data_->start + col * data_->hop) / static_cast<double>(data_->rate);
  return QString::asprintf("Time: %s    Frequency: %d Hz    Volume: %d dB", qPrintable(TimeText(seconds)),
                           static_cast<int>(data_->BinHz(bin)), data_->LevelAt(col, bin));
}

void TemporalPicture::mouseMoveEvent(QMouseEvent* e) { emit hovered(TextAt(e->position().toPoint())); }

void TemporalPicture::paintEvent(QPaintEvent*) {
  QPainter g(this);
  g.fillRect(rect(), palette().window());
  const QRect p = Plot();
  g.fillRect(p, Qt::black);
  if (!data_ || data_->columns <= 0) return;
  g.drawImage(p.topLeft(), image_);
  const effects::BinRange bins = effects::VisibleBins(*data_, view);
  const double binHz = static_cast<double>(data_->rate) / (1 << data_->bits);
  const double hz0 = bins.lowBin * binHz, hz1 = bins.highBin * binHz;
  const double t0 = static_cast<double>(data_->start) / static_cast<double>(data_->rate);
  const double t1 = t0 + static_cast<double>(data_->length) / static_cast<double>(data_->rate);
  const QColor gridColour(255, 255, 255, 70);
  const double hzStep = NiceStep(hz1 - hz0, p.height(), 30);
  for (double hz = std::ceil(hz0 / hzStep) * hzStep; hz <= hz1; hz += hzStep) {
    const int y = p.bottom() - static_cast<int>(std::lround((hz - hz0) / (hz1 - hz0) * (p.height() - 1)));
    if (grid) {
      g.setPen(gridColour);
      g.drawLine(p.left(), y, p.right(), y);
    }
    g.setPen(palette().text().color());
    g.drawLine(p.left() - 4, y, p.left() - 1, y);
    g.drawText(QRect(0, y - 9, p.left() - 6, 18), Qt::AlignRight | Qt::AlignVCenter, HzText(hz));
  }
  const double tStep = NiceStep(t1 - t0, p.width(), 80);
  for (double t = std::ceil(t0 / tStep) * tStep; t <= t1; t += tStep) {
    const int x = p.left() + static_cast<int>(std::lround((t - t0) / (t1 - t0) * (p.width() - 1)));
    if (grid) {
      g.setPen(gridColour);
      g.drawLine(x, p.top(), x, p.bottom());
    }
    g.setPen(palette().text().color());
    g.drawLine(x, p.bottom() + 1, x, p.bottom() + 4);
    g.drawText(QRect(x - 40, p.bottom() + 4, 80, 18), Qt::AlignHCenter | Qt::AlignTop, TimeText(t));
  }
  g.drawText(QRect(2, p.top() - 2, p.left() - 6, 14), Qt::AlignLeft | Qt::AlignTop, "Hz");
}

LTFFTWindow::LTFFTWindow(settings::Settings& settings, QWidget* parent)
    : QWidget(parent), settings_(settings) {
  setObjectName("LTFFTWindow");
  picture_ = new TemporalPicture(this);
  picture_->view.fullZoom = settings_.GetBool("Settings", "TFFTFullZoomOn", true);
  picture_->view.scroll = std::clamp(settings_.GetInt("Settings", "TFFTVScroll", 100), 0, 100);
  picture_->grid = settings_.GetBool("Settings", "GridToggle", true);
  vScroll_ = new QScrollBar(Qt::Vertical, this);
  vScroll_->setRange(0, 100);
  vScroll_->setValue(picture_->view.scroll);
  const char* tips[] = {"Reselect this analysis region in the audio waveform", "Zoom In to the 0 - 4000Hz range",
                        "Zoom Out to see the full graph", "Toggle the gridlines on or off",
                        "Save the picture as a PNG file"};
  const char* faces[] = {"Reselect", "0-4 kHz", "Full", "Grid", "Save Picture..."};
  auto* row = new QHBoxLayout;
  for (int i = 0; i < 5; ++i) {
    buttons_[i] = Button(faces[i], tips[i], this);
    row->addWidget(buttons_[i]);
  }
  buttons_[3]->setCheckable(true);
  buttons_[3]->setChecked(picture_->grid);
  auto_ = new QCheckBox("Auto update", this);
  auto_->setToolTip("Recompute when the selection of the active document changes");
  auto_->setChecked(settings_.GetBool("Settings", "TFFTAutoUpdate", true));
  connect(auto_, &QCheckBox::toggled, this, [this](bool on) { settings_.SetBool("Settings", "TFFTAutoUpdate", on); });
  row->addWidget(auto_);
  row->addStretch(1);
  row->addWidget(new QLabel("Brightness", this));
  brightness_ = new QSlider(Qt::Horizontal, this);
  brightness_->setRange(effects::kMinBrightness, effects::kMaxBrightness);
  brightness_->setValue(effects::kDefaultBrightness);
  brightness_->setToolTip("Change the brightness level of the graph");
  brightness_->setMinimumWidth(120);
  row->addWidget(brightness_);
  status_ = new QLabel(this);
  status_->setFrameShape(QFrame::StyledPanel);
  auto* middle = new QHBoxLayout;
  middle->setSpacing(0);
  middle->addWidget(picture_, 1);
  middle->addWidget(vScroll_);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(4, 4, 4, 4);
  column->addLayout(row);
  column->addLayout(middle, 1);
  column->addWidget(status_);
  connect(picture_, &TemporalPicture::hovered, status_, &QLabel::setText);
  connect(brightness_, &QSlider::valueChanged, this, [this] { ApplyView(); });
  connect(vScroll_, &QScrollBar::valueChanged, this, [this] { ApplyView(); });
  connect(buttons_[0], &QToolButton::clicked, this, [this] {
    if (!doc_ || data_.length <= 0) return;
    core::WaveDocument& d = doc_->doc();
    const audio::FramePos end = std::min<audio::FramePos>(data_.start + data_.length, d.length());
    d.SetSelection(std::min(data_.start, end), end, std::min(data_.start, end));
  });
  connect(buttons_[1], &QToolButton::clicked, this, [this] {
    picture_->view.fullZoom = false;
    vScroll_->setValue(100);
    ApplyView();
  });
  connect(buttons_[2], &QToolButton::clicked, this, [this] {
    picture_->view.fullZoom = true;
    ApplyView();
  });
  connect(buttons_[3], &QToolButton::toggled, this, [this](bool on) {
    picture_->grid = on;
    picture_->update();
  });
  connect(buttons_[4], &QToolButton::clicked, this, [this] {
    const QString file = QFileDialog::getSaveFileName(this, "Save Picture", "spectrogram.png", "PNG pictures (*.png)");
    if (!file.isEmpty() && !SavePicture(file)) status_->setText("The picture could not be written to " + file + ".");
  });
  ApplyView();
}

LTFFTWindow::~LTFFTWindow() { StoreSettings(); }

void LTFFTWindow::closeEvent(QCloseEvent* e) {
  StoreSettings();
  QWidget::closeEvent(e);
}

void LTFFTWindow::StoreSettings() {
  settings_.SetBool("Settings", "TFFTFullZoomOn", picture_->view.fullZoom);
  settings_.SetInt("Settings", "TFFTVScroll", picture_->view.scroll);
  settings_.SetBool("Settings", "GridToggle", picture_->grid);
}

bool LTFFTWindow::autoUpdate() const { return auto_->isChecked(); }

void LTFFTWindow::ApplyView() {
  picture_->view.brightness = brightness_->value();
  picture_->view.scroll = vScroll_->value();
  vScroll_->setEnabled(!picture_->view.fullZoom);
  buttons_[1]->setEnabled(picture_->view.fullZoom);
  buttons_[2]->setEnabled(!picture_->view.fullZoom);
  picture_->Rebuild();
}

void LTFFTWindow::SetData(effects::TemporalData picture, DocumentWindow* doc) {
  data_ = std::move(picture);
  doc_ = doc;
  picture_->SetData(&data_);
}

bool LTFFTWindow::SavePicture(const QString& file) const { return picture_->grab().toImage().save(file, "PNG"); }

// ---- the frame's side ----

AnalysisWindows::AnalysisWindows(QMdiArea& mdi, settings::Settings& settings, platform::Prompter& prompter,
                                 platform::ProgressWindowFactory& progress)
    : mdi_(mdi), settings_(settings), prompter_(prompter), progress_(progress) {
  followTimer_.setSingleShot(true);
  followTimer_.setInterval(250);
  connect(&followTimer_, &QTimer::timeout, this, [this] {
    if (!following_ || computing_) return;
    if (LFrequencyWindow* f = frequency(); f && f->autoUpdate()) ShowFrequency(following_, false);
    LTFFTWindow* t = temporal();
    if (!t || !t->autoUpdate() || !following_->doc().HasSelection()) return;
    const core::WaveDocument& d = following_->doc();
    if (t->data().start == d.selStart() && t->data().length == d.selEnd() - d.selStart()) return;
    ShowTemporal(following_, true);
  });
}

AnalysisWindows::~AnalysisWindows() {
  if (LTFFTWindow* t = temporal()) t->StoreSettings();
}

// A closed window lingers until its deferred deletion: it counts as absent already.
LFrequencyWindow* AnalysisWindows::frequency() const {
  return frequency_ && !frequency_->isHidden() ? qobject_cast<LFrequencyWindow*>(frequency_->widget()) : nullptr;
}

LTFFTWindow* AnalysisWindows::temporal() const {
  return temporal_ && !temporal_->isHidden() ? qobject_cast<LTFFTWindow*>(temporal_->widget()) : nullptr;
}

QMdiSubWindow* AnalysisWindows::Place(QWidget* content, const QString& title, QSize size) {
  QMdiSubWindow* sub = mdi_.addSubWindow(content);
  sub->setAttribute(Qt::WA_DeleteOnClose);
  sub->setWindowTitle(title);
  // Fully inside the document area, at its right edge: the waveform stays in sight.
  const QRect room = mdi_.viewport()->rect();
  size = size.boundedTo(QSize(std::max(room.width() - 8, 360), std::max(room.height() - 8, 240)));
  sub->resize(size);
  const bool top = content->objectName() == "LFrequencyWindow";
  sub->move(std::max(room.right() - size.width() - 4, 0),
            top ? 4 : std::max(room.bottom() - size.height() - 4, 0));
  sub->show();
  return sub;
}

bool AnalysisWindows::ShowFrequency(DocumentWindow* w, bool open) {
  if (!w || (!frequency() && !open)) return false;
  const core::WaveDocument& doc = w->doc();
  auto src = core::ChainOpenSource(doc.chain());
  effects::FrequencyData data;
  const platform::Outcome r = effects::ComputeFrequencyData(*src, doc.cursor(), data);
  if (!r.done()) {
    prompter_.Message(r.message, "Quillet", platform::MessageIcon::Error, platform::MessageButtons::Ok);
    return false;
  }
  if (!frequency()) frequency_ = Place(new LFrequencyWindow(settings_), "Frequency Analysis", QSize(640, 380));
  const double seconds = static_cast<double>(doc.cursor()) / std::max<double>(doc.sampleRate(), 1);
  frequency()->SetData(std::move(data), QString("%1 at %2 s").arg(QString::fromStdString(doc.Title())).arg(seconds, 0, 'f', 2));
  if (open) mdi_.setActiveSubWindow(frequency_);
  return true;
}

platform::TaskResult AnalysisWindows::ShowTemporal(DocumentWindow* w, bool quiet) {
  if (!w || computing_ || !w->doc().HasSelection()) return platform::kTaskFailed;
  core::WaveDocument& doc = w->doc();
  const audio::FramePos start = doc.selStart();
  const audio::FrameCount length = doc.selEnd() - doc.selStart();
  if (length > audio::FrameCount{10} * doc.sampleRate()) {
    if (quiet) return platform::kTaskDone;
    const platform::Answer a = prompter_.Message(
        "The Temporal Analysis graph is usually only performed on short selections (of a few seconds or "
        "so) because it takes a long time to compute. Continue anyway?",
        "Quillet", platform::MessageIcon::Question, platform::MessageButtons::YesNoCancel);
    if (a != platform::Answer::Yes) return platform::kTaskCancelled;
  }
  platform::BusyGuard guard(doc.busyFlag());
  if (!guard.owns()) return platform::kTaskFailed;
  computing_ = true;
  effects::TemporalTask task(audio::SourceHandle(core::ChainOpenSource(doc.chain())), start, length);
  task.Run(progress_);
  computing_ = false;
  if (task.result != platform::kTaskDone) {
    if (temporal()) temporal_->close();  // a failed or cancelled computation closes the window
    if (task.result == platform::kTaskFailed && !task.message.empty())
      prompter_.Message(task.message, "Quillet", platform::MessageIcon::Error, platform::MessageButtons::Ok);
    return task.result;
  }
  if (!temporal()) temporal_ = Place(new LTFFTWindow(settings_), "Temporal Frequency Analysis", QSize(720, 440));
  temporal()->SetData(std::move(task.data), w);
  if (!quiet) mdi_.setActiveSubWindow(temporal_);
  return platform::kTaskDone;
}

void AnalysisWindows::Follow(DocumentWindow* w) {
  if (!frequency() && !temporal()) return;
  following_ = w;
  followTimer_.start();
}

}  // namespace quillet::ui
