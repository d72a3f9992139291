// cd drives | toc DRIVE | lookup DRIVE | rip DRIVE OUTDIR | burn DRIVE FILE...: audio
// CDs from the command line, on the same drive layer, CDDB lookup, ripping and
// burning as the editor. DRIVE is a number of "cd drives", a device path or a
// simulated drive (sim:IMAGE.cue, sim-blank:OUT.cue, sim-blank-rw:OUT.cue).
#include <set>

#include "app/cli/cli.h"
#include "cd/burn.h"
#include "cd/cddb.h"
#include "cd/external_burn.h"
#include "cd/rip.h"
#include "formats/dispatch.h"
#include "formats/document_io.h"
#include "settings/settings.h"

namespace quillet::app {
namespace {

using platform::kTaskCancelled;
using platform::kTaskDone;
using platform::kTaskFailed;

constexpr const char* kUsage =
    "usage: quillet-cli cd drives\n"
    "       quillet-cli cd toc DRIVE\n"
    "       quillet-cli cd lookup DRIVE [--cddb HOST[:PORT]]\n"
    "       quillet-cli cd rip DRIVE OUTDIR [--tracks 1,3-5] [--format EXT] "
    "[--cddb HOST[:PORT] | --no-cddb]\n"
    "       quillet-cli cd burn DRIVE FILE... [--speed N] [--erase] [--simulate]\n";

platform::TaskResult Usage(CommandContext& c) {
  std::fputs(kUsage, c.err);
  return kTaskFailed;
}

std::string Duration(std::int64_t sectors) {
  const std::int64_t s = std::max<std::int64_t>(sectors, 0) / 75;
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(s / 60),
                static_cast<long long>(s % 60));
  return text;
}

std::optional<std::string> Drive(CommandContext& c, const std::string& arg) {
  const auto drives = cd::ListCdDrives(settings::Settings::Process());
  auto name = cd::ResolveDriveArgument(arg, drives);
  if (!name)
    std::fprintf(c.err, "quillet-cli: there is no CD drive %s (see \"quillet-cli cd drives\")\n",
                 arg.c_str());
  return name;
}

// "1,3-5" as track numbers; empty on a malformed list.
std::set<int> ParseTrackList(std::string_view text) {
  std::set<int> out;
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    const std::string_view part = text.substr(0, comma);
    text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
    const std::size_t dash = part.find('-');
    const auto num = [](std::string_view s) -> int {
      if (s.empty() || s.size() > 2) return -1;
      int n = 0;
      for (char ch : s) {
        if (ch < '0' || ch > '9') return -1;
        n = n * 10 + (ch - '0');
      }
      return n >= 1 && n <= 99 ? n : -1;
    };
    const int a = num(part.substr(0, dash));
    const int b = dash == std::string_view::npos ? a : num(part.substr(dash + 1));
    if (a < 0 || b < a) return {};
    for (int n = a; n <= b; ++n) out.insert(n);
  }
  return out;
}

// Loads the disc of drive (with a lookup on server unless lookup is off).
std::optional<cd::CdDisc> LoadDisc(CommandContext& c, const std::string& drive, bool lookup,
                                   const platform::HostPort& server) {
  cd::LoadDiscTask load(drive, lookup, server);
  load.Run(c.progress);
  if (load.result != kTaskDone) {
    if (!load.message().empty()) std::fprintf(c.err, "%s\n", load.message().c_str());
    return std::nullopt;
  }
  if (lookup && load.cddb().kind == cd::CddbOutcome::NoMatch)
    std::fputs("No CDDB match found\n", c.err);
  if (lookup && load.cddb().kind == cd::CddbOutcome::Failed)
    std::fprintf(c.err, "CDDB lookup failed: %s\n", load.cddb().message.c_str());
  return load.disc();
}

// --cddb HOST[:PORT] at args[i]; false with a message when malformed.
bool TakeServer(CommandContext& c, std::size_t& i, platform::HostPort& server) {
  std::optional<platform::HostPort> hp;
  if (i + 1 < c.args.size()) hp = platform::ParseHostPort(c.args[i + 1], cd::kDefaultCddbPort);
  if (!hp) {
    std::fputs("quillet-cli: --cddb needs HOST[:PORT]\n", c.err);
    return false;
  }
  server = *hp;
  ++i;
  return true;
}

