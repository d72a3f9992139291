#include "platform/sim_drive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/byte_source.h"
#include "platform/sg_drive.h"

namespace quillet::platform {
namespace {

constexpr std::uint8_t kOpTestUnitReady = 0x00;
constexpr std::uint8_t kOpRequestSense = 0x03;
constexpr std::uint8_t kOpInquiry = 0x12;
constexpr std::uint8_t kOpStartStop = 0x1B;
constexpr std::uint8_t kOpPreventAllow = 0x1E;
constexpr std::uint8_t kOpWrite10 = 0x2A;
constexpr std::uint8_t kOpSyncCache = 0x35;
constexpr std::uint8_t kOpReadToc = 0x43;
constexpr std::uint8_t kOpGetConfiguration = 0x46;
constexpr std::uint8_t kOpReadDiscInfo = 0x51;
constexpr std::uint8_t kOpReadTrackInfo = 0x52;
constexpr std::uint8_t kOpReserveTrack = 0x53;
constexpr std::uint8_t kOpModeSelect10 = 0x55;
constexpr std::uint8_t kOpModeSense10 = 0x5A;
constexpr std::uint8_t kOpCloseTrack = 0x5B;
constexpr std::uint8_t kOpBlank = 0xA1;
constexpr std::uint8_t kOpWrite12 = 0xAA;
constexpr std::uint8_t kOpSetCdSpeed = 0xBB;
constexpr std::uint8_t kOpReadCd = 0xBE;

constexpr std::int64_t kMinTrackSectors = 300;

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::uint32_t Be32(const std::uint8_t* p) { return LoadBE32(p); }

void PutMsf(std::uint8_t* p, std::int64_t msfSectors) {
  p[0] = 0;
  p[1] = static_cast<std::uint8_t>(msfSectors / (75 * 60));
  p[2] = static_cast<std::uint8_t>(msfSectors / 75 % 60);
  p[3] = static_cast<std::uint8_t>(msfSectors % 75);
}

bool ParseNumber(const std::string& word, std::int64_t max, std::int64_t* out) {
  if (word.empty() || word.size() > 12) return false;
  std::int64_t v = 0;
  for (char c : word) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v > max) return false;
  *out = v;
  return true;
}

std::string ReadWholeFile(const std::filesystem::path& file, std::size_t limit, bool* ok) {
  std::ifstream in(file, std::ios::binary);
  *ok = static_cast<bool>(in);
  if (!in) return {};
  std::string text;
  text.resize(limit + 1);
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  return text;
}

}  // namespace

struct SimulatedDrive::Reply {
  const ScsiCommand& cmd;
  bool descriptor;
  RawScsiReply raw;

  void Sense(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq,
             std::int64_t information = -1) {
    raw.status = kStatusCheckCondition;
    raw.driverStatus = kDriverSense;
    raw.sense.fill(0);
    if (descriptor) {
      raw.sense[0] = 0x72;
      raw.sense[1] = key;
      raw.sense[2] = asc;
      raw.sense[3] = ascq;
      raw.senseLength = 8;
    } else {
      raw.sense[0] = information >= 0 ? 0xF0 : 0x70;
      raw.sense[2] = key;
      if (information >= 0) StoreBE32(&raw.sense[3], static_cast<std::uint32_t>(information));
      raw.sense[7] = 10;
      raw.sense[12] = asc;
      raw.sense[13] = ascq;
      raw.senseLength = 18;
    }
    if (cmd.direction == ScsiDirection::In) raw.residual = cmd.length;
  }
  // Copies a reply into the caller's buffer, cut to its allocation.
  void DataIn(const std::uint8_t* bytes, std::size_t n) {
    const std::size_t take = std::min(n, cmd.length);
    if (take && cmd.data) std::memcpy(cmd.data, bytes, take);
    raw.residual = cmd.length - take;
  }
  void DataIn(const std::vector<std::uint8_t>& bytes) { DataIn(bytes.data(), bytes.size()); }
};

