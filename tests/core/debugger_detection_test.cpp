// Debugger detection against a real tracer: a forked child that seizes this process with ptrace.
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/debug_output.h"

namespace corvantis {

namespace {

TEST(DebuggerDetection, SeesARealTracerComeAndGo) {
  if (IsDebuggerPresent()) GTEST_SKIP() << "already under a debugger";
  // Primes the "no debugger" answer that frequent callers reuse for a while.
  ASSERT_FALSE(DebuggerMayBePresent());
  // Yama's restricted mode lets only ancestors trace; allow the child.
  prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY, 0, 0, 0);
  int attached[2], release[2];
  ASSERT_EQ(pipe(attached), 0);
  ASSERT_EQ(pipe(release), 0);
  const pid_t parent = getpid();
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    char result =
        ptrace(PTRACE_SEIZE, parent, nullptr, nullptr) == 0 ? 'a' : static_cast<char>(errno);
    (void)!write(attached[1], &result, 1);
    (void)!read(release[0], &result, 1);
    _exit(0);  // a tracer that exits detaches from its tracees
  }
  char result = 0;
  ASSERT_EQ(read(attached[0], &result, 1), 1);
  ASSERT_EQ(result, 'a') << "PTRACE_SEIZE: " << std::strerror(result);

  EXPECT_TRUE(IsDebuggerPresent());
  EXPECT_TRUE(DebuggerMayBePresent());

  ASSERT_EQ(write(release[1], "x", 1), 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_FALSE(IsDebuggerPresent());
  for (int fd : {attached[0], attached[1], release[0], release[1]}) close(fd);
}

}  // namespace

}  // namespace corvantis
