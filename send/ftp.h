#pragma once
// Uploading a file to an FTP server through libcurl: passive mode, binary, into a
// folder of the server, optionally with TLS on both connections (FTPS). Success means
// the server confirmed the whole file; a read error, a lost connection or a refusal
// fails, cancelling stops at the next wait step.

#include <filesystem>
#include <string>

#include "platform/result.h"
#include "send/progress.h"

namespace quillet::send {

struct FtpJob {
  std::string server;  // host, host:port or [v6]:port; a leading "ftp://" is allowed
  std::string user;
  std::string password;
  std::string folder;  // empty: the login folder; "/x" from the root, "x" below the login folder
  std::filesystem::path file;
  bool secure = false;  // FTPS (AUTH TLS); the server's certificate must be valid
};

struct FtpOptions {
  int connectMs = 10000;
  int responseMs = 40000;  // each reply of the server, the last one included
  int stallMs = 40000;     // no byte moving for this long ends the upload
  std::string caFile;      // an authority trusted besides the system's (tests)
};

platform::Outcome UploadFile(const FtpJob& job, const FtpOptions& options, SendProgress& progress);

}  // namespace quillet::send
