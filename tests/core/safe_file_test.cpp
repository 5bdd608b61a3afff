#include "platform/safe_file.h"
#include "tests/fakes/files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

namespace corvantis {

namespace {

namespace fs = std::filesystem;

unsigned Mode(const fs::path& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

class SafeFileTest : public ::testing::Test {
 protected:
  SafeFileTest() {
    victim_ = dir_ / "victim";
    std::ofstream(victim_) << "the user's";
    fs::permissions(victim_, fs::perms::owner_read | fs::perms::owner_write);
  }
  std::string Path(const char* name) const { return (dir_ / name).string(); }
  std::size_t Entries() const {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir_), {}));
  }

  const TempDir temp_;
  const fs::path dir_ = temp_.path();
  fs::path victim_;
};

TEST_F(SafeFileTest, ModesHoldUnderAnOpenUmaskAndOnlyOurOwnFileIsReplaced) {
  const mode_t saved = ::umask(0);
  EXPECT_EQ(WriteNewFile(Path("out.png"), "1", FileReaders::Everyone, ExistingName::ReplaceOurs),
            0);
  EXPECT_EQ(WriteNewFile(Path("dump"), "m", FileReaders::UserOnly, ExistingName::Keep), 0);
  ::umask(saved);
  EXPECT_EQ(Mode(dir_ / "out.png"), 0644u);
  EXPECT_EQ(Mode(dir_ / "dump"), 0600u);
  EXPECT_EQ(WriteNewFile(Path("out.png"), "2", FileReaders::Everyone, ExistingName::ReplaceOurs),
            0);
  EXPECT_EQ(FileText(dir_ / "out.png"), "2");
  EXPECT_EQ(WriteNewFile(Path("dump"), "again", FileReaders::UserOnly, ExistingName::Keep), EEXIST);
  EXPECT_EQ(FileText(dir_ / "dump"), "m");

  // What a neighbour plants at a name: none of it is written through or replaced.
  fs::create_symlink(victim_, dir_ / "link");
  fs::create_hard_link(victim_, dir_ / "hard");
  std::ofstream(dir_ / "theirs") << "theirs";
  ASSERT_EQ(::chown((dir_ / "theirs").c_str(), 65534, 65534), 0);
  ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0666), 0);
  fs::create_directory(dir_ / "folder");
  for (const char* name : {"link", "hard", "theirs", "fifo"}) {
    EXPECT_EQ(WriteNewFile(Path(name), "x", FileReaders::Everyone, ExistingName::ReplaceOurs),
              EEXIST)
        << name;
    EXPECT_EQ(CheckNewFile(Path(name), ExistingName::ReplaceOurs), EEXIST) << name;
  }
  EXPECT_EQ(WriteNewFile(Path("folder"), "x", FileReaders::Everyone, ExistingName::ReplaceOurs),
            EISDIR);
  EXPECT_TRUE(fs::is_symlink(dir_ / "link"));
  EXPECT_EQ(FileText(victim_), "the user's");
  EXPECT_EQ(FileText(dir_ / "theirs"), "theirs");
  EXPECT_EQ(CheckNewFile(Path("free"), ExistingName::Keep), 0);
  EXPECT_EQ(CheckNewFile((dir_ / "missing" / "x").string(), ExistingName::Keep), ENOENT);
  // No temporary file stays behind, whether a write succeeded, failed or was only checked.
  EXPECT_EQ(Entries(), 8u);
}

TEST_F(SafeFileTest, AFolderSwappedWhileWritingDoesNotRedirectTheFile) {
  fs::create_directory(dir_ / "out");
  const fs::path elsewhere = dir_ / "elsewhere";
  fs::create_directory(elsewhere);
  {
    NewFile file((dir_ / "out" / "report.json").string(), FileReaders::Everyone);
    ASSERT_EQ(file.error(), 0);
    EXPECT_TRUE(file.Write("report"));
    fs::rename(dir_ / "out", dir_ / "moved");
    fs::create_directory_symlink(elsewhere, dir_ / "out");
    EXPECT_EQ(file.Commit(ExistingName::ReplaceOurs, /*sync=*/true), 0);
  }
  EXPECT_EQ(FileText(dir_ / "moved" / "report.json"), "report");
  EXPECT_TRUE(fs::is_empty(elsewhere));
  // Dropped before its commit: nothing remains.
  { NewFile abandoned((dir_ / "moved" / "never").string(), FileReaders::UserOnly); }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "moved"), {}), 1);
}

}  // namespace

}  // namespace corvantis
