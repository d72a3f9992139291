#include "platform/desktop_files.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>

#include "platform/process.h"
#include "platform/record_file.h"

namespace quillet::platform {
namespace fs = std::filesystem;
namespace {

// Extensions without a type in the shared MIME database get one of ours.
const std::map<std::string_view, std::string_view>& KnownTypes() {
  static const std::map<std::string_view, std::string_view> types = {
      {".wav", "audio/x-wav"},      {".mp3", "audio/mpeg"},
      {".mpga", "audio/mpeg"},      {".ogg", "audio/ogg"},
      {".wma", "audio/x-ms-wma"},   {".aif", "audio/x-aiff"},
      {".aiff", "audio/x-aiff"},    {".au", "audio/basic"},
      {".ra", "audio/vnd.rn-realaudio"}, {".ram", "application/ram"},
      {".flac", "audio/flac"},      {".aac", "audio/aac"},
      {".gsm", "audio/x-gsm"},      {".m4a", "audio/mp4"},
      {".mp2", "audio/mp2"},        {".asf", "application/vnd.ms-asf"},
      {".rm", "application/vnd.rn-realmedia"}, {".amr", "audio/AMR"},
  };
  return types;
}

fs::path HomeOr(const char* var, const char* fallback) {
  if (const char* v = std::getenv(var); v && *v == '/') return v;
  const char* home = std::getenv("HOME");
  return fs::path(home ? home : "/") / fallback;
}

std::string Quoted(const fs::path& program) {
  // Desktop Entry Exec quoting: double quotes around, \\ " ` $ escaped.
  std::string out = "\"";
  for (char c : program.string()) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

bool RunQuietly(std::vector<std::string> argv, std::string* output = nullptr) {
  RunRequest r;
  r.process.argv = std::move(argv);
  r.timeoutMs = 10000;
  const RunResult result = RunProcess(r);
  if (output) *output = result.output;
  return result.ok();
}

}  // namespace

std::string MimeTypeOfExtension(std::string_view ext) {
  if (std::find(kAssociationExtensions.begin(), kAssociationExtensions.end(), ext) ==
      kAssociationExtensions.end())
    return {};
  if (auto it = KnownTypes().find(ext); it != KnownTypes().end()) return std::string(it->second);
  return "audio/x-quillet-" + std::string(ext.substr(1));
}

DesktopPlaces CurrentDesktopPlaces() {
  return {HomeOr("XDG_DATA_HOME", ".local/share"), HomeOr("XDG_CONFIG_HOME", ".config")};
}

std::string DesktopFileText(const fs::path& program, bool contextActions,
                            const std::vector<std::string>& types) {
  std::ostringstream out;
  out << "[Desktop Entry]\nType=Application\nName=Quillet\nGenericName=Sound Editor\n"
         "Comment=Record, edit and convert sound files\n"
      << "Exec=" << Quoted(program) << " %F\nIcon=quillet\nTerminal=false\n"
      << "Categories=AudioVideo;Audio;AudioVideoEditing;\n";
  if (!types.empty()) {
    out << "MimeType=";
    for (const std::string& t : types) out << t << ';';
    out << '\n';
  }
  if (contextActions) {
    out << "Actions=edit;batch;\n\n[Desktop Action edit]\nName=Edit with Quillet\nExec="
        << Quoted(program) << " %F\n\n[Desktop Action batch]\nName=Batch Convert with Quillet\n"
        << "Exec=" << Quoted(program) << " -batch %F\n";
  }
  return out.str();
}

std::string MimePackageText() {
  std::ostringstream out;
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n";
  for (std::string_view ext : kAssociationExtensions) {
    if (KnownTypes().count(ext)) continue;
    out << "  <mime-type type=\"" << MimeTypeOfExtension(ext) << "\">\n    <comment>"
        << kFileTypeName << "</comment>\n    <glob pattern=\"*" << ext << "\"/>\n  </mime-type>\n";
  }
  out << "</mime-info>\n";
  return out.str();
}

fs::path ManualFile(const fs::path& programDir) {
  std::error_code ec;
  const fs::path manual = programDir.parent_path() / "share" / "quillet" / "help" / "index.html";
  return fs::is_regular_file(manual, ec) ? fs::weakly_canonical(manual, ec) : fs::path();
}

std::string DefaultHandler(std::string_view ext) {
  const std::string type = MimeTypeOfExtension(ext);
  std::string out;
  if (type.empty() || !RunQuietly({"xdg-mime", "query", "default", type}, &out)) return {};
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

bool OpensWithUs(std::string_view ext) { return DefaultHandler(ext) == kDesktopFileName; }

DesktopChoice InstallChoice(const fs::path& program, bool contextActions) {
  DesktopChoice choice{.program = program, .contextActions = contextActions};
  std::map<std::string, std::string> byType;  // one query per type
  for (std::string_view ext : kAssociationExtensions) {
    const std::string type = MimeTypeOfExtension(ext);
    auto it = byType.find(type);
    if (it == byType.end()) it = byType.emplace(type, DefaultHandler(ext)).first;
    if (it->second.empty() || it->second == kDesktopFileName) choice.ours.emplace_back(ext);
  }
  return choice;
}

std::string RemoveDefaults(std::string_view mimeApps, const std::vector<std::string>& types) {
  std::string out;
  bool inDefaults = false;
  std::size_t pos = 0;
  while (pos < mimeApps.size()) {
    std::size_t end = mimeApps.find('\n', pos);
    if (end == std::string_view::npos) end = mimeApps.size();
    std::string line(mimeApps.substr(pos, end - pos));
    pos = end + 1;
    if (!line.empty() && line.front() == '[') inDefaults = line.rfind("[Default Applications]", 0) == 0;
    const std::size_t eq = line.find('=');
    if (inDefaults && eq != std::string::npos &&
        std::find(types.begin(), types.end(), line.substr(0, eq)) != types.end()) {
      // Keep any other handlers listed after ours.
      std::string kept;
      bool ours = false;
      std::istringstream apps(line.substr(eq + 1));
      for (std::string app; std::getline(apps, app, ';');) {
        if (app == kDesktopFileName) ours = true;
        else if (!app.empty()) kept += app + ';';
      }
      if (ours && kept.empty()) continue;
      if (ours) line = line.substr(0, eq + 1) + kept;
    }
    out += line;
    out += '\n';
  }
  return out;
}

bool ApplyDesktopChoice(const DesktopPlaces& places, const DesktopChoice& choice) {
  std::set<std::string> wanted;
  for (const std::string& ext : choice.ours)
    if (std::string t = MimeTypeOfExtension(ext); !t.empty()) wanted.insert(t);
  std::vector<std::string> dropped;
  for (const std::string& ext : choice.notOurs) {
    std::string t = MimeTypeOfExtension(ext);
    if (!t.empty() && !wanted.count(t)) dropped.push_back(t);
  }

  std::error_code ec;
  const fs::path apps = places.dataHome / "applications";
  const fs::path mime = places.dataHome / "mime";
  fs::create_directories(apps, ec);
  fs::create_directories(mime / "packages", ec);
  const bool ok =
      WriteFileAtomically(apps / kDesktopFileName,
                          DesktopFileText(choice.program, choice.contextActions,
                                          {wanted.begin(), wanted.end()})) &&
      WriteFileAtomically(mime / "packages" / "quillet.xml", MimePackageText());
  // Without fresh caches the types still resolve on the next login; not an error.
  RunQuietly({"update-mime-database", mime.string()});
  RunQuietly({"update-desktop-database", apps.string()});

  for (const std::string& t : wanted)
    RunQuietly({"xdg-mime", "default", std::string(kDesktopFileName), t});
  if (!dropped.empty()) {
    const fs::path list = places.configHome / "mimeapps.list";
    std::string text;
    if (ReadFile(list, text)) WriteFileAtomically(list, RemoveDefaults(text, dropped));
  }
  return ok;
}

}  // namespace quillet::platform