std::string ParseSimFaults(std::string_view text, SimFaults* f) {
  *f = {};
  std::istringstream in{std::string(text)};
  std::string line;
  int lineNo = 0;
  while (std::getline(in, line)) {
    ++lineNo;
    const std::size_t hash = line.find('#');
    if (hash != std::string::npos) line.resize(hash);
    std::istringstream words(line);
    std::string key, arg;
    words >> key;
    if (key.empty()) continue;
    words >> arg;
    std::int64_t n = 0;
    const auto bad = [&] {
      return "faults line " + std::to_string(lineNo) + ": \"" + key + "\" needs a valid value";
    };
    if (key == "unit-attention-after-load") {
      f->unitAttentionAfterLoad = true;
    } else if (key == "not-ready-after-load") {
      if (!ParseNumber(arg, 3600000, &n)) return bad();
      f->notReadyAfterLoadMs = n;
    } else if (key == "no-disc") {
      f->noDisc = true;
    } else if (key == "medium-error") {
      if (!ParseNumber(arg, 1 << 30, &n)) return bad();
      f->mediumErrors.push_back(n);
    } else if (key == "refuse-write12") {
      f->refuseWrite12 = true;
    } else if (key == "write-busy") {
      if (!ParseNumber(arg, 1 << 30, &n) || n < 1) return bad();
      f->writeBusy.push_back(static_cast<int>(n));
    } else if (key == "sync-busy") {
      if (!ParseNumber(arg, 1000000, &n)) return bad();
      f->syncBusy = static_cast<int>(n);
    } else if (key == "stop-answering-after") {
      if (!ParseNumber(arg, 1 << 30, &n)) return bad();
      f->stopAnsweringAfter = static_cast<int>(n);
    } else if (key == "capacity") {
      n = ParseCueTime(arg);
      if (n < 0) return bad();
      f->capacityMsf = n;
    } else if (key == "written") {
      f->written = true;
    } else if (key == "reader-only") {
      f->readerOnly = true;
    } else if (key == "max-write-speed") {
      if (!ParseNumber(arg, 65535, &n)) return bad();
      f->maxWriteSpeedKbps = static_cast<int>(n);
    } else if (key == "descriptor-sense") {
      f->descriptorSense = true;
    } else if (key == "busy-polls") {
      if (!ParseNumber(arg, 100000, &n)) return bad();
      f->busyPolls = static_cast<int>(n);
    } else if (key == "log") {
      if (arg.empty()) return bad();
      f->logFile = arg;
    } else {
      return "faults line " + std::to_string(lineNo) + ": unknown directive \"" + key + "\"";
    }
  }
  return {};
}

bool IsSimulatedDriveName(std::string_view name) {
  return name.starts_with("sim:") || name.starts_with("sim-blank:") ||
         name.starts_with("sim-blank-rw:");
}

std::unique_ptr<SimulatedDrive> SimulatedDrive::Open(std::string_view name, std::string* message) {
  std::unique_ptr<SimulatedDrive> d(new SimulatedDrive);
  d->name_ = std::string(name);
  std::string_view path;
  if (name.starts_with("sim:")) {
    d->kind_ = Kind::Image;
    path = name.substr(4);
  } else if (name.starts_with("sim-blank-rw:")) {
    d->kind_ = Kind::BlankRw;
    path = name.substr(13);
  } else if (name.starts_with("sim-blank:")) {
    d->kind_ = Kind::Blank;
    path = name.substr(10);
  } else {
    *message = "\"" + std::string(name) + "\" is not a simulated drive";
    return nullptr;
  }
  if (path.empty()) {
    *message = "the simulated drive \"" + std::string(name) + "\" names no CUE sheet";
    return nullptr;
  }
  d->sheetPath_ = std::filesystem::path(path);
  const std::filesystem::path folder = d->sheetPath_.parent_path();

  bool ok = false;
  std::filesystem::path faultsPath = d->sheetPath_;
  faultsPath.replace_extension(".faults");
  const std::string faultsText = ReadWholeFile(faultsPath, 64 * 1024, &ok);
  if (ok) {
    const std::string error = ParseSimFaults(faultsText, &d->faults_);
    if (!error.empty()) {
      *message = faultsPath.string() + ": " + error;
      return nullptr;
    }
  }
  if (!d->faults_.logFile.empty()) d->faults_.logFile = (folder / d->faults_.logFile).string();

  if (d->kind_ == Kind::Image) {
    const std::string text = ReadWholeFile(d->sheetPath_, 1 << 20, &ok);
    if (!ok) {
      *message = "cannot read the CUE sheet \"" + d->sheetPath_.string() + "\"";
      return nullptr;
    }
    CueSheet sheet;
    std::string error = ParseCueSheet(text, &sheet);
    if (error.empty()) {
      for (const std::string& f : sheet.files) {
        const std::filesystem::path p = folder / f;
        const int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat st {};
        if (fd < 0 || ::fstat(fd, &st) != 0) {
          if (fd >= 0) ::close(fd);
          error = "cannot open \"" + p.string() + "\": " + std::strerror(errno);
          break;
        }
        d->files_.emplace_back(fd);
        d->fileBytes_.push_back(static_cast<std::uint64_t>(st.st_size));
      }
    }
    if (error.empty()) error = BuildDiscLayout(sheet, d->fileBytes_, &d->layout_);
    if (!error.empty()) {
      *message = d->sheetPath_.string() + ": " + error;
      return nullptr;
    }
    d->discState_ = DiscState::Complete;
  } else {
    d->discState_ = d->faults_.written ? DiscState::Complete : DiscState::Blank;
  }
  // The drive's default write parameters: TAO audio with 2-second pauses.
  d->page5_[0] = 0x05;
  d->page5_[1] = 0x32;
  d->page5_[2] = 0x01;
  d->page5_[14] = 0x00;
  d->page5_[15] = 0x96;
  return d;
}

