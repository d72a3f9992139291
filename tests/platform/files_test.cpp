#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "fixtures/temp_dir.h"
#include "platform/byte_source.h"
#include "platform/record_file.h"
#include "platform/safe_file_writer.h"

namespace quillet::platform {
namespace {

using quillet::testing::ReadFileBytes;
using quillet::testing::TempDir;
using quillet::testing::WriteFileBytes;

int FilesIn(const std::filesystem::path& dir) {
  int n = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir)) ++n;
  return n;
}

TEST(ByteSource, FileAndMemoryReadTheSameBytesAndStopAtTheEnd) {
  TempDir dir;
  const std::string bytes("RIFF\x24\x00\x00\x00WAVE", 12);
  WriteFileBytes(dir / "a.wav", bytes);
  const int fdsBefore = quillet::testing::OpenDescriptorCount();
  {
    auto file = FileByteSource::Open(dir / "a.wav");
    ASSERT_TRUE(file);
    MemoryByteSource mem(bytes);
    for (ByteSource* src : {static_cast<ByteSource*>(file.get()), static_cast<ByteSource*>(&mem)}) {
      EXPECT_EQ(src->Size(), bytes.size());
      char buf[16] = {};
      EXPECT_EQ(src->ReadAt(8, buf, 16), 4u);  // short at the end
      EXPECT_EQ(std::string(buf, 4), "WAVE");
      EXPECT_EQ(src->ReadAt(12, buf, 4), 0u);
      EXPECT_EQ(src->ReadAt(~0ull - 2, buf, 4), 0u);  // no wrap-around
      EXPECT_FALSE(src->ReadExact(10, buf, 4));
      EXPECT_TRUE(src->ReadExact(0, buf, 4));
      EXPECT_EQ(LoadLE32(reinterpret_cast<unsigned char*>(buf)), 0x46464952u);
    }
  }
  EXPECT_EQ(quillet::testing::OpenDescriptorCount(), fdsBefore);
}

TEST(ByteSource, MissingFilesAndFoldersAreRefusedWithTheReason) {
  TempDir dir;
  int err = 0;
  EXPECT_FALSE(FileByteSource::Open(dir / "missing.wav", &err));
  EXPECT_EQ(err, ENOENT);
  EXPECT_FALSE(FileByteSource::Open(dir.path(), &err));
  EXPECT_EQ(err, EISDIR);
  // A pipe nobody writes is refused at once instead of waited on.
  ASSERT_EQ(::mkfifo((dir / "pipe.wav").c_str(), 0600), 0);
  EXPECT_FALSE(FileByteSource::Open(dir / "pipe.wav", &err));
  EXPECT_EQ(err, EINVAL);
}

// A save goes through a link to the file it names, never replaces a file that may not
// be written, and manages targets whose names use all 255 bytes.
TEST(SafeFileWriter, FollowsLinksRefusesReadOnlyFilesAndTakesLongNames) {
  TempDir dir;
  std::filesystem::create_directories(dir / "real");
  WriteFileBytes(dir / "real" / "song.wav", "old");
  std::filesystem::create_symlink("real/song.wav", dir / "link.wav");
  std::filesystem::create_symlink("link.wav", dir / "link2.wav");
  std::filesystem::create_symlink("real/new.wav", dir / "dangling.wav");
  for (const char* name : {"link2.wav", "dangling.wav"}) {
    auto w = SafeFileWriter::Create(dir / name);
    ASSERT_TRUE(w) << name;
    ASSERT_TRUE(w->Write("new", 3));
    ASSERT_TRUE(w->Commit());
    EXPECT_TRUE(std::filesystem::is_symlink(dir / name));
  }
  EXPECT_EQ(ReadFileBytes(dir / "real" / "song.wav"), "new");
  EXPECT_EQ(ReadFileBytes(dir / "real" / "new.wav"), "new");
  EXPECT_EQ(FilesIn(dir / "real"), 2);  // no temporary file left beside them

  WriteFileBytes(dir / "locked.wav", "keep");
  std::filesystem::permissions(dir / "locked.wav", std::filesystem::perms::owner_read);
  int err = 0;
  EXPECT_FALSE(SafeFileWriter::Create(dir / "locked.wav", &err));
  EXPECT_EQ(err, EACCES);
  EXPECT_EQ(CannotSaveMessage(dir / "locked.wav", err),
            "The file " + (dir / "locked.wav").string() + " is read-only; it was not replaced.");
  EXPECT_EQ(ReadFileBytes(dir / "locked.wav"), "keep");

  const std::string longest = std::string(251, 'x') + ".wav";
  auto w = SafeFileWriter::Create(dir / longest, &err);
  ASSERT_TRUE(w) << std::strerror(err);
  ASSERT_TRUE(w->Write("x", 1));
  EXPECT_TRUE(w->Commit());
  EXPECT_EQ(ReadFileBytes(dir / longest), "x");
  std::string accented = "a";
  for (int i = 0; i < 50; ++i) accented += "\xC3\xA9";
  EXPECT_EQ(TempNamePrefix(accented).size(), 64u);  // cut before the character, not inside it
}

