#include <link.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "minidump/context_amd64.h"
#include "minidump/elf_modules.h"
#include "minidump/proc_maps.h"
#include "platform/ptrace_connection_linux.h"
#include "tests/fakes/files.h"

namespace corvantis::minidump {
namespace {

TEST(ProcMaps, ParsesFieldsPathsWithBlanksAndSkipsMalformedLines) {
  const auto mappings = ParseProcMaps(
      "55d0c0a00000-55d0c0a21000 r-xp 00001000 fd:01 1837 /usr/bin/my prog (deleted)\n"
      "garbage line\n"
      "7ffd1000-7ffd2000 rw-s 00000000 00:00 0 \n"
      "7ffe2000-7ffe1000 r--p 00000000 00:00 0 [backwards]\n"
      "ffffffffff600000-ffffffffff601000 --xp 00000000 00:00 0                  [vsyscall]");
  ASSERT_EQ(mappings.size(), 3u);
  EXPECT_EQ(mappings[0].Start, 0x55d0c0a00000u);
  EXPECT_EQ(mappings[0].End, 0x55d0c0a21000u);
  EXPECT_TRUE(mappings[0].Readable && mappings[0].Executable && !mappings[0].Writable);
  EXPECT_EQ(mappings[0].Offset, 0x1000u);
  EXPECT_EQ(mappings[0].Inode, 1837u);
  EXPECT_EQ(mappings[0].Path, "/usr/bin/my prog (deleted)");
  EXPECT_TRUE(mappings[1].Shared);
  EXPECT_EQ(mappings[1].Path, "");
  EXPECT_EQ(mappings[2].Path, "[vsyscall]");
  EXPECT_FALSE(mappings[2].Readable);
  EXPECT_EQ(FindMapping(mappings, 0x7ffd1fff), &mappings[1]);
  EXPECT_EQ(FindMapping(mappings, 0x7ffd2000), nullptr);
}

// The build id as the dynamic loader sees the main program's notes.
std::vector<std::uint8_t> MainProgramBuildId() {
  std::vector<std::uint8_t> id;
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) {
        auto& out = *static_cast<std::vector<std::uint8_t>*>(data);
        for (int i = 0; i < info->dlpi_phnum; ++i) {
          const ElfW(Phdr)& segment = info->dlpi_phdr[i];
          if (segment.p_type != PT_NOTE) continue;
          const auto* at = reinterpret_cast<const std::uint8_t*>(info->dlpi_addr + segment.p_vaddr);
          const auto* end = at + segment.p_memsz;
          while (at + sizeof(ElfW(Nhdr)) <= end) {
            ElfW(Nhdr) note;
            std::memcpy(&note, at, sizeof(note));
            const auto* desc = at + sizeof(note) + ((note.n_namesz + 3) & ~3u);
            if (note.n_type == NT_GNU_BUILD_ID) {
              out.assign(desc, desc + note.n_descsz);
              return 1;
            }
            at = desc + ((note.n_descsz + 3) & ~3u);
          }
        }
        return 1;  // the first object is the main program
      },
      &id);
  return id;
}

TEST(ElfModules, FindsThisProgramAndLibcWithTheirBuildIds) {
  ProcessMemoryReader memory(getpid());  // as a tracer reads another process
  const auto mappings = ParseProcMaps(FileText("/proc/self/maps"));
  const auto modules = FindModules(mappings, memory);

  char self[4096] = {};
  ASSERT_GT(readlink("/proc/self/exe", self, sizeof(self) - 1), 0);
  const auto program = std::find_if(modules.begin(), modules.end(),
                                    [&](const ModuleSnapshot& m) { return m.Path == self; });
  ASSERT_NE(program, modules.end());
  const std::vector<std::uint8_t> expected = MainProgramBuildId();
  ASSERT_FALSE(expected.empty()) << "the tests are linked with a build id";
  EXPECT_EQ(program->BuildId, expected);
  // The image covers the code that runs this test.
  const auto here = reinterpret_cast<std::uint64_t>(&MainProgramBuildId);
  EXPECT_LE(program->Base, here);
  EXPECT_GT(program->Base + program->Size, here);
  EXPECT_EQ(std::count_if(modules.begin(), modules.end(),
                          [&](const ModuleSnapshot& m) { return m.Path == self; }),
            1)
      << "one module per file, not per mapping";

  const auto libc = std::find_if(modules.begin(), modules.end(), [](const ModuleSnapshot& m) {
    return m.Path.find("/libc.so") != std::string::npos;
  });
  ASSERT_NE(libc, modules.end());
  EXPECT_GE(libc->BuildId.size(), 16u);
  EXPECT_TRUE(ReadElfBuildId(memory, libc->Base + 0x1000).empty()) << "no ELF header there";
}

