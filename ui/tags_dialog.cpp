#include "ui/tags_dialog.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QVBoxLayout>

#include <functional>
#include <vector>

namespace quillet::ui {
namespace {

QString Q(std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }

}  // namespace

bool AskEditTags(QWidget* parent, formats::LAudioTagList& tags) {
  QDialog d(parent);
  d.setObjectName("LAudioTagDataEditor");
  d.setWindowTitle("Edit Audio Tags");
  auto* form = new QFormLayout;
  // Each field reads back as text, whatever its widget.
  std::vector<std::pair<std::string_view, std::function<QString()>>> fields;
  for (const formats::TagField& f : formats::TagEditorFields()) {
    const QString value = Q(tags.Get(f.key));
    if (f.key == formats::kTagGenre) {
      auto* genre = new QComboBox(&d);
      genre->setEditable(true);
      for (std::string_view name : formats::Id3Genres()) genre->addItem(Q(name));
      const auto index = formats::GenreIndex(value.toStdString());
      if (index) genre->setCurrentIndex(*index);
      else genre->setEditText(value);
      genre->setObjectName(Q(f.key));
      form->addRow(Q(f.label) + ":", genre);
      fields.emplace_back(f.key, [genre] { return genre->currentText(); });
    } else {
      auto* edit = new QLineEdit(value, &d);
      edit->setObjectName(Q(f.key));
      form->addRow(Q(f.label) + ":", edit);
      fields.emplace_back(f.key, [edit] { return edit->text(); });
    }
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &d);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &d, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &d, &QDialog::reject);
  auto* layout = new QVBoxLayout(&d);
  layout->addLayout(form);
  layout->addWidget(buttons);
  if (d.exec() != QDialog::Accepted) return false;
  for (const auto& [key, text] : fields) tags.Set(key, text().toStdString());
  return true;
}

}  // namespace quillet::ui
