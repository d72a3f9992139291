#pragma once
// The program's icon for its windows.

#include <QIcon>

namespace quillet::ui {

// The installed theme icon when there is one, else the icon drawn here.
QIcon ProgramIcon();

}  // namespace quillet::ui