SimulatedDrive::~SimulatedDrive() = default;

std::vector<std::string> SimulatedDrive::log() const {
  std::lock_guard lock(mutex_);
  return log_;
}

RawScsiReply SimulatedDrive::Execute(const ScsiCommand& command) {
  std::lock_guard lock(mutex_);
  const std::string text = CdbText(command);
  log_.push_back(text);
  if (!faults_.logFile.empty()) {
    std::ofstream out(faults_.logFile, std::ios::app);
    out << text << '\n';
  }
  ++commands_;
  Reply r{command, faults_.descriptorSense, {}};
  if (faults_.stopAnsweringAfter >= 0 && commands_ > faults_.stopAnsweringAfter) {
    r.raw.hostStatus = kHostTimedOut;
    r.raw.residual = command.length;
    return r.raw;
  }
  if (command.cdbLength < 6 || command.cdbLength > 16 ||
      (command.direction != ScsiDirection::None && command.length && !command.data)) {
    r.raw.systemError = EINVAL;
    return r.raw;
  }
  Dispatch(command, r);
  return r.raw;
}

bool SimulatedDrive::DiscPresent(Reply& r) {
  if (!trayLoaded_) {
    r.Sense(2, 0x3A, 0x02);
    return false;
  }
  if (faults_.noDisc) {
    r.Sense(2, 0x3A, 0x00);
    return false;
  }
  if (NowMs() < notReadyUntilMs_) {
    r.Sense(2, 0x04, 0x01);
    return false;
  }
  return true;
}

