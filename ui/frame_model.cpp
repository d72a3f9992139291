#include "ui/frame_model.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "platform/paths.h"

namespace quillet::ui {
namespace {

constexpr const char* kRecent = "Recent";

std::string PathKey(int n) { return "RecentFile " + std::to_string(n); }
std::string DateKey(int n) { return "RecentFileDate" + std::to_string(n); }

std::string Lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// A whole positive number, or 0.
int Number(const std::string& s) {
  int v = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  return ec == std::errc() && end == s.data() + s.size() && v > 0 ? v : 0;
}

}  // namespace

void RecentFiles::Add(const std::string& path, std::int64_t now) {
  if (path.empty()) return;
  int target = 0, firstEmpty = 0, oldest = 0;
  std::int64_t oldestDate = 0;
  for (int n = 1; n <= kRecentCount; ++n) {
    const std::string p = settings_.GetString(kRecent, PathKey(n), "");
    if (p == path) {
      target = n;
      break;
    }
    if (p.empty()) {
      if (!firstEmpty) firstEmpty = n;
      continue;
    }
    const std::int64_t d = std::stoll("0" + settings_.GetString(kRecent, DateKey(n), "0"));
    if (!oldest || d < oldestDate) oldest = n, oldestDate = d;
  }
  if (!target) target = firstEmpty ? firstEmpty : oldest;
  settings_.SetString(kRecent, PathKey(target), path);
  settings_.SetString(kRecent, DateKey(target), std::to_string(now));
}

std::vector<RecentEntry> RecentFiles::Entries() const {
  std::vector<RecentEntry> out;
  for (int n = 1; n <= kRecentCount; ++n) {
    RecentEntry e;
    e.number = n;
    e.path = settings_.GetString(kRecent, PathKey(n), "");
    if (e.path.empty()) continue;
    const std::string d = settings_.GetString(kRecent, DateKey(n), "");
    std::from_chars(d.data(), d.data() + d.size(), e.date);
    out.push_back(std::move(e));
  }
  std::stable_sort(out.begin(), out.end(),
                   [](const RecentEntry& a, const RecentEntry& b) { return a.date > b.date; });
  return out;
}

namespace {
// Whether other ends in the last `tail` characters of path, as whole names.
bool SameTail(const std::string& other, const std::string& path, std::size_t tail) {
  if (other.size() < tail || other.compare(other.size() - tail, tail, path, path.size() - tail, tail) != 0)
    return false;
  return other.size() == tail || other[other.size() - tail - 1] == '/';
}
}  // namespace

std::string RecentFiles::MenuText(int position, const std::string& path,
                                  const std::vector<std::string>& listed) {
  std::string shown = path;
  if (path.size() >= 25) {
    // Grow the tail a folder at a time while another entry ends the same way.
    std::size_t tail = platform::PathFileName(path).size();
    auto clash = [&] {
      return std::any_of(listed.begin(), listed.end(), [&](const std::string& other) {
        return other != path && SameTail(other, path, tail);
      });
    };
    while (tail < path.size() && clash()) {
      const std::size_t slash = tail + 2 <= path.size() ? path.rfind('/', path.size() - tail - 2) : std::string::npos;
      tail = slash == std::string::npos ? path.size() : path.size() - slash - 1;
    }
    shown = tail + 3 + 4 >= path.size() ? path : path.substr(0, 3) + ".../" + path.substr(path.size() - tail);
  }
  return "&" + std::to_string(position) + "." + shown;
}

EditorCommandLine ParseEditorCommandLine(const std::vector<std::string>& args) {
  EditorCommandLine out;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string a = Lower(args[i]);
    auto next = [&]() -> std::string { return i + 1 < args.size() ? args[++i] : std::string(); };
    if (a == "-block") continue;
    if (a == "-save") { out.steps.push_back({EditorArg::Save, {}}); continue; }
    if (a == "-saveas") { out.steps.push_back({EditorArg::SaveAs, next()}); continue; }
    if (a == "-close") { out.steps.push_back({EditorArg::Close, {}}); continue; }
    if (a == "-exit") {
      out.steps.push_back({EditorArg::Exit, {}});
      break;
    }
    if (a == "-minimize") { out.steps.push_back({EditorArg::Minimize, {}}); continue; }
    if (a == "-maximize") { out.steps.push_back({EditorArg::Maximize, {}}); continue; }
    if (a == "-restore") { out.steps.push_back({EditorArg::Restore, {}}); continue; }
    if (a == "-window") {
      EditorArg w{EditorArg::Window, {}};
      if (i + 1 < args.size() && Number(args[i + 1])) w.width = Number(args[++i]);
      if (w.width && i + 1 < args.size() && Number(args[i + 1])) w.height = Number(args[++i]);
      out.steps.push_back(w);
      out.handled = true;
      continue;
    }
    if (a == "-batch") {
      // Every file after it joins the list: a desktop launcher passes them all at once.
      do out.steps.push_back({EditorArg::Batch, next()});
      while (i + 1 < args.size());
      out.handled = true;
      break;
    }
    if (a == "-install") {
      out.steps.push_back({EditorArg::Install, {}});
      break;
    }
    if (a == "-runedit") {
      out.handled = true;
      continue;
    }
    const std::string ext = Lower(std::string(platform::PathExtension(args[i])));
    if (ext.empty()) continue;
    out.steps.push_back({ext == ".qlp" ? EditorArg::OpenProject : EditorArg::OpenFile, args[i]});
    out.handled = true;
  }
  return out;
}

bool WantsSplash(const EditorCommandLine& cl) {
  return std::none_of(cl.steps.begin(), cl.steps.end(), [](const EditorArg& s) {
    return s.kind == EditorArg::OpenFile || s.kind == EditorArg::OpenProject ||
           s.kind == EditorArg::Window || s.kind == EditorArg::RunEdit ||
           s.kind == EditorArg::Install;
  });
}

}  // namespace quillet::ui
