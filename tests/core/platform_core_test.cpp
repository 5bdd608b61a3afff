#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "platform/console.h"
#include "platform/file_bytes.h"
#include "platform/hresult_error.h"
#include "platform/utf.h"
#include "platform/win32_error.h"
#include "platform/write_all.h"
#include "tests/fakes/files.h"

namespace corvantis {

namespace {

// And ThrowErrno raises the code with the text.
TEST(ErrnoToHResult, MapsToWin32Counterparts) {
  struct Case {
    int Error;
    std::uint32_t Hr;
  } cases[] = {{ENOENT, 0x80070002},  {EACCES, 0x80070005},       {EPERM, 0x80070005},
               {EEXIST, 0x80070050},  {ENOSPC, 0x80070070},       {EINVAL, 0x80070057},
               {ENOTDIR, 0x80070003}, {ENAMETOOLONG, 0x800700CE}, {EROFS, 0x80070013},
               {ENOMEM, 0x80070008},  {EILSEQ, 0x80070459}};
  for (const Case& c : cases)
    EXPECT_EQ(static_cast<std::uint32_t>(HResultFromErrno(c.Error)), c.Hr) << c.Error;
  EXPECT_EQ(HResultFromErrno(0), S_OK);
  // No Win32 counterpart: a code of its own facility that still carries errno.
  EXPECT_EQ(static_cast<std::uint32_t>(HResultFromErrno(ENOTSOCK)), 0xA0FF0000u | ENOTSOCK);
  EXPECT_TRUE(FAILED(HResultFromErrno(ENOTSOCK)));
  EXPECT_EQ(static_cast<std::uint32_t>(HRESULT_FROM_WIN32(5)), 0x80070005u);
  EXPECT_EQ(HRESULT_FROM_WIN32(0), 0);
  EXPECT_EQ(static_cast<std::uint32_t>(HRESULT_FROM_WIN32(0x80004005u)), 0x80004005u);

  try {
    ThrowErrno(ENOENT, "/nowhere");
    FAIL();
  } catch (const hresult_error& e) {
    EXPECT_EQ(static_cast<std::uint32_t>(e.code()), 0x80070002u);
    EXPECT_NE(e.message().find(L"/nowhere"), std::wstring::npos);
  }
}

TEST(Utf, RoundTripsAndReplacesInvalidInput) {
  const std::wstring text = L"a\u00e9\u20ac\U0001F600";
  EXPECT_EQ(Utf8ToWide(WideToUtf8Lossy(text)), text);
  EXPECT_EQ(WideToUtf8Strict(text), WideToUtf8Lossy(text));
  EXPECT_FALSE(WideToUtf8Strict(std::wstring(1, static_cast<wchar_t>(0xD800))).has_value());
  EXPECT_EQ(WideToUtf8Lossy(std::wstring(1, static_cast<wchar_t>(0x110000))), "\xEF\xBF\xBD");
  // Truncated sequence, overlong form, encoded surrogate, stray continuation byte.
  EXPECT_EQ(Utf8ToWide("\xE2\x82"), L"\uFFFD");
  EXPECT_EQ(Utf8ToWide("\xC0\xAF"), L"\uFFFD\uFFFD");
  EXPECT_EQ(Utf8ToWide("\xED\xA0\x80z"), L"\uFFFD\uFFFD\uFFFDz");
  EXPECT_EQ(Utf8ToWide("\x80x"), L"\uFFFDx");
  std::u16string lone = u"a\U0001F600";
  lone.push_back(static_cast<char16_t>(0xD800));
  lone.push_back(u'b');
  EXPECT_EQ(Utf16ToWide(lone), L"a\U0001F600\uFFFDb");
}

TEST(Console, LinesEndWithNewlineAndFlush) {
  StringConsole console;
  {
    ScopedConsoleRedirect redirect(console);
    StdOut().Write(L"Finalizing...");
    StdOut().WriteLine(L" results submitted");
    StdOut().EndLine();
  }
  EXPECT_EQ(console.Text(), L"Finalizing... results submitted\n\n");
  EXPECT_EQ(console.Flushes(), 2);
}

TEST(FileBytes, ReadsAWholeFileWithinItsBoundAndOnlyARegularFileWhenAsked) {
  const TempDir temp;
  const std::filesystem::path& folder = temp.path();
  std::string content(70'000, '\0');  // more than one read
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
  const std::string file = folder / "file";
  std::ofstream(file, std::ios::binary) << content;

  EXPECT_EQ(ReadFileBytes(file), content);
  EXPECT_EQ(ReadRegularFile(file, content.size()), content);
  EXPECT_FALSE(ReadRegularFile(file, content.size() - 1));
  const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
  lseek(fd, 100, SEEK_SET);
  EXPECT_EQ(ReadFileBytes(fd), content) << "from the start";
  EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 100) << "the descriptor's offset is left alone";
  EXPECT_FALSE(ReadFileBytes(fd, content.size() - 1)) << "a file grown past the bound";
  close(fd);
  // /proc reports a size of 0 and is read to its end all the same.
  EXPECT_NE(ReadFileBytes("/proc/self/status").value_or("").find("TracerPid:"), std::string::npos);

  std::filesystem::create_symlink(file, folder / "link");
  ASSERT_EQ(mkfifo((folder / "fifo").c_str(), 0600), 0);  // opening it must not wait for a writer
  for (const char* name : {"link", "fifo", ".", "missing"})
    EXPECT_FALSE(ReadRegularFile(folder / name, content.size())) << name;
  EXPECT_FALSE(ReadFileBytes(folder / "missing"));
  EXPECT_FALSE(ReadRegularFile("/dev/null", content.size()))
      << "a device reads as empty, not as a file";
}

TEST(WriteAll, ResumesShortWritesAcrossPiecesAndNamesWhatStoppedIt) {
  // A slow reader and a timer's signals cut the writes short, mid-piece, or before any byte.
  int ends[2];
  ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
  struct sigaction tick {};
  tick.sa_handler = [](int) {};  // no SA_RESTART: a blocked write returns early
  sigaction(SIGALRM, &tick, nullptr);
  sigset_t alarm;
  sigemptyset(&alarm);
  sigaddset(&alarm, SIGALRM);
  pthread_sigmask(SIG_BLOCK, &alarm, nullptr);  // the reader, started now, never takes it
  std::string expected;
  std::vector<std::string> parts;
  for (int i = 0; i < 3000; ++i) parts.emplace_back(static_cast<std::size_t>(i % 97), 'a' + i % 26);
  std::vector<iovec> pieces;
  for (auto& part : parts) {
    pieces.push_back(iovec{part.data(), part.size()});
    expected += part;
  }
  std::string received;
  std::thread reader([&] {
    char buffer[512];
    for (ssize_t n; (n = read(ends[0], buffer, sizeof buffer)) > 0; usleep(20))
      received.append(buffer, static_cast<std::size_t>(n));
  });
  pthread_sigmask(SIG_UNBLOCK, &alarm, nullptr);
  itimerval every{{0, 300}, {0, 300}};
  setitimer(ITIMER_REAL, &every, nullptr);
  EXPECT_EQ(WriteAll(ends[1], pieces), 0);
  every = {};
  setitimer(ITIMER_REAL, &every, nullptr);
  close(ends[1]);
  reader.join();
  close(ends[0]);
  EXPECT_EQ(received, expected);

  char pattern[] = "/tmp/write-all-XXXXXX";
  const int file = mkstemp(pattern);
  EXPECT_EQ(WriteAll(file, std::string_view("head")), 0);
  EXPECT_EQ(WriteAll(file, std::as_bytes(std::span(std::string_view("XY"))), 1), 0);
  EXPECT_EQ(ReadFileBytes(pattern), "hXYd");
  close(file);
  unlink(pattern);

  const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
  EXPECT_EQ(WriteAll(full, std::string_view("x")), ENOSPC);
  close(full);
}

}  // namespace

}  // namespace corvantis
