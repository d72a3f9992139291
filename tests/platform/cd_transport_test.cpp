// The drive transport: sense data, the judgement of replies, SG_IO requests, drive
// discovery, CUE sheets and the simulated drive's answers.
#include <gtest/gtest.h>

#include <cstring>

#include "fixtures/cd_image.h"
#include "fixtures/temp_dir.h"
#include "platform/byte_source.h"
#include "platform/cue_sheet.h"
#include "platform/sg_drive.h"
#include "platform/sim_drive.h"

namespace quillet::platform {
namespace {

using testing::TempDir;

TEST(ScsiSense, FixedAndDescriptorFormatsAndTruncation) {
  struct Case {
    const char* what;
    std::vector<std::uint8_t> bytes;
    SenseTriple expected;
    std::int64_t information;
  };
  const Case cases[] = {
      {"fixed, current", {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0x00}, {5, 0x24, 0}, -1},
      {"fixed, deferred, valid information",
       {0xF1, 0, 0x03, 0, 0, 0x30, 0x39, 10, 0, 0, 0, 0, 0x11, 0x05},
       {3, 0x11, 5},
       0x3039},
      {"fixed, additional length too short for the codes",
       {0x70, 0, 0x02, 0, 0, 0, 0, 4, 0, 0, 0, 0, 0x04, 0x01},
       {2, 0, 0},
       -1},
      {"fixed, cut after the key", {0x70, 0, 0x06}, {6, 0, 0}, -1},
      {"descriptor", {0x72, 0x02, 0x04, 0x08, 0, 0, 0, 0}, {2, 0x04, 0x08}, -1},
      {"descriptor with information",
       {0x72, 0x03, 0x11, 0x00, 0, 0, 0, 12, 0x00, 0x0A, 0x80, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x00},
       {3, 0x11, 0},
       0x100},
      {"unknown response code", {0x7F, 0, 5, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0}, {}, -1},
      {"empty", {}, {}, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(ParseSense(c.bytes.data(), c.bytes.size()), c.expected);
    EXPECT_EQ(SenseInformation(c.bytes.data(), c.bytes.size()), c.information);
  }
}

TEST(ScsiJudge, FailsOnAnyErrorEvenWithoutSense) {
  std::uint8_t data[64];
  const ScsiCommand read = MakeCommand({0x43, 0, 0, 0, 0, 0, 1, 0, 64, 0}, ScsiDirection::In,
                                       data, sizeof data, 1000);
  struct Case {
    const char* what;
    RawScsiReply raw;
    bool ok;
    bool timedOut;
  };
  RawScsiReply good;
  RawScsiReply ioctlFailed;
  ioctlFailed.systemError = EIO;
  RawScsiReply checkNoSense;
  checkNoSense.status = kStatusCheckCondition;
  RawScsiReply busy;
  busy.status = kStatusBusy;
  RawScsiReply host;
  host.hostStatus = 0x07;  // DID_ERROR
  RawScsiReply hostTimeout;
  hostTimeout.hostStatus = kHostTimedOut;
  RawScsiReply driverError;
  driverError.driverStatus = 0x04;
  RawScsiReply recovered;  // GOOD with sense key 1: done, with a note
  recovered.driverStatus = kDriverSense;
  recovered.sense[0] = 0x70;
  recovered.sense[2] = 0x01;
  recovered.senseLength = 18;
  RawScsiReply goodButSense = recovered;
  goodButSense.sense[2] = 0x03;
  const Case cases[] = {
      {"good", good, true, false},
      {"ioctl failed", ioctlFailed, false, false},
      {"check condition, empty sense", checkNoSense, false, false},
      {"busy", busy, false, false},
      {"host error", host, false, false},
      {"host time-out", hostTimeout, false, true},
      {"driver error", driverError, false, false},
      {"recovered error", recovered, true, false},
      {"driver sense with a medium error", goodButSense, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ScsiResult r = JudgeReply(c.raw, read);
    EXPECT_EQ(r.ok, c.ok);
    EXPECT_EQ(r.timedOut, c.timedOut);
    if (!c.ok) {
      EXPECT_FALSE(r.Describe().empty());
    }
  }
  RawScsiReply shortReply;
  shortReply.residual = 24;
  EXPECT_EQ(JudgeReply(shortReply, read).transferred, 40u);
}

TEST(SgIo, HeaderCarriesDirectionLengthsAndTimeout) {
  std::uint8_t data[2352];
  std::uint8_t sense[kSenseBytes] = {};
  const struct {
    ScsiDirection direction;
    int expected;
  } cases[] = {{ScsiDirection::In, SG_DXFER_FROM_DEV},
               {ScsiDirection::Out, SG_DXFER_TO_DEV},
               {ScsiDirection::None, SG_DXFER_NONE}};
  for (const auto& c : cases) {
    const ScsiCommand cmd = MakeCommand({0xBE, 0, 0, 0, 0, 9, 0, 0, 1, 0xF0, 0, 0}, c.direction,
                                        c.direction == ScsiDirection::None ? nullptr : data,
                                        c.direction == ScsiDirection::None ? 0 : sizeof data, 40000);
    const sg_io_hdr_t h = MakeSgIoHeader(cmd, sense, kSenseBytes);
    EXPECT_EQ(h.interface_id, 'S');
    EXPECT_EQ(h.dxfer_direction, c.expected);
    EXPECT_EQ(h.cmd_len, 12);
    EXPECT_EQ(h.cmdp[0], 0xBE);
    EXPECT_EQ(h.dxfer_len, c.direction == ScsiDirection::None ? 0u : 2352u);
    EXPECT_EQ(h.timeout, 40000u);
    EXPECT_EQ(h.mx_sb_len, kSenseBytes);
  }
  // What the kernel hands back becomes the raw reply; a failed ioctl is a failure.
  sg_io_hdr_t done{};
  done.status = kStatusCheckCondition;
  done.sb_len_wr = 14;
  sense[0] = 0x70;
  sense[2] = 0x02;
  sense[7] = 6;
  sense[12] = 0x3A;
  done.sbp = sense;
  done.resid = 100;
  RawScsiReply raw = ReplyFromSgIo(done, 0, 0);
  EXPECT_EQ(raw.status, kStatusCheckCondition);
  EXPECT_EQ(ParseSense(raw.sense.data(), raw.senseLength), (SenseTriple{2, 0x3A, 0}));
  EXPECT_EQ(raw.residual, 100u);
  EXPECT_EQ(ReplyFromSgIo(done, -1, ENODEV).systemError, ENODEV);
}

TEST(SgIo, DrivesFoundInNumberOrderWithTheirModels) {
  TempDir dir;
  for (const char* name : {"sr10", "sr2", "sda", "srx"}) {
    std::filesystem::create_directories(dir / "sys" / name / "device");
  }
  testing::WriteFileBytes(dir / "sys" / "sr2" / "device" / "vendor", "HL-DT-ST\n");
  testing::WriteFileBytes(dir / "sys" / "sr2" / "device" / "model", "DVDRAM GH24NSD1 \n");
  const auto drives = FindCdDrives(dir / "sys", "/dev");
  ASSERT_EQ(drives.size(), 2u);
  EXPECT_EQ(drives[0].path, "/dev/sr2");
  EXPECT_EQ(drives[0].label, "HL-DT-ST DVDRAM GH24NSD1");
  EXPECT_EQ(drives[1].path, "/dev/sr10");
  EXPECT_TRUE(FindCdDrives(dir / "none").empty());
  int err = 0;
  EXPECT_EQ(SgIoTransport::Open((dir / "missing").string(), &err), nullptr);
  EXPECT_EQ(err, ENOENT);
}

TEST(CueSheet, LayoutPlacesGapsIndexesAndFiles) {
  CueSheet sheet;
  ASSERT_EQ(ParseCueSheet("\xEF\xBB\xBFREM GENRE Rock\r\nPERFORMER \"A B\"\nTITLE \"Disc\"\n"
                          "FILE \"a.bin\" BINARY\n  TRACK 01 AUDIO\n    TITLE \"One\"\n"
                          "    INDEX 01 00:00:00\n  TRACK 02 MODE1/2352\n    PREGAP 00:02:00\n"
                          "    INDEX 01 00:01:00\n    POSTGAP 00:00:10\n"
                          "FILE \"b.bin\" BINARY\n  TRACK 03 AUDIO\n    INDEX 00 00:00:00\n"
                          "    INDEX 01 00:00:05\n",
                          &sheet),
            "");
  EXPECT_EQ(sheet.performer, "A B");
  EXPECT_EQ(sheet.tracks[0].title, "One");
  DiscLayout layout;
  // a.bin: 100 sectors; b.bin: 50 sectors and a partial one.
  ASSERT_EQ(BuildDiscLayout(sheet, {100 * 2352, 50 * 2352 + 10}, &layout), "");
  ASSERT_EQ(layout.tracks.size(), 3u);
  EXPECT_EQ(layout.tracks[0].start, 0);
  EXPECT_EQ(layout.tracks[1].start, 75 + 150);  // after track 1's data and the pregap
  EXPECT_FALSE(layout.tracks[1].audio);
  EXPECT_EQ(layout.tracks[2].start, 250 + 10 + 5);  // a.bin, the postgap, INDEX 00 to 01
  EXPECT_EQ(layout.leadOut, 250 + 10 + 51);
  std::int64_t covered = 0;
  for (const DiscRun& run : layout.runs) {
    EXPECT_EQ(run.lba, covered);
    covered += run.count;
  }
  EXPECT_EQ(covered, layout.leadOut);
}

TEST(CueSheet, RefusesSheetsThatMakeNoSense) {
  const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"", "no tracks"},
      {"TRACK 01 AUDIO\n", "before any FILE"},
      {"FILE \"a.bin\" WAVE\n", "only BINARY"},
      {"FILE \"a.bin\" BINARY\nTRACK 00 AUDIO\n", "1 to 99"},
      {"FILE \"a.bin\" BINARY\nTRACK 02 AUDIO\nINDEX 01 00:00:00\nTRACK 01 AUDIO\n", "rise"},
      {"FILE \"a.bin\" BINARY\nTRACK 01 MODE1/2048\n", "unsupported track mode"},
      {"FILE \"a.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:60:00\n", "malformed INDEX"},
      {"FILE \"a.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:75\n", "malformed INDEX"},
      {"FILE \"a.bin\" BINARY\nTRACK 01 AUDIO\n", "no INDEX 01"},
      {"FILE \"a.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nBOGUS\n", "unknown command"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    CueSheet sheet;
    EXPECT_NE(ParseCueSheet(c.text, &sheet).find(c.error), std::string::npos);
  }
  CueSheet sheet;
  ASSERT_EQ(ParseCueSheet("FILE \"a.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n"
                          "TRACK 02 AUDIO\nINDEX 01 00:02:00\n",
                          &sheet),
            "");
  DiscLayout layout;
  EXPECT_NE(BuildDiscLayout(sheet, {100 * 2352}, &layout).find("past the end"), std::string::npos);
  EXPECT_NE(BuildDiscLayout(sheet, {}, &layout), "");
}

// The addresses and samples it answers are checked by ripping (tests/cd); here what a
// drive says about what it cannot do.
TEST(SimulatedDrive, RefusesWithTheSenseARealDriveGives) {
  TempDir dir;
  const auto cue = testing::WriteDiscImage(dir.path(), "disc", {{300}, {320, 150}, {310, 0, false}});
  std::string message;
  auto drive = SimulatedDrive::Open("sim:" + cue.string(), &message);
  ASSERT_TRUE(drive) << message;

  std::uint8_t toc[64] = {};
  ScsiCommand c = MakeCommand({0x43, 0, 0, 0, 0, 0, 1, 0, 64, 0}, ScsiDirection::In, toc, 64, 20000);
  ScsiResult r = JudgeReply(drive->Execute(c), c);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.transferred, 4u + 4 * 8);
  EXPECT_EQ(toc[4 + 8 * 2 + 1] & 0x04, 0x04);  // the data track
  EXPECT_EQ(toc[4 + 8 * 3 + 2], 0xAA);

  // Past the lead-out, an audio read of a data track and an unknown command.
  std::vector<std::uint8_t> data(3 * 2352);
  c = MakeCommand({0xBE, 0, 0, 0, 0x04, 0x38, 0, 0, 3, 0xF0, 0, 0}, ScsiDirection::In, data.data(),
                  data.size(), 40000);  // 1080
  EXPECT_EQ(JudgeReply(drive->Execute(c), c).sense, (SenseTriple{5, 0x21, 0}));
  c.cdb[1] = 0x04;  // CD-DA expected
  c.cdb[4] = 0x03;
  c.cdb[5] = 0x02;  // 770: the data track
  EXPECT_EQ(JudgeReply(drive->Execute(c), c).sense, (SenseTriple{5, 0x64, 0}));
  const ScsiCommand odd = MakeCommand({0xEE, 0, 0, 0, 0, 0}, ScsiDirection::None, nullptr, 0, 500);
  EXPECT_EQ(JudgeReply(drive->Execute(odd), odd).sense, (SenseTriple{5, 0x20, 0}));
  EXPECT_EQ(drive->log().size(), 4u);
  EXPECT_EQ(drive->log()[0], "43 00 00 00 00 00 01 00 40 00");
}

TEST(SimulatedDrive, FaultsFileIsParsedAndChecked) {
  SimFaults f;
  EXPECT_EQ(ParseSimFaults("# comment\nunit-attention-after-load\nmedium-error 75 # late\n"
                           "medium-error 80\nwrite-busy 3\ncapacity 74:00:00\nreader-only\n",
                           &f),
            "");
  EXPECT_TRUE(f.unitAttentionAfterLoad);
  EXPECT_EQ(f.mediumErrors, (std::vector<std::int64_t>{75, 80}));
  EXPECT_EQ(f.writeBusy, std::vector<int>{3});
  EXPECT_EQ(f.capacityMsf, 74 * 60 * 75);
  EXPECT_TRUE(f.readerOnly);
  for (const char* bad : {"medium-error\n", "write-busy 0\n", "capacity 74\n", "explode\n"}) {
    SCOPED_TRACE(bad);
    EXPECT_NE(ParseSimFaults(bad, &f), "");
  }
  TempDir dir;
  const auto cue = testing::WriteDiscImage(dir.path(), "d", {{300}});
  testing::WriteFileBytes(dir / "d.faults", "sideways\n");
  std::string message;
  EXPECT_EQ(SimulatedDrive::Open("sim:" + cue.string(), &message), nullptr);
  EXPECT_NE(message.find("unknown directive"), std::string::npos);
  EXPECT_EQ(SimulatedDrive::Open("sim:" + (dir / "none.cue").string(), &message), nullptr);
  EXPECT_EQ(SimulatedDrive::Open("sim:", &message), nullptr);
}

}  // namespace
}  // namespace quillet::platform
