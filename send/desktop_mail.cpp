#include "send/desktop_mail.h"

#include <cctype>
#include <chrono>
#include <thread>

#include "platform/process.h"
#include "send/mime.h"

namespace quillet::send {
namespace {

using platform::Outcome;

constexpr std::string_view kMissing =
    "No desktop email program was found: xdg-email is missing. Install the xdg-utils package "
    "and set up your email program, or choose SMTP in the Email Settings.";

std::filesystem::path Program(const DesktopMailOptions& o) {
  return o.searchPath.empty() ? platform::FindProgram(o.program)
                              : platform::FindProgram(o.program, o.searchPath);
}

// Addresses go into a mailto: link, where "?", "&" and the like would add fields
// (an attachment among them); a leading "-" would be read as an option.
bool SafeAddress(std::string_view a) {
  if (a.empty() || a.front() == '-') return false;
  for (unsigned char c : a)
    if (!(std::isalnum(c) || c >= 0x80 || c == '.' || c == '-' || c == '_' || c == '+' ||
          c == '@' || c == '\''))
      return false;
  return true;
}

}  // namespace

bool DesktopMailAvailable(const DesktopMailOptions& options) { return !Program(options).empty(); }

Outcome SendThroughDesktop(const std::string& recipients, const std::string& subject,
                           const std::vector<std::filesystem::path>& files,
                           const DesktopMailOptions& o, SendProgress& progress) {
  progress.SetText(0, "Sending Email");
  progress.SetProgress(0);
  const std::vector<std::string> to = SplitRecipients(recipients);
  if (to.empty()) return Outcome::Failed("Please enter the email address of the recipient.");
  for (const std::string& a : to)
    if (!SafeAddress(a))
      return Outcome::Failed("The email address \"" + a +
                             "\" cannot be handed to the desktop's email program.");
  const std::filesystem::path program = Program(o);
  if (program.empty()) return Outcome::Failed(std::string(kMissing));

  for (std::size_t i = 0; i < to.size(); ++i) {
    progress.SetText(1, to[i]);
    platform::ProcessOptions p;
    p.argv = {program.string()};
    if (!subject.empty()) p.argv.insert(p.argv.end(), {"--subject", subject});
    for (const auto& f : files) p.argv.insert(p.argv.end(), {"--attach", f.string()});
    p.argv.push_back(to[i]);
    platform::ChildProcess child;
    if (!child.Start(p)) return Outcome::Failed(std::string(kMissing));
    // Some mail programs keep xdg-email waiting while their composer is open: past the
    // wait the mail is theirs, and the composer must not be stopped with the call.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(o.handOffMs);
    while (!child.Poll() && std::chrono::steady_clock::now() < deadline) {
      if (progress.Cancelled()) return Outcome::Cancelled();  // stops the call's group
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (child.running()) {
      child.Detach();
    } else if (!child.exitStatus().success()) {
      return Outcome::Failed("The mail to \"" + to[i] +
                             "\" could not be handed to the desktop's email program (xdg-email "
                             "ended with code " + std::to_string(child.exitStatus().code) + ").");
    }
    progress.SetProgress(double(i + 1) / double(to.size()));
  }
  return Outcome::Done();
}

}  // namespace quillet::send