void SimulatedDrive::Dispatch(const ScsiCommand& c, Reply& r) {
  const std::uint8_t op = c.opcode();
  if (op == kOpInquiry) {
    std::vector<std::uint8_t> d(36, 0);
    d[0] = 0x05;
    d[1] = 0x80;
    d[2] = 0x05;
    d[3] = 0x02;
    d[4] = 31;
    std::memcpy(&d[8], "QUILLET SIMULATED CD-RW 1.0 ", 28);
    r.DataIn(d);
    return;
  }
  if (op == kOpRequestSense) {
    r.DataIn(std::vector<std::uint8_t>{0x70, 0, 0, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    return;
  }
  if (unitAttention_) {
    unitAttention_ = false;
    r.Sense(6, 0x28, 0x00);
    return;
  }
  switch (op) {
    case kOpTestUnitReady: TestUnitReady(r); return;
    case kOpStartStop: {
      const std::uint8_t action = c.cdb[4] & 0x03;
      if (action == 0x03) {
        trayLoaded_ = true;
        if (faults_.unitAttentionAfterLoad) unitAttention_ = true;
        notReadyUntilMs_ = NowMs() + faults_.notReadyAfterLoadMs;
      } else if (action == 0x02) {
        trayLoaded_ = false;
      }
      return;
    }
    case kOpPreventAllow: return;
    case kOpReadToc: if (DiscPresent(r)) ReadToc(c, r); return;
    case kOpReadCd: if (DiscPresent(r)) ReadCd(c, r); return;
    case kOpModeSense10: ModeSense(c, r); return;
    case kOpModeSelect10: ModeSelect(c, r); return;
    case kOpGetConfiguration: GetConfiguration(c, r); return;
    case kOpSetCdSpeed: return;
    case kOpReadDiscInfo: if (DiscPresent(r)) ReadDiscInfo(c, r); return;
    case kOpReadTrackInfo: if (DiscPresent(r)) ReadTrackInfo(c, r); return;
    case kOpReserveTrack: if (DiscPresent(r)) ReserveTrack(c, r); return;
    case kOpWrite12:
      if (faults_.refuseWrite12 || faults_.readerOnly) {
        r.Sense(5, 0x20, 0x00);
        return;
      }
      if (DiscPresent(r)) Write(c, r, true);
      return;
    case kOpWrite10:
      if (faults_.readerOnly) {
        r.Sense(5, 0x20, 0x00);
        return;
      }
      if (DiscPresent(r)) Write(c, r, false);
      return;
    case kOpSyncCache:
      if (!DiscPresent(r)) return;
      if (syncs_++ < faults_.syncBusy) r.Sense(2, 0x04, 0x07);
      return;
    case kOpCloseTrack: if (DiscPresent(r)) CloseSession(c, r); return;
    case kOpBlank: if (DiscPresent(r)) Blank(c, r); return;
    default: r.Sense(5, 0x20, 0x00); return;
  }
}

void SimulatedDrive::TestUnitReady(Reply& r) {
  if (!DiscPresent(r)) return;
  if (busyPollsLeft_ > 0) {
    --busyPollsLeft_;
    r.Sense(2, 0x04, 0x07);
  }
}

void SimulatedDrive::ReadToc(const ScsiCommand& c, Reply& r) {
  const bool msf = (c.cdb[1] & 0x02) != 0;
  const int format = c.cdb[2] & 0x0F;
  const int from = c.cdb[6];
  if (format != 0 || layout_.tracks.empty()) {
    r.Sense(5, 0x24, 0x00);
    return;
  }
  std::vector<std::uint8_t> d(4, 0);
  auto add = [&](int number, bool audio, std::int64_t lba) {
    std::uint8_t e[8] = {0, static_cast<std::uint8_t>(audio ? 0x10 : 0x14),
                         static_cast<std::uint8_t>(number), 0, 0, 0, 0, 0};
    if (msf) {
      PutMsf(e + 4, lba + 150);
    } else {
      StoreBE32(e + 4, static_cast<std::uint32_t>(lba));
    }
    d.insert(d.end(), e, e + 8);
  };
  for (const DiscLayout::Track& t : layout_.tracks)
    if (t.number >= from) add(t.number, t.audio, t.start);
  if (from > layout_.tracks.back().number && from != 0xAA) {
    r.Sense(5, 0x24, 0x00);
    return;
  }
  add(0xAA, true, layout_.leadOut);
  StoreBE16(d.data(), static_cast<std::uint16_t>(d.size() - 2));
  d[2] = static_cast<std::uint8_t>(layout_.tracks.front().number);
  d[3] = static_cast<std::uint8_t>(layout_.tracks.back().number);
  r.DataIn(d);
}

void SimulatedDrive::ReadSectors(std::int64_t lba, std::int64_t count, std::uint8_t* out) {
  auto it = std::upper_bound(layout_.runs.begin(), layout_.runs.end(), lba,
                             [](std::int64_t v, const DiscRun& run) { return v < run.lba; });
  if (it != layout_.runs.begin()) --it;
  while (count > 0 && it != layout_.runs.end()) {
    const std::int64_t offset = lba - it->lba;
    const std::int64_t n = std::min(count, it->count - offset);
    const std::size_t bytes = static_cast<std::size_t>(n) * kRawSectorBytes;
    std::memset(out, 0, bytes);
    if (it->fileIndex >= 0) {
      const std::uint64_t pos =
          static_cast<std::uint64_t>(it->fileSector + offset) * kRawSectorBytes;
      const std::uint64_t size = fileBytes_[static_cast<std::size_t>(it->fileIndex)];
      if (pos < size) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(bytes, size - pos));
        std::size_t done = 0;
        while (done < want) {
          const ssize_t got = ::pread(files_[static_cast<std::size_t>(it->fileIndex)].get(),
                                      out + done, want - done, static_cast<off_t>(pos + done));
          if (got <= 0) break;
          done += static_cast<std::size_t>(got);
        }
      }
    }
    out += bytes;
    lba += n;
    count -= n;
    ++it;
  }
}

