#pragma once
// Reading a server's replies: lines of "ddd text", where a fourth character of "-"
// marks a line that more lines follow. Everything a server sends is outside data, so
// a reply is bounded in line length (the rest of a longer line is dropped), in line
// count and in bytes; a reply past those bounds is refused.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::send {

struct ReplyLimits {
  std::size_t lineChars = 258;  // characters kept of one line
  std::size_t lines = 100;
  std::size_t bytes = 64 * 1024;  // everything read for one reply, dropped tails included
};

struct Reply {
  int code = 0;  // of the last line; 0 when it does not start with three digits
  std::vector<std::string> lines;  // without their line ends
};

class ReplyReader {
 public:
  enum class State { NeedMore, Complete, TooLong };

  explicit ReplyReader(ReplyLimits limits = {}) : limits_(limits) {}

  // Takes bytes from the front of data until a reply is complete or data is used up;
  // what follows a complete reply stays in data. After Complete or TooLong the next
  // Feed starts a new reply.
  State Feed(std::string_view& data);
  // The reply Feed last completed.
  const Reply& reply() const { return done_; }

 private:
  void Restart();

  ReplyLimits limits_;
  Reply current_;
  Reply done_;
  std::string line_;
  std::size_t replyBytes_ = 0;
  bool restart_ = false;
};

// What an EHLO reply offers.
struct Capabilities {
  bool startTls = false;
  bool authListed = false;  // an AUTH line was there
  bool authLogin = false;
  bool authPlain = false;
};
Capabilities ParseCapabilities(const Reply& ehlo);

}  // namespace quillet::send
