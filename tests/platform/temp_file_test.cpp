#include "platform/temp_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <optional>
#include <string>

#include "fixtures/temp_dir.h"

namespace quillet::platform {
namespace {

using testing::OpenDescriptorCount;
using testing::TempDir;

mode_t Mode(const std::filesystem::path& p) {
  struct stat st {};
  stat(p.c_str(), &st);
  return st.st_mode & 0777;
}

// Sets TMPDIR for one test and puts the old value back.
class ScopedTmpdir {
 public:
  explicit ScopedTmpdir(const std::filesystem::path& dir) {
    if (const char* old = getenv("TMPDIR")) old_ = old;
    setenv("TMPDIR", dir.c_str(), 1);
  }
  ~ScopedTmpdir() {
    if (old_) {
      setenv("TMPDIR", old_->c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
  }

 private:
  std::optional<std::string> old_;
};

TEST(TempFile, PrivateUniqueAndRemovedWithItsOwner) {
  TempDir dir;
  const int fds = OpenDescriptorCount();
  std::filesystem::path first, second;
  {
    TempFile a = TempFile::Create(".wav", dir.path());
    TempFile b = TempFile::Create(".wav", dir.path());
    ASSERT_TRUE(a.ok() && b.ok());
    first = a.path();
    second = b.path();
    EXPECT_NE(first, second);
    EXPECT_EQ(first.parent_path(), dir.path());
    EXPECT_EQ(first.extension(), ".wav");
    EXPECT_TRUE(first.filename().string().starts_with("quillet-"));
    EXPECT_EQ(Mode(first), 0600u);
    ASSERT_EQ(write(a.fd(), "data", 4), 4);
    EXPECT_EQ(testing::ReadFileBytes(first), "data");
  }
  EXPECT_FALSE(std::filesystem::exists(first));
  EXPECT_FALSE(std::filesystem::exists(second));
  EXPECT_EQ(OpenDescriptorCount(), fds);
}

TEST(TempFile, DefaultFolderFollowsTmpdir) {
  TempDir dir;
  ScopedTmpdir tmpdir(dir.path());
  EXPECT_EQ(TempFolderPath(), dir.path());
  TempFile file = TempFile::Create();
  ASSERT_TRUE(file.ok());
  EXPECT_EQ(file.path().parent_path(), dir.path());

  ScopedTmpdir missing(dir / "missing");
  EXPECT_EQ(TempFolderPath(), "/tmp");
}

TEST(TempFile, OwnershipMovesAndCanBeGivenUp) {
  TempDir dir;
  std::filesystem::path kept;
  std::filesystem::path moved;
  {
    TempFile a = TempFile::Create(".raw", dir.path());
    moved = a.path();
    TempFile b = std::move(a);
    EXPECT_FALSE(a.ok());
    {
      TempFile c = std::move(b);
    }  // c removes it; a and b must not try again
    EXPECT_FALSE(std::filesystem::exists(moved));

    TempFile d = TempFile::Create(".raw", dir.path());
    kept = d.Release();
  }
  EXPECT_TRUE(std::filesystem::exists(kept));

  // Assigning over a live file removes the old one.
  TempFile e = TempFile::Create("", dir.path());
  const std::filesystem::path old = e.path();
  e = TempFile::Create("", dir.path());
  EXPECT_FALSE(std::filesystem::exists(old));
  EXPECT_TRUE(std::filesystem::exists(e.path()));
}

TEST(TempFile, BadNamesAndFoldersFailWithAReason) {
  TempDir dir;
  const int fds = OpenDescriptorCount();
  EXPECT_EQ(TempFile::Create("/../x", dir.path()).error(), EINVAL);
  EXPECT_EQ(TempFile::Create(".wav", dir.path(), "a/b").error(), EINVAL);
  TempFile missing = TempFile::Create(".wav", dir / "missing");
  EXPECT_FALSE(missing.ok());
  EXPECT_EQ(missing.error(), ENOENT);
  EXPECT_EQ(TempFolder::Create(dir / "missing").error(), ENOENT);
  EXPECT_EQ(OpenDescriptorCount(), fds);
}

TEST(TempFolder, PrivateAndRemovedWithContentsButNotLinkTargets) {
  TempDir dir;
  TempDir outside;
  testing::WriteFileBytes(outside / "precious", "keep");
  std::filesystem::path path;
  {
    TempFolder folder = TempFolder::Create(dir.path());
    ASSERT_TRUE(folder.ok());
    path = folder.path();
    EXPECT_EQ(Mode(path), 0700u);
    std::filesystem::create_directories(path / "a" / "b");
    testing::WriteFileBytes(path / "a" / "b" / "f.wav", "x");
    std::filesystem::create_directory_symlink(outside.path(), path / "link");
  }
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(testing::ReadFileBytes(outside / "precious"), "keep");
}

}  // namespace
}  // namespace quillet::platform