platform::TaskResult Drives(CommandContext& c) {
  const auto drives = cd::ListCdDrives(settings::Settings::Process());
  for (std::size_t i = 0; i < drives.size(); ++i)
    std::fprintf(c.out, "%zu\t%s\t%s\n", i + 1, drives[i].name.c_str(), drives[i].label.c_str());
  if (drives.empty()) std::fputs("No CD-ROM drives have been detected.\n", c.err);
  return kTaskDone;
}

platform::TaskResult Toc(CommandContext& c) {
  if (c.args.size() != 2) return Usage(c);
  const auto drive = Drive(c, c.args[1]);
  if (!drive) return kTaskFailed;
  const auto disc = LoadDisc(c, *drive, false, {});
  if (!disc) return kTaskFailed;
  std::fprintf(c.out, "discid=%s\ntracks=%zu\n", cd::DiscIdText(disc->discId).c_str(),
               disc->tracks.size());
  for (const cd::CdTrack& t : disc->tracks)
    std::fprintf(c.out, "track=%d start=%lld length=%lld type=%s duration=%s\n", t.number,
                 static_cast<long long>(t.start), static_cast<long long>(t.end - t.start),
                 t.audio ? "audio" : "data", Duration(t.end - t.start).c_str());
  std::fprintf(c.out, "leadout=%lld\n", static_cast<long long>(disc->leadOut));
  return kTaskDone;
}

platform::TaskResult Lookup(CommandContext& c) {
  if (c.args.size() < 2) return Usage(c);
  platform::HostPort server = cd::CddbServer(settings::Settings::Process());
  for (std::size_t i = 2; i < c.args.size(); ++i) {
    if (c.args[i] != "--cddb") return Usage(c);
    if (!TakeServer(c, i, server)) return kTaskFailed;
  }
  const auto drive = Drive(c, c.args[1]);
  if (!drive) return kTaskFailed;
  cd::LoadDiscTask load(*drive, true, server);
  load.Run(c.progress);
  if (load.result != kTaskDone) {
    if (!load.message().empty()) std::fprintf(c.err, "%s\n", load.message().c_str());
    return load.result;
  }
  if (load.cddb().kind == cd::CddbOutcome::NoMatch) {
    std::fputs("No CDDB match found\n", c.err);
    return kTaskFailed;
  }
  if (load.cddb().kind != cd::CddbOutcome::Found) {
    std::fprintf(c.err, "CDDB lookup failed: %s\n", load.cddb().message.c_str());
    return kTaskFailed;
  }
  const cd::CdDisc& d = load.disc();
  std::fprintf(c.out, "discid=%s\ncategory=%s\ntitle=%s\nartist=%s\n",
               cd::DiscIdText(d.discId).c_str(), d.category.c_str(), d.title.c_str(),
               d.artist.c_str());
  if (d.year) std::fprintf(c.out, "year=%d\n", d.year);
  for (const cd::CdTrack& t : d.tracks) std::fprintf(c.out, "track%d=%s\n", t.number, t.title.c_str());
  return kTaskDone;
}

