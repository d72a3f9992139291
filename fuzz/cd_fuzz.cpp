// Readers of what drives, CDDB servers and disc images hand us: the TOC reply, CDDB
// entry lines and query replies, sense data, CUE sheets with their layout, and the
// simulated drive's faults file. The first byte picks the reader.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "cd/cddb.h"
#include "cd/disc.h"
#include "cd/mmc.h"
#include "platform/cue_sheet.h"
#include "platform/scsi.h"
#include "platform/sim_drive.h"

using namespace quillet;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t which = data[0] % 5;
  const std::uint8_t* body = data + 1;
  const std::size_t n = size - 1;
  const std::string_view text(reinterpret_cast<const char*>(body), n);
  switch (which) {
    case 0: {
      cd::Toc toc;
      if (cd::ParseToc(body, n, &toc).empty()) {
        cd::CdDisc disc = cd::DiscFromToc(toc);
        (void)cd::DiscIdText(disc.discId);
      }
      break;
    }
    case 1: {
      cd::Toc toc{{{1, true, 0}, {2, true, 1000}, {3, false, 2000}}, 3000};
      cd::CdDisc disc = cd::DiscFromToc(toc);
      cd::CddbEntryReader reader(disc);
      std::size_t at = 0;
      while (at <= text.size()) {
        const std::size_t nl = text.find('\n', at);
        const std::string_view line = text.substr(at, nl == std::string_view::npos ? nl : nl - at);
        reader.Apply(line.substr(0, cd::kMaxFieldBytes));
        (void)cd::CategoryOfQueryReply(line);
        if (nl == std::string_view::npos) break;
        at = nl + 1;
      }
      reader.Finish();
      break;
    }
    case 2: {
      (void)platform::ParseSense(body, n);
      (void)platform::SenseInformation(body, n);
      cd::DiscInfo info;
      cd::ParseDiscInfo(body, n, &info);
      cd::TrackInfo track;
      cd::ParseTrackInfo(body, n, &track);
      cd::WriteCapabilities caps;
      cd::ParseCapabilities(body, n, &caps);
      break;
    }
    case 3: {
      platform::CueSheet sheet;
      if (platform::ParseCueSheet(text, &sheet).empty()) {
        std::vector<std::uint64_t> sizes;
        for (std::size_t i = 0; i < sheet.files.size(); ++i)
          sizes.push_back((i * 7919 + n) * 2352 + (i % 3));
        platform::DiscLayout layout;
        (void)platform::BuildDiscLayout(sheet, sizes, &layout);
      }
      break;
    }
    default: {
      platform::SimFaults faults;
      (void)platform::ParseSimFaults(text, &faults);
      break;
    }
  }
  return 0;
}
