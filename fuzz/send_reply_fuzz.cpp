// What a mail server sends is outside data: the reply reader must stay within its
// bounds however the bytes come and are cut, give the same replies whatever the cut,
// and the EHLO reading and the host text parser must take anything.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "send/reply.h"
#include "send/smtp_host.h"

using quillet::send::ReplyLimits;
using quillet::send::ReplyReader;

namespace {

// Codes and line counts of every reply in bytes, fed chunk bytes at a time; stops
// at the first refusal, as the sender does.
std::vector<std::size_t> Read(std::string_view bytes, std::size_t chunk, const ReplyLimits& limits) {
  ReplyReader reader(limits);
  std::vector<std::size_t> out;
  for (std::size_t at = 0; at < bytes.size(); at += chunk) {
    std::string_view piece = bytes.substr(at, chunk);
    while (!piece.empty()) {
      const auto state = reader.Feed(piece);
      if (state == ReplyReader::State::TooLong) {
        out.push_back(0);
        return out;
      }
      if (state != ReplyReader::State::Complete) continue;
      const auto& reply = reader.reply();
      if (reply.lines.empty() || reply.lines.size() > limits.lines) std::abort();
      for (const std::string& line : reply.lines)
        if (line.size() > limits.lineChars) std::abort();
      if (reply.code < 0 || reply.code > 999) std::abort();
      quillet::send::ParseCapabilities(reply);
      out.push_back(static_cast<std::size_t>(reply.code) * 1000 + reply.lines.size());
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::size_t chunk = data[0] % 17 + 1;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  const ReplyLimits small{16, 4, 512};
  if (Read(bytes, chunk, small) != Read(bytes, bytes.size() + 1, small)) std::abort();
  Read(bytes, chunk, ReplyLimits{});

  const auto host = quillet::send::ParseSmtpHost(bytes);
  if (host.port == 0) std::abort();
  quillet::send::FormatSmtpHost(host, true);
  return 0;
}
