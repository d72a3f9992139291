#include "ui/preview_button.h"

#include "ui/qt_prompter.h"

namespace quillet::ui {
namespace {

// How often a playing preview's end is looked for.
constexpr int kPollMs = 150;

}  // namespace

PreviewButton::PreviewButton(core::PlaybackControl* player, const core::WaveDocument& doc,
                             std::function<effects::PreviewBuild()> build, QWidget* parent)
    : QPushButton(parent), model_(player, doc), build_(std::move(build)) {
  setObjectName("preview");
  connect(this, &QPushButton::clicked, this, &PreviewButton::Pressed);
  poll_.setInterval(kPollMs);
  connect(&poll_, &QTimer::timeout, this, &PreviewButton::Refresh);
  Refresh();
}

void PreviewButton::Pressed() {
  Show(model_.Press(build_()));
  Refresh();
}

void PreviewButton::Edited() {
  if (!model_.playing()) return;
  Show(model_.Edited(build_()));
  Refresh();
}

void PreviewButton::Stop() {
  model_.Stop();
  Refresh();
}

void PreviewButton::Show(const effects::Status& s) {
  if (s.ok()) return;
  ShowMessageBox(this, s.message, s.caption, platform::MessageIcon::Information,
                 platform::MessageButtons::Ok);
}

void PreviewButton::Refresh() {
  const std::string_view caption = model_.caption();
  setText(QString::fromUtf8(caption.data(), qsizetype(caption.size())));
  setEnabled(model_.enabled());
  if (model_.playing()) poll_.start();
  else poll_.stop();
}

}  // namespace quillet::ui