TEST(SafeFileWriter, ReplacesTheTargetOnlyOnCommit) {
  TempDir dir;
  const auto target = dir / "song.wav";
  WriteFileBytes(target, "old contents");
  {
    auto w = SafeFileWriter::Create(target);
    ASSERT_TRUE(w);
    ASSERT_TRUE(w->Write("HEADxxxx", 8));
    std::string big(1 << 20, 'a');  // larger than the buffer
    ASSERT_TRUE(w->Write(big.data(), big.size()));
    ASSERT_TRUE(w->Write("tail", 4));
    ASSERT_TRUE(w->WriteAt(4, "SIZE", 4));
    EXPECT_EQ(w->size(), 8u + big.size() + 4);
    EXPECT_EQ(ReadFileBytes(target), "old contents");  // nothing visible yet
    ASSERT_TRUE(w->Commit());
  }
  const std::string got = ReadFileBytes(target);
  ASSERT_EQ(got.size(), 8u + (1 << 20) + 4);
  EXPECT_EQ(got.substr(0, 8), "HEADSIZE");
  EXPECT_EQ(got.substr(got.size() - 4), "tail");
  EXPECT_EQ(FilesIn(dir.path()), 1);
}

TEST(SafeFileWriter, AbandonedOrFailedWritesLeaveTheOldFile) {
  TempDir dir;
  const auto target = dir / "song.wav";
  WriteFileBytes(target, "precious");
  {
    auto w = SafeFileWriter::Create(target);
    ASSERT_TRUE(w);
    w->Write("partial", 7);
    // Cancelled: never committed.
  }
  EXPECT_EQ(ReadFileBytes(target), "precious");
  EXPECT_EQ(FilesIn(dir.path()), 1);

  auto w = SafeFileWriter::Create(target);
  ASSERT_TRUE(w);
  EXPECT_FALSE(w->WriteAt(100, "x", 1));  // past what was written
  EXPECT_TRUE(w->failed());
  EXPECT_FALSE(w->Write("more", 4));  // sticky
  EXPECT_FALSE(w->Commit());
  w.reset();
  EXPECT_EQ(ReadFileBytes(target), "precious");

  int err = 0;
  EXPECT_FALSE(SafeFileWriter::Create(dir / "no" / "such" / "folder.wav", &err));
  EXPECT_EQ(err, ENOENT);
}

TEST(SafeFileWriter, TruncateCutsAndAppendsContinueThere) {
  TempDir dir;
  auto w = SafeFileWriter::Create(dir / "t.raw");
  ASSERT_TRUE(w);
  w->Write("0123456789", 10);
  ASSERT_TRUE(w->Truncate(4));
  w->Write("ab", 2);
  ASSERT_TRUE(w->Commit());
  EXPECT_EQ(ReadFileBytes(dir / "t.raw"), "0123ab");
}

TEST(SafeFileWriter, NewFilesFollowTheUmaskAndReplacedFilesKeepTheirMode) {
  TempDir dir;
  const mode_t old = ::umask(027);
  EXPECT_EQ(NewFileMode(), 0640u);
  WriteFileBytes(dir / "kept.wav", "old");
  ::chmod((dir / "kept.wav").c_str(), 0604);
  for (const char* name : {"new.wav", "kept.wav"}) {
    auto w = SafeFileWriter::Create(dir / name);
    ASSERT_TRUE(w && w->Write("new", 3) && w->Commit());
  }
  // The small record and settings files follow the same rule.
  ASSERT_TRUE(WriteFileAtomically(dir / "new.qlp", "x"));
  EXPECT_EQ(::umask(old), 027u);
  for (const auto& [name, mode] : {std::pair{"new.wav", 0640u}, {"kept.wav", 0604u}, {"new.qlp", 0640u}}) {
    struct stat st {};
    ASSERT_EQ(::stat((dir / name).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode) << name;
  }
}

// A full disk must be reported, never shown as success.
TEST(SafeFileWriter, FullDiskIsReported) {
  // A tiny tmpfs stands in for a full disk (needs root, as in CI).
  TempDir dir;
  const auto mountPoint = dir / "small";
  std::filesystem::create_directory(mountPoint);
  if (std::system(
          ("mount -t tmpfs -o size=64k tmpfs " + mountPoint.string() + " 2>/dev/null").c_str()) !=
      0)
    GTEST_SKIP() << "cannot mount a small tmpfs here";
  {
    auto w = SafeFileWriter::Create(mountPoint / "big.wav");
    ASSERT_TRUE(w);
    std::string chunk(1 << 16, 'z');
    bool ok = true;
    for (int i = 0; i < 8 && ok; ++i) ok = w->Write(chunk.data(), chunk.size());
    ok = ok && w->Commit();
    EXPECT_FALSE(ok);
    EXPECT_EQ(w->error(), ENOSPC);
  }
  EXPECT_FALSE(std::filesystem::exists(mountPoint / "big.wav"));
  std::system(("umount " + mountPoint.string()).c_str());
}

}  // namespace
}  // namespace quillet::platform