platform::TaskResult Rip(CommandContext& c) {
  if (c.args.size() < 3) return Usage(c);
  std::set<int> tracks;
  std::string ext = "wav";
  bool lookup = true;
  platform::HostPort server = cd::CddbServer(settings::Settings::Process());
  for (std::size_t i = 3; i < c.args.size(); ++i) {
    const std::string& a = c.args[i];
    if (a == "--tracks" && i + 1 < c.args.size()) {
      tracks = ParseTrackList(c.args[++i]);
      if (tracks.empty()) {
        std::fputs("quillet-cli: --tracks takes numbers and ranges, as 1,3-5\n", c.err);
        return kTaskFailed;
      }
    } else if (a == "--format" && i + 1 < c.args.size()) {
      ext = c.args[++i];
      if (ext.starts_with(".")) ext.erase(0, 1);
    } else if (a == "--cddb") {
      if (!TakeServer(c, i, server)) return kTaskFailed;
    } else if (a == "--no-cddb") {
      lookup = false;
    } else {
      return Usage(c);
    }
  }
  const auto drive = Drive(c, c.args[1]);
  if (!drive) return kTaskFailed;
  const std::filesystem::path outDir = c.args[2];
  std::error_code ec;
  if (!std::filesystem::is_directory(outDir, ec)) {
    std::fprintf(c.err, "quillet-cli: \"%s\" is not a folder\n", outDir.c_str());
    return kTaskFailed;
  }
  const auto disc = LoadDisc(c, *drive, lookup, server);
  if (!disc) return kTaskFailed;
  for (int n : tracks)
    if (n > static_cast<int>(disc->tracks.size())) {
      std::fprintf(c.err, "quillet-cli: the disc has no track %d\n", n);
      return kTaskFailed;
    }

  platform::TaskResult status = kTaskDone;
  std::set<std::string> used;
  for (const cd::CdTrack& t : disc->tracks) {
    if (!tracks.empty() && !tracks.count(t.number)) continue;
    if (!t.audio) {
      if (!tracks.empty()) std::fprintf(c.err, "Track %d is a data track, not audio.\n", t.number);
      continue;
    }
    std::string name = cd::FileNameSafe(t.title);
    char fallback[32];
    std::snprintf(fallback, sizeof fallback, "Track %02d", t.number);
    if (name.empty() || used.count(name)) name = fallback;
    used.insert(name);
    const std::filesystem::path file = outDir / (name + "." + ext);
    audio::SinkHandle sink = formats::MakeSaveSink(file, 44100, 2, settings::Settings::Process(), 16);
    if (!sink || sink->failed()) {
      std::fprintf(c.err, "%s: %s\n", file.c_str(),
                   sink ? sink->failureMessage().c_str() : "no writer for this extension");
      return kTaskFailed;
    }
    cd::RipTrackTask rip(*drive, t, *sink);
    rip.Run(c.progress);
    if (rip.result == kTaskCancelled) return kTaskCancelled;
    if (rip.result != kTaskDone) {
      std::fprintf(c.err, "%s\n", rip.message().c_str());
      status = kTaskFailed;  // the next track follows, as in the editor
      continue;
    }
    std::fprintf(c.out, "%s\n", file.c_str());
  }
  return status;
}

platform::TaskResult Burn(CommandContext& c) {
  if (c.args.size() < 3) return Usage(c);
  cd::BurnSettings s = cd::BurnSettings::Load(settings::Settings::Process());
  s.eraseCdrw = false;
  std::vector<std::string> files;
  for (std::size_t i = 2; i < c.args.size(); ++i) {
    const std::string& a = c.args[i];
    if (a == "--speed" && i + 1 < c.args.size()) {
      const auto n = ParseWholeNumber(c.args[++i]);
      if (!n || *n < 0 || *n > cd::kHighestSpeed) {
        std::fputs("quillet-cli: --speed is a multiple of 1x (177 kB/s), 0 for the highest\n",
                   c.err);
        return kTaskFailed;
      }
      s.speed = static_cast<int>(*n);
    } else if (a == "--erase") {
      s.eraseCdrw = true;
    } else if (a == "--simulate") {
      s.simulate = true;
    } else if (a.starts_with("--")) {
      return Usage(c);
    } else {
      files.push_back(a);
    }
  }
  if (files.empty()) return Usage(c);
  const auto drive = Drive(c, c.args[1]);
  if (!drive) return kTaskFailed;
  std::vector<audio::SourceHandle> tracks;
  for (const std::string& f : files) {
    audio::SourceHandle src = formats::OpenAudioFile(f, settings::Settings::Process());
    if (!src || !src->ready()) {
      std::fprintf(c.err, "%s: cannot be read as audio\n", f.c_str());
      return kTaskFailed;
    }
    tracks.push_back(std::move(src));
  }
  platform::TaskResult result;
  if (s.internal) {
    cd::BurnAudioTask burn(*drive, std::move(tracks), s);
    burn.Run(c.progress);
    result = burn.result;
  } else {
    cd::ExternalBurnTask burn(*drive, std::move(tracks), s);
    burn.Run(c.progress);
    result = burn.result;
  }
  if (result == kTaskFailed) std::fprintf(c.err, "%s\n", std::string(cd::kBurnFailedMessage).c_str());
  return result;
}

}  // namespace

platform::TaskResult RunCdCommand(CommandContext& c) {
  if (c.args.empty()) return Usage(c);
  const std::string& sub = c.args[0];
  if (sub == "drives") return c.args.size() == 1 ? Drives(c) : Usage(c);
  if (sub == "toc") return Toc(c);
  if (sub == "lookup") return Lookup(c);
  if (sub == "rip") return Rip(c);
  if (sub == "burn") return Burn(c);
  return Usage(c);
}

}  // namespace quillet::app
