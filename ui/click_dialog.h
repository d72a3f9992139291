#pragma once
// The Auto Click/Pop Restoration dialog: sensitivity on a trackbar, the longest click
// in microseconds, and a button back to the defaults.

#include "ui/dialogs.h"

namespace quillet::ui {

bool AskClickPop(DialogCall& call);

}  // namespace quillet::ui
