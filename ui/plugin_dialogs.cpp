#include "ui/plugin_dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>

#include <cmath>

#include "effects/plugins/ladspa_host.h"
#include "effects/plugins/lv2_host.h"
#include "effects/plugins/plugin_commands.h"
#include "effects/plugins/plugin_filter.h"
#include "effects/plugins/speech.h"
#include "effects/plugins/vst_host.h"
#include "ui/field_rows.h"
#include "ui/qt_prompter.h"

namespace quillet::ui {
namespace {

using effects::plugins::ControlPort;
using effects::plugins::PluginInfo;

// A field per control port of the plug-in shown; rebuilt when another is chosen.
class PortFields {
 public:
  explicit PortFields(QFormLayout* form) : form_(form) {}

  void Show(const PluginInfo& info, const std::vector<float>& values) {
    while (form_->rowCount() > 0) form_->removeRow(0);
    widgets_.clear();
    ports_ = info.controls;
    for (std::size_t i = 0; i < ports_.size(); ++i) {
      QWidget* w = Make(ports_[i], i < values.size() ? values[i] : ports_[i].def);
      w->setObjectName(Q("port:" + ports_[i].symbol));
      form_->addRow(Q(ports_[i].name + ":"), w);
      widgets_.push_back(w);
    }
  }

  std::vector<float> Read() const {
    std::vector<float> values;
    for (std::size_t i = 0; i < widgets_.size(); ++i) {
      QWidget* w = widgets_[i];
      if (auto* list = qobject_cast<QComboBox*>(w)) values.push_back(list->currentData().toFloat());
      else if (auto* box = qobject_cast<QCheckBox*>(w)) values.push_back(box->isChecked() ? 1.0f : 0.0f);
      else if (auto* whole = qobject_cast<QSpinBox*>(w)) values.push_back(float(whole->value()));
      else values.push_back(float(static_cast<QDoubleSpinBox*>(w)->value()));
    }
    return values;
  }

 private:
  static QWidget* Make(const ControlPort& p, float v) {
    if (!p.choices.empty()) {
      auto* list = new QComboBox;
      int nearest = 0;
      for (std::size_t i = 0; i < p.choices.size(); ++i) {
        list->addItem(Q(p.choices[i].second), p.choices[i].first);
        if (std::fabs(p.choices[i].first - v) < std::fabs(p.choices[std::size_t(nearest)].first - v))
          nearest = int(i);
      }
      list->setCurrentIndex(nearest);
      return list;
    }
    if (p.toggled) {
      auto* box = new QCheckBox;
      box->setChecked(v > 0);
      return box;
    }
    if (p.integer) {
      auto* whole = new QSpinBox;
      whole->setRange(int(std::ceil(p.min)), int(std::floor(p.max)));
      whole->setValue(int(std::lround(v)));
      return whole;
    }
    auto* number = new QDoubleSpinBox;
    // Enough places for a 0..1 range to move in hundredths of its steps.
    number->setDecimals(p.max - p.min < 10 ? 4 : 2);
    number->setRange(p.min, p.max);
    number->setSingleStep((p.max - p.min) / 100);
    number->setValue(v);
    return number;
  }

  QFormLayout* form_;
  std::vector<ControlPort> ports_;
  std::vector<QWidget*> widgets_;
};

// Return in the folder field looks in the folder instead of pressing OK.
class FolderEdit final : public QLineEdit {
 public:
  using QLineEdit::QLineEdit;