void SimulatedDrive::ReadCd(const ScsiCommand& c, Reply& r) {
  const int expected = (c.cdb[1] >> 2) & 0x07;
  const std::int64_t lba = static_cast<std::int32_t>(Be32(&c.cdb[2]));
  const std::int64_t count = c.cdb[6] << 16 | c.cdb[7] << 8 | c.cdb[8];
  if (c.cdb[9] != 0xF0 && c.cdb[9] != 0x10) {
    r.Sense(5, 0x24, 0x00);
    return;
  }
  if (layout_.tracks.empty() || lba < 0 || lba + count > layout_.leadOut) {
    r.Sense(5, 0x21, 0x00);
    return;
  }
  if (c.direction != ScsiDirection::In ||
      c.length < static_cast<std::size_t>(count) * kRawSectorBytes) {
    r.Sense(5, 0x24, 0x00);
    return;
  }
  if (expected == 1) {
    for (std::size_t i = 0; i < layout_.tracks.size(); ++i) {
      const std::int64_t start = layout_.tracks[i].start;
      const std::int64_t end =
          i + 1 < layout_.tracks.size() ? layout_.tracks[i + 1].start : layout_.leadOut;
      if (!layout_.tracks[i].audio && lba < end && lba + count > start) {
        r.Sense(5, 0x64, 0x00);
        return;
      }
    }
  }
  std::int64_t good = count;
  for (std::int64_t bad : faults_.mediumErrors)
    if (bad >= lba && bad < lba + count) good = std::min(good, bad - lba);
  ReadSectors(lba, good, c.data);
  r.raw.residual = c.length - static_cast<std::size_t>(good) * kRawSectorBytes;
  if (good < count) {
    const std::size_t residual = r.raw.residual;
    r.Sense(3, 0x11, 0x00, lba + good);
    r.raw.residual = residual;
  }
}

void SimulatedDrive::ModeSense(const ScsiCommand& c, Reply& r) {
  const int page = c.cdb[2] & 0x3F;
  std::vector<std::uint8_t> d(8, 0);
  if (page == 0x2A) {
    std::uint8_t p[30] = {};
    p[0] = 0x2A;
    p[1] = 28;
    p[2] = 0x03;  // reads CD-R and CD-RW
    p[3] = faults_.readerOnly ? 0x00 : 0x03;
    p[4] = 0x70;
    p[5] = 0x3F;  // reads CD-DA accurately, among others
    p[6] = 0x29;  // tray, ejectable
    StoreBE16(&p[8], 7056);
    StoreBE16(&p[18], static_cast<std::uint16_t>(faults_.readerOnly ? 0 : faults_.maxWriteSpeedKbps));
    d.insert(d.end(), p, p + sizeof p);
  } else if (page == 0x05) {
    d.insert(d.end(), page5_, page5_ + 52);
  } else {
    r.Sense(5, 0x24, 0x00);
    return;
  }
  StoreBE16(d.data(), static_cast<std::uint16_t>(d.size() - 2));
  d[2] = kind_ == Kind::BlankRw ? 0x03 : 0x02;  // medium type, copied back by MODE SELECT
  r.DataIn(d);
}

void SimulatedDrive::ModeSelect(const ScsiCommand& c, Reply& r) {
  const std::size_t length = LoadBE16(&c.cdb[7]);
  if (c.direction != ScsiDirection::Out || c.length < length || length < 8 + 52) {
    r.Sense(5, 0x1A, 0x00);  // parameter list length error
    return;
  }
  const std::uint8_t* data = c.data;
  const std::size_t blockDesc = LoadBE16(&data[6]);
  if (8 + blockDesc + 52 > length) {
    r.Sense(5, 0x1A, 0x00);
    return;
  }
  const std::uint8_t* page = data + 8 + blockDesc;
  if ((page[0] & 0x3F) != 0x05 || page[1] < 0x32) {
    r.Sense(5, 0x26, 0x00);  // invalid field in parameter list
    return;
  }
  const int writeType = page[2] & 0x0F;
  const int trackMode = page[3] & 0x0F;
  const int blockType = page[4] & 0x0F;
  if (writeType != 1 || (trackMode != 0 && trackMode != 2) || blockType != 0) {
    r.Sense(5, 0x26, 0x00);
    return;
  }
  std::memcpy(page5_, page, 52);
  testWrite_ = (page[2] & 0x10) != 0;
  pauseSectors_ = LoadBE16(&page[14]);
}

