#include "send/mime.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "platform/paths.h"

namespace quillet::send {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::string_view kBoundaryStem = "gc0p4Jq0M2Yt08jU534c";
constexpr std::string_view kMailer = "X-Mailer: Quillet https://www.orvanta.com/quillet\r\n";

bool IsTrimmed(char c) { return static_cast<unsigned char>(c) <= ' ' || c == '\x7f'; }

// A quoted-string of a header parameter: backslash and quote escaped.
std::string Quoted(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + '"';
}

bool IsAscii(std::string_view text) {
  for (unsigned char c : text)
    if (c >= 0x80) return false;
  return true;
}

// RFC 2047 encoded words for header text that is not ASCII, each under the 75
// characters a word may have and never splitting a UTF-8 sequence.
std::string EncodedWords(std::string_view text) {
  if (IsAscii(text)) return std::string(text);
  std::string out;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = std::min(text.size(), at + 45);
    while (end < text.size() && end > at + 1 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
      --end;
    out += (out.empty() ? "" : "\r\n ") + std::string("=?UTF-8?B?") + Base64(text.substr(at, end - at)) + "?=";
    at = end;
  }
  return out;
}

}  // namespace

std::string PercentEncode(std::string_view text, bool keepSlash) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~' || (keepSlash && c == '/')) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string Base64(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                       static_cast<unsigned char>(bytes[i + 1]) << 8 |
                       static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  const std::size_t rest = bytes.size() - i;
  if (rest > 0) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (rest == 2) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string FormatMailDate(const std::tm& t, long eastOfUtcSeconds) {
  // The sign goes on the whole offset: -00:30 must not print as +0030.
  const char sign = eastOfUtcSeconds < 0 ? '-' : '+';
  const long minutes = std::labs(eastOfUtcSeconds) / 60;
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld",
                kDays[((t.tm_wday % 7) + 7) % 7], t.tm_mday, kMonths[((t.tm_mon % 12) + 12) % 12],
                t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec, sign, minutes / 60 % 100,
                minutes % 60);
  return text;
}

std::string CurrentMailDate() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  return FormatMailDate(local, local.tm_gmtoff);
}

std::string ChooseBoundary(std::string_view body) {
  // Past the 100 numbers the Part offers we keep counting: a body holding all of
  // them must still get a boundary of its own.
  for (unsigned n = 0;; ++n) {
    std::string b = std::string(kBoundaryStem) + std::to_string(n);
    if (body.find(b) == std::string_view::npos) return b;
  }
}

std::string_view AttachmentType(std::string_view fileName) {
  const std::string_view ext = platform::PathExtension(fileName);
  if (platform::SameExtension(ext, ".wav")) return "audio/wav";
  if (platform::SameExtension(ext, ".mp3")) return "audio/mpeg";
  return "application/octet-stream";
}

std::string StuffDots(std::string_view body) {
  std::string out;
  out.reserve(body.size() + body.size() / 32 + 2);
  bool lineStart = true;
  for (std::size_t i = 0; i < body.size(); ++i) {
    const char c = body[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < body.size() && body[i + 1] == '\n') ++i;
      out += "\r\n";
      lineStart = true;
      continue;
    }
    if (lineStart && c == '.') out += '.';
    out += c;
    lineStart = false;
  }
  return out;
}

std::vector<std::string> SplitRecipients(std::string_view text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    std::string_view part = text.substr(start, comma == std::string_view::npos ? text.npos
                                                                              : comma - start);
    while (!part.empty() && IsTrimmed(part.front())) part.remove_prefix(1);
    while (!part.empty() && IsTrimmed(part.back())) part.remove_suffix(1);
    if (!part.empty()) out.emplace_back(part);
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return out;
}

bool HasLineBreak(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

std::string MessageStart(const MailHead& head, std::string_view body, std::string_view boundary) {
  std::string to;
  for (const std::string& r : head.recipients) to += (to.empty() ? "" : ", ") + r;
  std::string out = "MIME-Version: 1.0\r\nFrom: " + head.sender + "\r\nTo: " + to +
                    "\r\nSubject: " + EncodedWords(head.subject) + "\r\nDate: " + head.date + "\r\n";
  out += kMailer;
  if (!boundary.empty()) {
    out += "Content-Type: multipart/mixed; boundary=";
    out += boundary;
    out += "\r\n\r\n--";
    out += boundary;
    out += "\r\n";
  }
  out += "Content-Type: text/plain\r\n\r\n";
  out += StuffDots(body);
  return out;
}

std::string AttachmentStart(std::string_view boundary, std::string_view fileName) {
  std::string out = "\r\n--" + std::string(boundary) + "\r\nContent-Type: ";
  out += AttachmentType(fileName);
  // A name beyond ASCII goes as encoded words and as an RFC 2231 value, which mail
  // programs read; plain ones keep the simple quoted form.
  const bool ascii = IsAscii(fileName);
  out += "; name=" + Quoted(ascii ? std::string(fileName) : EncodedWords(fileName)) +
         "\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename" +
         (ascii ? "=" + Quoted(fileName) : "*=UTF-8''" + PercentEncode(fileName)) + "\r\n\r\n";
  return out;
}

std::string MessageEnd(std::string_view boundary) {
  return "\r\n--" + std::string(boundary) + "--\r\n";
}

}  // namespace quillet::send
