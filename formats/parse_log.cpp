#include "formats/parse_log.h"

namespace quillet::formats {

bool ParseLog::HasCorrections() const {
  for (const std::string& l : lines_)
    if (l.find("should be") != std::string::npos) return true;
  return false;
}

std::string ParseLog::Text() const {
  std::string out;
  for (const std::string& l : lines_) out += l + "\n";
  return out;
}

}  // namespace quillet::formats
