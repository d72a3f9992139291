#pragma once
// The two analysis windows, child windows of the main frame: the level per frequency
// at the cursor (LFrequencyWindow) and the time-frequency picture of the selection
// (LTFFTWindow). At most one of each; a new request recomputes the open one. With
// "Auto update" checked they follow the active document's cursor and selection.

#include <QImage>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include "effects/spectrum.h"
#include "platform/prompter.h"
#include "platform/task.h"
#include "settings/settings.h"

class QCheckBox;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QPushButton;
class QScrollBar;
class QSlider;
class QToolButton;

namespace quillet::ui {

class DocumentWindow;

// The level graph: frequency across, dB up, one line per channel.
class FrequencyGraph : public QWidget {
  Q_OBJECT
 public:
  explicit FrequencyGraph(QWidget* parent = nullptr);
  void SetData(const effects::FrequencyData* levels) { data_ = levels, update(); }
  // Visible share of each axis: the zoom level (0..2) and the scroll bar's value.
  void SetView(int hLevel, int hScroll, int vLevel, int vScroll);
  bool grid = true;
  // "%d Hz, %d dB" at a point of the widget; empty outside the plot.
  QString TextAt(QPoint p) const;
  QRect Plot() const;

 signals:
  void hovered(const QString& text);

 protected:
  void paintEvent(QPaintEvent*) override;
  void mouseMoveEvent(QMouseEvent* e) override;

 private:
  double HzAt(int x) const;
  double DbAt(int y) const;
  const effects::FrequencyData* data_ = nullptr;
  double hzFrom_ = 0, hzSpan_ = 1;  // shares of the frequency range
  double dbFrom_ = 0, dbSpan_ = 1;  // shares of the level range, from the top
};

class LFrequencyWindow : public QWidget {
  Q_OBJECT
 public:
  LFrequencyWindow(settings::Settings& settings, QWidget* parent = nullptr);
  void SetData(effects::FrequencyData levels, const QString& where);
  const effects::FrequencyData& data() const { return data_; }
  bool autoUpdate() const;
  FrequencyGraph* graph() const { return graph_; }
  QToolButton* button(int i) const { return buttons_[i]; }  // V in, V out, H in, H out, default
  QScrollBar* horizontal() const { return hScroll_; }
  QScrollBar* vertical() const { return vScroll_; }
  QLabel* hoverLabel() const { return hover_; }

 private:
  void Zoom(int& level, int delta);
  void ApplyView();
  settings::Settings& settings_;
  effects::FrequencyData data_;
  FrequencyGraph* graph_;
  QScrollBar* hScroll_;
  QScrollBar* vScroll_;
  QToolButton* buttons_[5] = {};
  QLabel* hover_;
  QLabel* where_;
  QCheckBox* auto_;
  int hLevel_ = 0, vLevel_ = 0;
};

// The time-frequency picture with its axes and grid.
class TemporalPicture : public QWidget {
  Q_OBJECT
 public:
  explicit TemporalPicture(QWidget* parent = nullptr);
  void SetData(const effects::TemporalData* picture) { data_ = picture, Rebuild(); }
  effects::TemporalView view;
  bool grid = true;
  QRect Plot() const;
  // The status line for a point of the widget; empty outside the plot.
  QString TextAt(QPoint p) const;
  const QImage& image() const { return image_; }
  void Rebuild();

 signals:
  void hovered(const QString& text);

 protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;
  void mouseMoveEvent(QMouseEvent* e) override;

 private:
  const effects::TemporalData* data_ = nullptr;
  QImage image_;
};

class LTFFTWindow : public QWidget {
  Q_OBJECT
 public:
  LTFFTWindow(settings::Settings& settings, QWidget* parent = nullptr);
  ~LTFFTWindow() override;
  void SetData(effects::TemporalData picture, DocumentWindow* doc);
  const effects::TemporalData& data() const { return data_; }
  bool autoUpdate() const;
  TemporalPicture* picture() const { return picture_; }
  QLabel* status() const { return status_; }
  QSlider* brightness() const { return brightness_; }
  QScrollBar* vertical() const { return vScroll_; }
  // Reselect, zoom in, zoom out, grid, save picture.
  QToolButton* button(int i) const { return buttons_[i]; }
  // Writes the picture with its axes; false when it could not be written.
  bool SavePicture(const QString& file) const;
  void StoreSettings();

 protected:
  void closeEvent(QCloseEvent* e) override;

 private:
  void ApplyView();
  settings::Settings& settings_;
  effects::TemporalData data_;
  QPointer<DocumentWindow> doc_;
  TemporalPicture* picture_;
  QScrollBar* vScroll_;
  QSlider* brightness_;
  QLabel* status_;
  QToolButton* buttons_[5] = {};
  QCheckBox* auto_;
};

// Opens, recomputes and closes the two windows for the frame.
class AnalysisWindows : public QObject {
  Q_OBJECT
 public:
  AnalysisWindows(QMdiArea& mdi, settings::Settings& settings, platform::Prompter& prompter,
                  platform::ProgressWindowFactory& progress);
  ~AnalysisWindows() override;

  // The levels at w's cursor; open: create the window when absent (else only an open
  // one is updated). False when nothing was shown.
  bool ShowFrequency(DocumentWindow* w, bool open);
  // The picture of w's selection under the progress window; asks first for more than
  // 10 seconds unless quiet (then such a selection is skipped). Done, cancelled (the
  // window closes) or failed.
  platform::TaskResult ShowTemporal(DocumentWindow* w, bool quiet = false);
  // The cursor or selection of w changed: windows with auto update follow, shortly.
  void Follow(DocumentWindow* w);

  LFrequencyWindow* frequency() const;
  LTFFTWindow* temporal() const;

 private:
  QMdiSubWindow* Place(QWidget* content, const QString& title, QSize size);
  QMdiArea& mdi_;
  settings::Settings& settings_;
  platform::Prompter& prompter_;
  platform::ProgressWindowFactory& progress_;
  QPointer<QMdiSubWindow> frequency_, temporal_;
  QPointer<DocumentWindow> following_;
  QTimer followTimer_;
  bool computing_ = false;
};

}  // namespace quillet::ui
