#include "minidump/context_amd64.h"

#include <cstring>

namespace corvantis::minidump {

namespace {

static_assert(sizeof(user_fpregs_struct) == sizeof(XMM_SAVE_AREA32));

void CopyFloatingPoint(CONTEXT& context, const user_fpregs_struct& floatingPoint) {
  std::memcpy(&context.FltSave, &floatingPoint, sizeof(context.FltSave));
  context.MxCsr = floatingPoint.mxcsr;
}

std::uint16_t Selector(unsigned long long value) { return static_cast<std::uint16_t>(value); }

}  // namespace

CONTEXT ContextFromRegisters(const user_regs_struct& registers,
                             const user_fpregs_struct& floatingPoint,
                             const std::uint64_t (&debugRegisters)[8]) {
  CONTEXT context{};
  context.ContextFlags = CONTEXT_ALL;
  context.SegCs = Selector(registers.cs);
  context.SegDs = Selector(registers.ds);
  context.SegEs = Selector(registers.es);
  context.SegFs = Selector(registers.fs);
  context.SegGs = Selector(registers.gs);
  context.SegSs = Selector(registers.ss);
  context.EFlags = static_cast<std::uint32_t>(registers.eflags);
  context.Dr0 = debugRegisters[0];
  context.Dr1 = debugRegisters[1];
  context.Dr2 = debugRegisters[2];
  context.Dr3 = debugRegisters[3];
  context.Dr6 = debugRegisters[6];
  context.Dr7 = debugRegisters[7];
  context.Rax = registers.rax;
  context.Rcx = registers.rcx;
  context.Rdx = registers.rdx;
  context.Rbx = registers.rbx;
  context.Rsp = registers.rsp;
  context.Rbp = registers.rbp;
  context.Rsi = registers.rsi;
  context.Rdi = registers.rdi;
  context.R8 = registers.r8;
  context.R9 = registers.r9;
  context.R10 = registers.r10;
  context.R11 = registers.r11;
  context.R12 = registers.r12;
  context.R13 = registers.r13;
  context.R14 = registers.r14;
  context.R15 = registers.r15;
  context.Rip = registers.rip;
  CopyFloatingPoint(context, floatingPoint);
  return context;
}

CONTEXT ContextFromSignalFrame(const ucontext_t& frame, const user_fpregs_struct* fpState,
                               const CONTEXT& thread) {
  CONTEXT context = thread;
  const greg_t* gregs = frame.uc_mcontext.gregs;
  const auto reg = [gregs](int index) { return static_cast<std::uint64_t>(gregs[index]); };
  context.ContextFlags = CONTEXT_ALL;
  context.Rax = reg(REG_RAX);
  context.Rcx = reg(REG_RCX);
  context.Rdx = reg(REG_RDX);
  context.Rbx = reg(REG_RBX);
  context.Rsp = reg(REG_RSP);
  context.Rbp = reg(REG_RBP);
  context.Rsi = reg(REG_RSI);
  context.Rdi = reg(REG_RDI);
  context.R8 = reg(REG_R8);
  context.R9 = reg(REG_R9);
  context.R10 = reg(REG_R10);
  context.R11 = reg(REG_R11);
  context.R12 = reg(REG_R12);
  context.R13 = reg(REG_R13);
  context.R14 = reg(REG_R14);
  context.R15 = reg(REG_R15);
  context.Rip = reg(REG_RIP);
  context.EFlags = static_cast<std::uint32_t>(reg(REG_EFL));
  // CS, GS and FS packed as 16-bit fields from the low end.
  const std::uint64_t selectors = reg(REG_CSGSFS);
  context.SegCs = static_cast<std::uint16_t>(selectors);
  context.SegGs = static_cast<std::uint16_t>(selectors >> 16);
  context.SegFs = static_cast<std::uint16_t>(selectors >> 32);
  if (fpState) CopyFloatingPoint(context, *fpState);
  return context;
}

}  // namespace corvantis::minidump
