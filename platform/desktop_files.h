#pragma once
// The program's place on the Linux desktop, per user: its desktop file (with the
// "Edit with Quillet" and "Batch Convert with Quillet" actions file managers offer),
// MIME types for the extensions the shared database does not know, and the default
// handler of each type through xdg-mime. Failures are ignored by the callers.

#include <array>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::platform {

inline constexpr std::string_view kDesktopFileName = "quillet.desktop";
inline constexpr std::string_view kFileTypeName = "Quillet File";

// The extensions the Options sheet offers, in its order.
inline constexpr std::array<std::string_view, 31> kAssociationExtensions = {
    ".wav", ".mp3", ".ogg", ".wma", ".aif", ".aiff", ".au",  ".ra",  ".ram", ".flac", ".aac",
    ".gsm", ".vox", ".raw", ".dss", ".dct", ".m4a", ".mp2", ".sri", ".mpga", ".msv", ".dvf",
    ".act", ".rcd", ".rec", ".shn", ".asf", ".cda", ".rm",  ".rmj", ".amr"};

// The MIME type an extension stands for: the shared database's, or one of ours
// ("audio/x-quillet-…") that InstallDesktopFiles declares. Empty for others.
std::string MimeTypeOfExtension(std::string_view ext);

struct DesktopPlaces {
  std::filesystem::path dataHome;    // $XDG_DATA_HOME or ~/.local/share
  std::filesystem::path configHome;  // $XDG_CONFIG_HOME or ~/.config
};
DesktopPlaces CurrentDesktopPlaces();

// The desktop file's text: `types` are the MIME types it claims; the actions only
// with contextActions.
std::string DesktopFileText(const std::filesystem::path& program, bool contextActions,
                            const std::vector<std::string>& types);
// The MIME package declaring our own types, each named kFileTypeName.
std::string MimePackageText();

// The desktop file that opens files of ext now (`xdg-mime query default`); empty
// when none does.
std::string DefaultHandler(std::string_view ext);
// Whether files of ext open with this program now.
bool OpensWithUs(std::string_view ext);

// What the Options sheet decided.
struct DesktopChoice {
  std::filesystem::path program;
  bool contextActions = true;
  std::vector<std::string> ours;     // extensions to open with this program
  std::vector<std::string> notOurs;  // extensions to stop opening with it
};
// Writes applications/quillet.desktop (claiming only the types of `ours`) and
// mime/packages/quillet.xml under dataHome, refreshes the caches, makes this program
// the default of those types (xdg-mime default) and drops it as the default of the
// others from the user's mimeapps.list. A type shared by a ticked and an unticked
// extension stays ours. False when one of our files could not be written.
bool ApplyDesktopChoice(const DesktopPlaces& places, const DesktopChoice& choice);

// The post-installation step ("-install"): our files and actions, and this program
// as the default of every offered type that no other program opens yet (or that
// already opens with it); another program's types are left to it.
DesktopChoice InstallChoice(const std::filesystem::path& program, bool contextActions);

// The HTML manual installed with the program (PREFIX/share/quillet/help/index.html
// beside PREFIX/bin; the build tree has the same layout); empty when missing.
std::filesystem::path ManualFile(const std::filesystem::path& programDir);

// mimeapps.list's text without this program as the default of `types`.
std::string RemoveDefaults(std::string_view mimeApps, const std::vector<std::string>& types);

}  // namespace quillet::platform