void SimulatedDrive::GetConfiguration(const ScsiCommand& c, Reply& r) {
  const int feature = LoadBE16(&c.cdb[2]);
  std::vector<std::uint8_t> d(8, 0);
  StoreBE16(&d[6], kind_ == Kind::BlankRw ? 0x000A : kind_ == Kind::Blank ? 0x0009 : 0x0008);
  if (feature == 0x2D && !faults_.readerOnly) {
    const std::uint8_t f[8] = {0x00, 0x2D, 0x0B, 0x04, 0x46, 0, 0, 0};
    d.insert(d.end(), f, f + 8);
  }
  StoreBE32(d.data(), static_cast<std::uint32_t>(d.size() - 4));
  r.DataIn(d);
}

std::int64_t SimulatedDrive::NextWritable() const {
  if (tracks_.empty()) return 0;
  const TrackWrite& t = tracks_.back();
  return t.start + t.reserved + pauseSectors_;
}

void SimulatedDrive::ReadDiscInfo(const ScsiCommand&, Reply& r) {
  std::vector<std::uint8_t> d(34, 0);
  StoreBE16(d.data(), 32);
  const int status = discState_ == DiscState::Blank ? 0 : discState_ == DiscState::Open ? 1 : 2;
  d[2] = static_cast<std::uint8_t>(status | (status == 2 ? 0x0C : 0) |
                                   (kind_ == Kind::BlankRw ? 0x10 : 0));
  d[3] = 1;
  d[4] = 1;
  d[5] = 1;
  d[6] = static_cast<std::uint8_t>(std::max<std::size_t>(1, tracks_.size()));
  if (discState_ == DiscState::Complete) {
    std::fill(d.begin() + 16, d.begin() + 24, 0xFF);
  } else {
    PutMsf(&d[16], 97 * 60 * 75 + 27 * 75);  // a typical lead-in start
    PutMsf(&d[20], faults_.capacityMsf);
  }
  r.DataIn(d);
}

void SimulatedDrive::ReadTrackInfo(const ScsiCommand& c, Reply& r) {
  if ((c.cdb[1] & 0x03) != 1 || Be32(&c.cdb[2]) != 0xFF || !WritableDisc() ||
      discState_ == DiscState::Complete) {
    r.Sense(5, 0x24, 0x00);
    return;
  }
  std::vector<std::uint8_t> d(36, 0);
  StoreBE16(d.data(), 34);
  d[2] = static_cast<std::uint8_t>(tracks_.size() + 1);
  d[3] = 1;
  d[6] = 0x40 | 0x0F;  // blank, data mode unknown
  d[7] = 0x01;         // the next writable address is valid
  const std::int64_t nwa = NextWritable();
  const std::int64_t capacity = faults_.capacityMsf - 150;
  StoreBE32(&d[8], static_cast<std::uint32_t>(nwa));
  StoreBE32(&d[12], static_cast<std::uint32_t>(nwa));
  StoreBE32(&d[16], static_cast<std::uint32_t>(std::max<std::int64_t>(0, capacity - nwa)));
  StoreBE32(&d[24], static_cast<std::uint32_t>(std::max<std::int64_t>(0, capacity - nwa)));
  r.DataIn(d);
}

void SimulatedDrive::ReserveTrack(const ScsiCommand& c, Reply& r) {
  if (!WritableDisc() || discState_ == DiscState::Complete || faults_.readerOnly) {
    r.Sense(5, 0x30, 0x05);  // cannot write medium
    return;
  }
  if (!tracks_.empty() && tracks_.back().written < tracks_.back().reserved) {
    r.Sense(5, 0x2C, 0x00);  // the open track must be filled first
    return;
  }
  const std::int64_t size = Be32(&c.cdb[5]);
  const std::int64_t start = NextWritable();
  if (size < kMinTrackSectors || tracks_.size() >= 99) {
    r.Sense(5, 0x24, 0x00);
    return;
  }
  if (start + size > faults_.capacityMsf - 150) {
    r.Sense(5, 0x21, 0x00);
    return;
  }
  if (!bin_) {
    std::filesystem::path binPath = sheetPath_;
    binPath.replace_extension(".bin");
    int err = 0;
    bin_ = SafeFileWriter::Create(binPath, &err);
    if (!bin_) {
      r.Sense(3, 0x0C, 0x00);
      return;
    }
  }
  TrackWrite t;
  t.start = start;
  t.reserved = size;
  t.pregap = tracks_.empty() ? 0 : pauseSectors_;
  t.binStart = tracks_.empty() ? 0 : tracks_.back().binStart + tracks_.back().reserved;
  tracks_.push_back(t);
  discState_ = DiscState::Open;
}

