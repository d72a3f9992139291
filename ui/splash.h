#pragma once
// The start-up splash: the program's picture with its name and version, centred on the
// screen; it closes itself after a few seconds or at a click.

class QSplashScreen;

namespace quillet::ui {

inline constexpr int kSplashMs = 7000;

// Shown at once; deletes itself when closed.
QSplashScreen* ShowSplash();

}  // namespace quillet::ui
