#pragma once
// The text of a mail: base64 lines, the Date header, the MIME boundary, the headers
// and part headers, dot-stuffing, and the recipient list. Pure functions; the SMTP
// dialogue sends what they build.

#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::send {

// An attachment is read this many bytes at a time; each piece is one base64 line of
// 76 characters (the last may be shorter).
inline constexpr std::size_t kBase64LineBytes = 57;

// RFC 2045 base64 of bytes, "=" padding, no line breaks.
std::string Base64(std::string_view bytes);

// text with every byte but letters, digits and "-._~" (and "/" when keepSlash) as
// %XX: RFC 3986 URL paths and RFC 2231 parameter values.
std::string PercentEncode(std::string_view text, bool keepSlash = false);

// "Tue, 04 Mar 2025 09:05:07 +0100" for a local time and its distance east of UTC in
// seconds (negative west of it; half and quarter hours kept).
std::string FormatMailDate(const std::tm& local, long eastOfUtcSeconds);
// The Date header's text for now, in this computer's zone.
std::string CurrentMailDate();

// "gc0p4Jq0M2Yt08jU534c<n>" with the lowest n whose boundary does not occur in body.
std::string ChooseBoundary(std::string_view body);

// "audio/wav" for ".wav", "audio/mpeg" for ".mp3", else "application/octet-stream".
std::string_view AttachmentType(std::string_view fileName);

// body with every line end made CRLF and a second dot before each line that starts
// with one (the first line included), ready to go between DATA and its end.
std::string StuffDots(std::string_view body);

// The parts of a comma-separated recipient text, blanks and control characters
// trimmed from both ends, empty parts left out.
std::vector<std::string> SplitRecipients(std::string_view text);

// True when text holds CR, LF or NUL: such text would end a header or a command early.
bool HasLineBreak(std::string_view text);

struct MailHead {
  std::string sender;
  std::vector<std::string> recipients;  // as SplitRecipients gives them
  std::string subject;
  std::string date;  // CurrentMailDate(), or fixed by a test
};

// The headers, the multipart opening when boundary is not empty, and the text part
// with the stuffed body: everything before the first attachment.
std::string MessageStart(const MailHead& head, std::string_view body, std::string_view boundary);
// The part header of one attachment; its content lines follow.
std::string AttachmentStart(std::string_view boundary, std::string_view fileName);
// The closing delimiter after the last attachment.
std::string MessageEnd(std::string_view boundary);

}  // namespace quillet::send
