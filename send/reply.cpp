#include "send/reply.h"

#include <cctype>

namespace quillet::send {
namespace {

int CodeOf(std::string_view line) {
  if (line.size() < 3) return 0;
  int code = 0;
  for (std::size_t i = 0; i < 3; ++i) {
    if (line[i] < '0' || line[i] > '9') return 0;
    code = code * 10 + (line[i] - '0');
  }
  return code;
}

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

void ReplyReader::Restart() {
  current_ = {};
  line_.clear();
  replyBytes_ = 0;
  restart_ = false;
}

ReplyReader::State ReplyReader::Feed(std::string_view& data) {
  if (restart_) Restart();
  while (!data.empty()) {
    const std::size_t lf = data.find('\n');
    const std::size_t take = lf == std::string_view::npos ? data.size() : lf + 1;
    replyBytes_ += take;
    if (replyBytes_ > limits_.bytes) {
      data.remove_prefix(take);
      restart_ = true;
      return State::TooLong;
    }
    std::string_view piece = data.substr(0, lf == std::string_view::npos ? take : lf);
    data.remove_prefix(take);
    if (line_.size() < limits_.lineChars)
      line_.append(piece.substr(0, limits_.lineChars - line_.size()));
    if (lf == std::string_view::npos) return State::NeedMore;

    if (!line_.empty() && line_.back() == '\r') line_.pop_back();
    const bool more = line_.size() >= 4 && line_[3] == '-';
    current_.lines.push_back(std::move(line_));
    line_.clear();
    if (!more) {
      current_.code = CodeOf(current_.lines.back());
      done_ = std::move(current_);
      restart_ = true;
      return State::Complete;
    }
    if (current_.lines.size() >= limits_.lines) {
      restart_ = true;
      return State::TooLong;
    }
  }
  return State::NeedMore;
}

Capabilities ParseCapabilities(const Reply& ehlo) {
  Capabilities caps;
  // The first line greets; each later one names an extension.
  for (std::size_t i = 1; i < ehlo.lines.size(); ++i) {
    const std::string_view line = ehlo.lines[i];
    if (line.size() < 4) continue;
    const std::string text = Upper(line.substr(4));
    if (text == "STARTTLS") caps.startTls = true;
    if (text.rfind("AUTH", 0) != 0 || text.size() < 5 || (text[4] != ' ' && text[4] != '='))
      continue;
    caps.authListed = true;
    std::size_t pos = 5;
    while (pos < text.size()) {
      std::size_t end = text.find(' ', pos);
      if (end == std::string::npos) end = text.size();
      const std::string_view mech = std::string_view(text).substr(pos, end - pos);
      if (mech == "LOGIN") caps.authLogin = true;
      if (mech == "PLAIN") caps.authPlain = true;
      pos = end + 1;
    }
  }
  return caps;
}

}  // namespace quillet::send