 protected:
  void keyPressEvent(QKeyEvent* e) override {
    QLineEdit::keyPressEvent(e);
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) e->accept();
  }
};

// The command's text for info at values: LADSPA by label, or by number where two
// libraries share the label.
std::string SpecText(const std::vector<PluginInfo>& all, const PluginInfo& info, const std::vector<float>& values) {
  std::string text = effects::plugins::FormatPluginRequest(info, values);
  if (info.family != "ladspa") return text;
  int sharing = 0;
  for (const PluginInfo& p : all) sharing += p.family == "ladspa" && p.label == info.label;
  return sharing > 1 ? info.id + text.substr(info.label.size()) : text;
}

bool Names(const PluginInfo& p, const std::string& id) {
  return p.id == id || p.label == id || (p.family == "vst" && p.path.ends_with("/" + id));
}

bool AskChooser(DialogCall& call, bool vst) {
  if (!call.ctx) return AskParams(call);
  settings::Settings& settings = call.ctx->settings;
  const std::string title = std::string(call.values.table().title);
  CheckedDialog d(call.parent, Q(title));
  d.setObjectName("PluginDialog");
  QLineEdit* folder = nullptr;
  if (vst) {
    folder = new FolderEdit(Q(effects::plugins::VstFolder(settings)));
    folder->setObjectName("folder");
    folder->setPlaceholderText("/usr/lib/lxvst");
    auto* browse = new QPushButton("&Browse...");
    browse->setObjectName("browse");
    auto* row = new QWidget;
    auto* line = new QHBoxLayout(row);
    line->setContentsMargins(0, 0, 0, 0);
    line->addWidget(folder);
    line->addWidget(browse);
    d.AddRow("VST &folder:", row);
    QObject::connect(browse, &QPushButton::clicked, &d, [&d, folder] {
      const QString chosen = QFileDialog::getExistingDirectory(
          &d, "VST Folder", folder->text().isEmpty() ? QString("/usr/lib/lxvst") : folder->text());
      if (!chosen.isEmpty()) {
        folder->setText(chosen);
        emit folder->editingFinished();
      }
    });
  }
  auto* list = new QTreeWidget;
  list->setObjectName("plugins");
  list->setHeaderLabels({"Family", "Name", "Id"});
  list->setRootIsDecorated(false);
  list->setMinimumWidth(560);
  d.AddRow("&Plug-in:", list);
  auto* portBox = new QWidget;
  auto* form = new QFormLayout(portBox);
  form->setContentsMargins(0, 0, 0, 0);
  d.AddRow("", portBox);

  // A VST plug-in's own window, shown by the helper process over this dialog (X11 only).
  QPushButton* own = nullptr;
  QProcess* editor = nullptr;
  if (vst) {
    own = new QPushButton("Plug-in's Own &Window...");
    own->setObjectName("editor");
    own->setEnabled(false);
    d.AddRow("", own);
    editor = new QProcess(&d);
  }

  std::vector<PluginInfo> plugins;
  PortFields ports(form);
  int shown = -1;
  const auto choose = [&](int i) {
    shown = i;
    if (own)
      own->setEnabled(i >= 0 && plugins[std::size_t(i)].hasEditor && QGuiApplication::platformName() == "xcb");
    if (i < 0) return ports.Show({}, {});
    std::vector<float> values;
    std::string ignored;
    effects::plugins::ValuesFor(plugins[std::size_t(i)], {}, settings, values, &ignored);
    ports.Show(plugins[std::size_t(i)], values);
  };
  const auto fill = [&] {
    list->clear();
    plugins.clear();
    if (vst) {
      for (const std::string& path : effects::plugins::VstLibraries(folder->text().toStdString())) {
        PluginInfo info;
        std::string why;
        if (effects::plugins::LoadVstInfoHosted(path, info, &why)) plugins.push_back(std::move(info));
      }
    } else {
      plugins = effects::plugins::ScanLadspa(effects::plugins::LadspaFoldersFromEnvironment());
      for (PluginInfo& p : effects::plugins::ScanLv2()) plugins.push_back(std::move(p));
    }
    for (const PluginInfo& p : plugins)
      new QTreeWidgetItem(list, {Q(p.family == "vst" ? "VST" : p.family == "lv2" ? "LV2" : "LADSPA"), Q(p.name),
                                 Q(p.family == "ladspa" ? p.id + " " + p.label : p.id)});
    list->header()->resizeSections(QHeaderView::ResizeToContents);
    choose(-1);
  };
  QObject::connect(list, &QTreeWidget::currentItemChanged, &d,
                   [&](QTreeWidgetItem* item) { choose(item ? list->indexOfTopLevelItem(item) : -1); });
  if (folder) QObject::connect(folder, &QLineEdit::editingFinished, &d, fill);
  if (own) {
    QObject::connect(own, &QPushButton::clicked, &d, [&] {
      if (shown < 0) return;
      const std::vector<std::string> argv = effects::plugins::VstEditorCommand(
          plugins[std::size_t(shown)].path, static_cast<unsigned long>(d.winId()), ports.Read());
      QStringList args;
      for (std::size_t i = 1; i < argv.size(); ++i) args << Q(argv[i]);
      own->setEnabled(false);
      list->setEnabled(false);
      editor->start(Q(argv[0]), args);
    });
    QObject::connect(editor, &QProcess::finished, &d, [&] {
      std::vector<float> values;
      std::string why;
      if (effects::plugins::ReadVstEditorAnswer(editor->readAllStandardOutput().toStdString(), values, &why))
        ports.Show(plugins[std::size_t(shown)], values);
      else
        ShowMessageBox(&d, why, title, platform::MessageIcon::Warning, platform::MessageButtons::Ok);
      own->setEnabled(true);
      list->setEnabled(true);
    });
    QObject::connect(editor, &QProcess::errorOccurred, &d, [&](QProcess::ProcessError e) {
      if (e != QProcess::FailedToStart) return;
      ShowMessageBox(&d, "The plug-in host quillet-plugin-host is missing; reinstall Quillet.", title,
                     platform::MessageIcon::Warning, platform::MessageButtons::Ok);
      own->setEnabled(true);
      list->setEnabled(true);
    });
  }
  fill();
  // The plug-in of the last run is chosen again.
  effects::plugins::PluginRequest last;
  std::string ignored;
  if (effects::plugins::ParsePluginRequest(call.values.Text(0), last, &ignored))
    for (std::size_t i = 0; i < plugins.size(); ++i)
      if (Names(plugins[i], last.id)) {
        list->setCurrentItem(list->topLevelItem(int(i)));
        break;
      }
  d.Finish();
  d.SetValidator([&]() -> std::optional<CheckedDialog::Refusal> {
    if (shown < 0)
      return CheckedDialog::Refusal{plugins.empty() ? (vst ? "There are no VST plug-ins in the VST folder."
                                                           : "No LADSPA or LV2 effects are installed.")
                                                    : "Choose a plug-in from the list.",
                                    title};
    call.values.SetText(0, SpecText(plugins, plugins[std::size_t(shown)], ports.Read()));
    if (folder) settings.SetString("Settings", "VSTFolder", folder->text().toStdString());
    return std::nullopt;
  });
  const bool accepted = d.exec() == QDialog::Accepted;
  // A window still open goes with the dialog, without calling back into what is gone.
  if (editor) {
    editor->disconnect();
    delete editor;
  }
  return accepted;
}

}  // namespace

