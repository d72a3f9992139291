#include "cd/cddb.h"

#include <chrono>

namespace quillet::cd {
namespace {

using platform::TcpSocket;

int ReplyCode(std::string_view line) {
  if (line.size() < 3) return -1;
  int code = 0;
  for (int i = 0; i < 3; ++i) {
    if (line[i] < '0' || line[i] > '9') return -1;
    code = code * 10 + (line[i] - '0');
  }
  return code;
}

bool Is2xx(int code) { return code >= 200 && code <= 299; }

std::string FirstWord(std::string_view text) {
  const std::size_t end = text.find_first_of(" \t");
  return std::string(text.substr(0, end));
}

class Dialogue {
 public:
  Dialogue(const CddbHooks& hooks)
      : hooks_(hooks), deadline_(std::chrono::steady_clock::now() +
                                 std::chrono::milliseconds(kCddbTotalMs)) {}

  TcpSocket socket;

  // The next line within the step's and the whole lookup's time.
  TcpSocket::Status Line(std::string* line) {
    return socket.ReadLine(line, kMaxFieldBytes, StepMs(), hooks_.cancel);
  }
  TcpSocket::Status Send(const std::string& text) {
    return socket.Send(text, StepMs(), hooks_.cancel);
  }
  int StepMs() const {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline_ - std::chrono::steady_clock::now())
                          .count();
    return static_cast<int>(std::clamp<std::int64_t>(left, 0, kCddbStepMs));
  }

 private:
  const CddbHooks& hooks_;
  std::chrono::steady_clock::time_point deadline_;
};

CddbOutcome Fail(TcpSocket::Status s, std::string what) {
  if (s == TcpSocket::Status::Cancelled) return {CddbOutcome::Cancelled, {}};
  if (s == TcpSocket::Status::TimedOut) what += " (timed out)";
  if (s == TcpSocket::Status::Closed) what += " (the server closed the connection)";
  return {CddbOutcome::Failed, std::move(what)};
}

}  // namespace

platform::HostPort CddbServer(const settings::Settings& s) {
  const std::string text = s.GetString(kCdSection, kCddbServerKey, kDefaultCddbHost);
  if (auto hp = platform::ParseHostPort(text, kDefaultCddbPort)) return *hp;
  return {std::string(kDefaultCddbHost), kDefaultCddbPort};
}

std::string CategoryOfQueryReply(std::string_view line) {
  if (line.size() < 4) return {};
  return FirstWord(line.substr(4));
}

CddbOutcome CddbLookup(CdDisc& disc, const platform::HostPort& server, const CddbHooks& hooks) {
  Dialogue d(hooks);
  std::string message;
  TcpSocket::Status s = d.socket.Connect(server.host, server.port, d.StepMs(), hooks.cancel,
                                         &message);
  if (s != TcpSocket::Status::Ok) return Fail(s, message);
  if (hooks.connected) hooks.connected(server.host);

  std::string line;
  const auto expect2xx = [&](const char* step) -> std::optional<CddbOutcome> {
    s = d.Line(&line);
    if (s != TcpSocket::Status::Ok) return Fail(s, std::string("no reply to ") + step);
    if (!Is2xx(ReplyCode(line)))
      return CddbOutcome{CddbOutcome::Failed, std::string(step) + " refused: " + line};
    return std::nullopt;
  };
  if (auto f = expect2xx("the greeting")) return *f;
  if ((s = d.Send("cddb hello undef localhost Quillet 2.10\n")) != TcpSocket::Status::Ok)
    return Fail(s, "cannot send hello");
  if (auto f = expect2xx("hello")) return *f;

  std::vector<std::int64_t> starts;
  for (const CdTrack& t : disc.tracks) starts.push_back(t.start);
  const std::string id = DiscIdText(disc.discId);
  std::string query = "cddb query " + id + " " + std::to_string(disc.tracks.size()) + " ";
  for (std::int64_t start : starts) query += std::to_string(start + 150) + " ";
  query += std::to_string(DiscSeconds(starts, disc.leadOut)) + "\n";
  if ((s = d.Send(query)) != TcpSocket::Status::Ok) return Fail(s, "cannot send the query");
  if (auto f = expect2xx("the query")) return *f;
  if (line.size() < 4) return {CddbOutcome::Failed, "short query reply: " + line};

  const int code = ReplyCode(line);
  std::string category;
  if (code == 200) {
    category = CategoryOfQueryReply(line);
  } else if (code == 202) {
    return {CddbOutcome::NoMatch, {}};
  } else if (code == 210 || code == 211) {
    // A list of matches up to a "." line: the first is taken, the rest read to the end
    // so that the next reply is the one to the next command.
    bool ended = false;
    for (int n = 0; n < kMaxMatchLines; ++n) {
      if ((s = d.Line(&line)) != TcpSocket::Status::Ok) return Fail(s, "the match list ended early");
      if (line.starts_with(".")) {
        ended = true;
        break;
      }
      if (category.empty()) category = FirstWord(line);
    }
    if (!ended) return {CddbOutcome::Failed, "the match list is too long"};
  } else {
    return {CddbOutcome::NoMatch, {}};
  }
  if (category.empty()) return {CddbOutcome::Failed, "no category in the query reply"};

  if ((s = d.Send("cddb read " + category + " " + id + "\n")) != TcpSocket::Status::Ok)
    return Fail(s, "cannot send the read");
  if (auto f = expect2xx("the read")) return *f;

  CdDisc named = disc;
  named.category = category;
  CddbEntryReader reader(named);
  bool ended = false;
  for (int n = 0; n < kMaxEntryLines; ++n) {
    if ((s = d.Line(&line)) != TcpSocket::Status::Ok) return Fail(s, "the entry ended early");
    if (line.starts_with(".")) {
      ended = true;
      break;
    }
    reader.Apply(line);
  }
  if (!ended) return {CddbOutcome::Failed, "the entry is too long"};
  reader.Finish();
  d.Send("quit\n");
  d.socket.Close();
  disc = std::move(named);
  return {CddbOutcome::Found, {}};
}

}  // namespace quillet::cd
