#pragma once
// The frame's bookkeeping that needs no window: the recent-file list with its
// settings and menu texts, and the editor's command line.

#include <cstdint>
#include <string>
#include <vector>

#include "settings/settings.h"

namespace quillet::ui {

inline constexpr int kRecentCount = 11;

struct RecentEntry {
  int number = 0;       // 1..11, the settings' entry
  std::string path;
  std::int64_t date = 0;  // seconds since 1970
};

class RecentFiles {
 public:
  explicit RecentFiles(settings::Settings& s) : settings_(s) {}
  // A path already listed only gets the new date; otherwise it takes the first empty
  // entry, or the one with the oldest date.
  void Add(const std::string& path, std::int64_t now);
  // The non-empty entries, newest first.
  std::vector<RecentEntry> Entries() const;
  // "&%d.%s"; a path of 25 characters or more shows its first three and its file name,
  // with as many of its last folders as tell it apart from the other listed paths.
  static std::string MenuText(int position, const std::string& path,
                              const std::vector<std::string>& listed = {});

 private:
  settings::Settings& settings_;
};

// One step of the editor's command line.
struct EditorArg {
  enum Kind { OpenFile, OpenProject, Save, SaveAs, Close, Exit, Minimize, Maximize, Restore,
              Window, Batch, Install, RunEdit };
  Kind kind;
  std::string text;   // the file of OpenFile, OpenProject, SaveAs and Batch
  int width = 0, height = 0;  // Window; 0 when not given
};

struct EditorCommandLine {
  std::vector<EditorArg> steps;
  // Something marked the command line as handled (no splash then).
  bool handled = false;
};

// Left to right, without regard to case. Processing stops after "-exit" (nothing may
// act on a closed frame), after the files following "-batch" and at "-install";
// "-window" takes only numbers.
EditorCommandLine ParseEditorCommandLine(const std::vector<std::string>& args);
// The start-up splash shows unless a file, a window size or a run-edit step took the
// command line in hand.
bool WantsSplash(const EditorCommandLine& cl);

}  // namespace quillet::ui