void SimulatedDrive::Write(const ScsiCommand& c, Reply& r, bool twelve) {
  const std::int64_t lba = static_cast<std::int32_t>(Be32(&c.cdb[2]));
  const std::int64_t count = twelve ? Be32(&c.cdb[6]) : LoadBE16(&c.cdb[7]);
  ++writes_;
  if (std::find(faults_.writeBusy.begin(), faults_.writeBusy.end(), writes_) !=
      faults_.writeBusy.end()) {
    r.Sense(2, 0x04, 0x08);
    return;
  }
  if (tracks_.empty() || discState_ != DiscState::Open) {
    r.Sense(5, 0x2C, 0x00);
    return;
  }
  TrackWrite& t = tracks_.back();
  if (lba != t.start + t.written) {
    r.Sense(5, 0x21, 0x02);  // invalid address for write
    return;
  }
  if (count < 0 || t.written + count > t.reserved || c.direction != ScsiDirection::Out ||
      c.length < static_cast<std::size_t>(count) * kRawSectorBytes) {
    r.Sense(5, 0x24, 0x00);
    return;
  }
  for (std::int64_t bad : faults_.mediumErrors)
    if (bad >= lba && bad < lba + count) {
      r.Sense(3, 0x0C, 0x00, bad);
      return;
    }
  if (!bin_->Write(c.data, static_cast<std::size_t>(count) * kRawSectorBytes)) {
    r.Sense(3, 0x0C, 0x00);
    return;
  }
  t.written += count;
}

void SimulatedDrive::CloseSession(const ScsiCommand& c, Reply& r) {
  const int function = c.cdb[2] & 0x07;
  if (function != 1 && function != 2) {
    r.Sense(5, 0x24, 0x00);
    return;
  }
  if (tracks_.empty() || discState_ != DiscState::Open ||
      tracks_.back().written < tracks_.back().reserved) {
    r.Sense(5, 0x2C, 0x00);
    return;
  }
  if (c.cdb[1] & 0x01) busyPollsLeft_ = faults_.busyPolls;
  if (function == 1) return;
  discState_ = DiscState::Complete;
  if (testWrite_) {
    bin_.reset();  // a test write leaves nothing behind
    return;
  }
  std::vector<std::int64_t> starts, pregaps;
  for (const TrackWrite& t : tracks_) {
    starts.push_back(t.binStart);
    pregaps.push_back(t.pregap);
  }
  const std::string sheet =
      WriteCueSheet(bin_->target().filename().string(), starts, pregaps);
  int err = 0;
  std::unique_ptr<SafeFileWriter> cue = SafeFileWriter::Create(sheetPath_, &err);
  if (!cue || !cue->Write(sheet.data(), sheet.size()) || !bin_->Commit() || !cue->Commit()) {
    r.Sense(3, 0x0C, 0x00);
  }
  bin_.reset();
}

void SimulatedDrive::Blank(const ScsiCommand& c, Reply& r) {
  if (kind_ != Kind::BlankRw) {
    r.Sense(5, 0x30, 0x05);
    return;
  }
  if ((c.cdb[1] & 0x07) > 1) {
    r.Sense(5, 0x24, 0x00);
    return;
  }
  tracks_.clear();
  bin_.reset();
  discState_ = DiscState::Blank;
  if (c.cdb[1] & 0x10) busyPollsLeft_ = faults_.busyPolls;
}

std::unique_ptr<ScsiTransport> OpenCdTransport(const std::string& name, std::string* message) {
  if (IsSimulatedDriveName(name)) return SimulatedDrive::Open(name, message);
  int err = 0;
  std::unique_ptr<ScsiTransport> t = SgIoTransport::Open(name, &err);
  if (!t) *message = "cannot open \"" + name + "\": " + std::strerror(err);
  return t;
}

}  // namespace quillet::platform
