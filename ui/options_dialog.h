#pragma once
// The Options sheet ("General", "Audio Processing", "Keys") and the hot-key editor's
// "Press Key" and "Select Keys/Macros" dialogs. The sheet edits copies; the frame
// writes them when it is accepted.

#include <QDialog>

#include <cstdint>
#include <string>
#include <vector>

#include "core/command_table.h"
#include "core/options.h"
#include "platform/hot_keys.h"
#include "platform/sound_device.h"
#include "settings/settings.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTreeWidget;

namespace quillet::ui {

// Takes the first key pressed with its modifiers; modifiers alone are ignored and Esc
// cancels.
class PressKeyDialog : public QDialog {
  Q_OBJECT
 public:
  explicit PressKeyDialog(QWidget* parent);
  std::uint32_t keyCode() const { return keyCode_; }

 protected:
  void keyPressEvent(QKeyEvent* e) override;
  bool event(QEvent* e) override;

 private:
  std::uint32_t keyCode_ = 0;
};

// One hot key: its key ("Change") and its ordered macro ("Add", "Remove").
class KeyMacroDialog : public QDialog {
  Q_OBJECT
 public:
  KeyMacroDialog(QWidget* parent, const core::CommandRegistry& commands, platform::HotKey key);
  const platform::HotKey& key() const { return key_; }

 private:
  void Refill();
  const core::CommandRegistry& commands_;
  platform::HotKey key_;
  QLabel* keyName_;
  QListWidget* macro_;
  QComboBox* choices_;
  QPushButton* remove_;
};

struct OptionsInput {
  core::OptionValues values;
  std::vector<platform::SoundDeviceName> devices;  // the output devices there are
  std::string currentDevice;  // the device the stored choice names now
  std::vector<bool> associated;      // per platform::kAssociationExtensions
  std::vector<platform::HotKey> keys;
};

class OptionsSheet : public QDialog {
  Q_OBJECT
 public:
  OptionsSheet(QWidget* parent, settings::Settings& settings,
               const core::CommandRegistry& commands, const OptionsInput& input);
  // After acceptance: the values as edited.
  core::OptionValues values() const;
  std::vector<bool> associated() const;
  const std::vector<platform::HotKey>& keys() const { return keys_; }
  bool recentDeleted() const { return recentDeleted_; }

 public slots:
  void accept() override;

 private:
  QWidget* GeneralPage(const OptionsInput& in);
  QWidget* AudioPage(const OptionsInput& in);
  QWidget* KeysPage();
  void RefillKeys();
  void UpdateKeyButtons();
  void EditKey(int row);

  settings::Settings& settings_;
  const core::CommandRegistry& commands_;
  core::OptionValues start_;
  std::string startDevice_;
  std::vector<platform::HotKey> keys_;
  bool recentDeleted_ = false;
  QRadioButton* prompt_;
  QListWidget* types_;
  QCheckBox* contextMenu_;
  QCheckBox* arrange_;
  QComboBox* device_;
  QSpinBox* threshold_;
  QRadioButton* defaultFolder_;
  QRadioButton* ownFolder_;
  QLineEdit* folder_;
  QPushButton* browse_;
  QCheckBox* playOpen_;
  QCheckBox* playEdit_;
  QCheckBox* playBookmark_;
  QCheckBox* playRegion_;
  QCheckBox* reduceVol_;
  QTreeWidget* keyList_;
  QPushButton* changeKey_;
  QPushButton* removeKey_;
};

}  // namespace quillet::ui
