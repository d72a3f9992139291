#pragma once
// The "Edit Audio Tags" dialog over the tag editor's fields.

#include <QWidget>

#include "formats/tags.h"

namespace quillet::ui {

// Edits tags; OK stores every field into them. True when accepted.
bool AskEditTags(QWidget* parent, formats::LAudioTagList& tags);

}  // namespace quillet::ui