bool AskPluginEffect(DialogCall& call) { return AskChooser(call, false); }
bool AskVstPlugin(DialogCall& call) { return AskChooser(call, true); }

bool AskSpeech(DialogCall& call) {
  std::string why;
  const std::vector<effects::plugins::Voice> voices = effects::plugins::SpeechVoices(&why);
  if (voices.empty()) {
    ShowMessageBox(call.parent, why, "Quillet", platform::MessageIcon::Warning, platform::MessageButtons::Ok);
    return false;
  }
  const std::string title = std::string(call.values.table().title);
  CheckedDialog d(call.parent, Q(title));
  d.setObjectName("SpeechDialog");
  auto* voice = new QComboBox;
  voice->setObjectName("voice");
  for (const effects::plugins::Voice& v : voices) voice->addItem(Q(v.name + " (" + v.language + ")"));
  voice->setCurrentIndex(std::max(0, effects::plugins::FindVoice(voices, call.values.Text(0))));
  auto* text = new QLineEdit(Q(call.values.Text(1)));
  text->setObjectName("text");
  text->setMinimumWidth(400);
  d.AddRow("&Voice:", voice);
  d.AddRow("&Text to speak:", text);
  d.Finish();
  d.SetValidator([&]() -> std::optional<CheckedDialog::Refusal> {
    if (text->text().trimmed().isEmpty()) return CheckedDialog::Refusal{"Type the text to speak.", title};
    // Kept by language, which outlives the list's order; by number where two share it.
    const int i = voice->currentIndex();
    const std::string& language = voices[std::size_t(i)].language;
    call.values.SetText(0, effects::plugins::FindVoice(voices, language) == i ? language : std::to_string(i));
    call.values.SetText(1, text->text().toStdString());
    return std::nullopt;
  });
  return d.exec() == QDialog::Accepted;
}

}  // namespace quillet::ui