TEST(ContextAmd64, RegistersLandInTheirWindowsSlots) {
  user_regs_struct registers{};
  registers.rax = 1;
  registers.rcx = 2;
  registers.rdx = 3;
  registers.rbx = 4;
  registers.rsp = 5;
  registers.rbp = 6;
  registers.rsi = 7;
  registers.rdi = 8;
  registers.r8 = 9;
  registers.r15 = 16;
  registers.rip = 0x401000;
  registers.eflags = 0x246;
  registers.cs = 0x33;
  registers.ss = 0x2b;
  registers.fs = 0x11;
  user_fpregs_struct fp{};
  fp.mxcsr = 0x1F80;
  fp.cwd = 0x37F;
  fp.xmm_space[4] = 0xAABBCCDD;  // xmm1, low dword
  const std::uint64_t debug[8] = {10, 11, 12, 13, 0, 0, 16, 17};

  const CONTEXT context = ContextFromRegisters(registers, fp, debug);
  EXPECT_EQ(context.ContextFlags, CONTEXT_ALL);
  EXPECT_EQ((std::vector<std::uint64_t>{context.Rax, context.Rcx, context.Rdx, context.Rbx,
                                        context.Rsp, context.Rbp, context.Rsi, context.Rdi,
                                        context.R8, context.R15, context.Rip}),
            (std::vector<std::uint64_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 16, 0x401000}));
  EXPECT_EQ(context.EFlags, 0x246u);
  EXPECT_EQ(context.SegCs, 0x33);
  EXPECT_EQ(context.SegSs, 0x2b);
  EXPECT_EQ(context.SegFs, 0x11);
  EXPECT_EQ(context.MxCsr, 0x1F80u);
  EXPECT_EQ(context.FltSave.MxCsr, 0x1F80u);
  EXPECT_EQ(context.FltSave.ControlWord, 0x37F);
  EXPECT_EQ(context.FltSave.XmmRegisters[1].Low, 0xAABBCCDDu);
  EXPECT_EQ(context.Dr0, 10u);
  EXPECT_EQ(context.Dr3, 13u);
  EXPECT_EQ(context.Dr6, 16u);
  EXPECT_EQ(context.Dr7, 17u);
}

TEST(ContextAmd64, SignalFrameGivesTheFaultingRegistersAndKeepsWhatItLacks) {
  CONTEXT thread{};
  thread.Rip = 0x7f0000001000;  // inside the signal handler
  thread.SegSs = 0x2b;
  thread.SegDs = 0x7;
  thread.Dr7 = 0x55;
  thread.FltSave.ControlWord = 0x37F;

  ucontext_t frame{};
  frame.uc_mcontext.gregs[REG_RIP] = 0x401234;
  frame.uc_mcontext.gregs[REG_RSP] = 0x7ffc0000;
  frame.uc_mcontext.gregs[REG_RAX] = 42;
  frame.uc_mcontext.gregs[REG_R15] = 15;
  frame.uc_mcontext.gregs[REG_EFL] = 0x10246;
  frame.uc_mcontext.gregs[REG_CSGSFS] = (0x0011LL << 32) | (0x0022LL << 16) | 0x33;
  user_fpregs_struct fp{};
  fp.mxcsr = 0x1FA0;

  const CONTEXT withFp = ContextFromSignalFrame(frame, &fp, thread);
  EXPECT_EQ(withFp.Rip, 0x401234u);
  EXPECT_EQ(withFp.Rsp, 0x7ffc0000u);
  EXPECT_EQ(withFp.Rax, 42u);
  EXPECT_EQ(withFp.R15, 15u);
  EXPECT_EQ(withFp.EFlags, 0x10246u);
  EXPECT_EQ(withFp.SegCs, 0x33);
  EXPECT_EQ(withFp.SegGs, 0x22);
  EXPECT_EQ(withFp.SegFs, 0x11);
  EXPECT_EQ(withFp.SegSs, 0x2b);
  EXPECT_EQ(withFp.SegDs, 0x7);
  EXPECT_EQ(withFp.Dr7, 0x55u);
  EXPECT_EQ(withFp.MxCsr, 0x1FA0u);
  EXPECT_EQ(withFp.FltSave.ControlWord, 0) << "the frame's floating point replaces the thread's";

  const CONTEXT withoutFp = ContextFromSignalFrame(frame, nullptr, thread);
  EXPECT_EQ(withoutFp.FltSave.ControlWord, 0x37F);
}

}  // namespace
}  // namespace corvantis::minidump
