#pragma once
// What a reader noticed while parsing a file: corrections it made ("data : 1000
// (should be 400)") and why it refused the file. Kept per open, for tests, the fuzz
// target and diagnostics; never shown in place of the system's message.

#include <string>
#include <vector>

namespace quillet::formats {

class ParseLog {
 public:
  void Add(std::string line) { lines_.push_back(std::move(line)); }
  const std::vector<std::string>& lines() const { return lines_; }
  // True when some line records a correction of the file's own fields.
  bool HasCorrections() const;
  std::string Text() const;

 private:
  std::vector<std::string> lines_;
};

// What a source that opened wants its user told all the same: a part of the file it left
// out and why. quillet-cli info prints each line as "notice=".
class SourceNotices {
 public:
  const std::vector<std::string>& notices() const { return notices_; }

 protected:
  SourceNotices() = default;
  explicit SourceNotices(std::vector<std::string> notices) : notices_(std::move(notices)) {}
  ~SourceNotices() = default;
  std::vector<std::string> notices_;
};

}  // namespace quillet::formats
