#pragma once
// Sending a mail with attachments straight to an SMTP server: our own dialogue
// (EHLO, falling back to HELO; STARTTLS when the server offers it, TLS from the start
// on port 465; AUTH LOGIN, or AUTH PLAIN where LOGIN is not offered; MAIL, RCPT,
// DATA with a MIME message; QUIT). Every step has its fixed failure message; every
// send and every reply has a time-out; cancelling stops at the next wait step.

#include <filesystem>
#include <string>
#include <vector>

#include "platform/result.h"
#include "send/progress.h"
#include "send/reply.h"

namespace quillet::send {

// What the SMTP sender is handed.
struct MailJob {
  std::string recipients;  // comma-separated; blanks around each are dropped
  std::string sender;
  std::string subject;
  std::string body;
  std::vector<std::filesystem::path> attachments;
  std::string smtpHost;  // the host text (smtp_host.h)
};

struct SmtpOptions {
  int connectMs = 10000;  // the lookup and the connection
  int commandMs = 20000;  // sending one command
  int replyMs = 40000;    // reading one reply
  int bodyMs = 30000;     // sending each piece of the message
  int quitMs = 5000;      // the reply to QUIT; the mail has gone by then
  ReplyLimits limits;
  std::string caFile;     // an authority trusted besides the system's (tests)
  std::string localName;  // the name EHLO gives; empty: this computer's
  std::string date;       // the Date header; empty: now
};

struct SmtpResult {
  platform::Outcome outcome;
  bool encrypted = false;      // the message went over TLS
  bool authenticated = false;  // the server accepted our credentials
};

SmtpResult SendMail(const MailJob& job, const SmtpOptions& options, SendProgress& progress);

// The check every mail gets before anything is sent: recipients, sender, subject and
// attachment names; the refusal, or empty.
std::string CheckMailJob(const MailJob& job);

}  // namespace quillet::send
