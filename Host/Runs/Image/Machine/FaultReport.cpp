#include "FaultReport.h"

#include "EmulatedMachine.h"
#include "Images.h"

#include <iterator>

namespace imagerun {

const char *ExceptionName(std::uint32_t Vector) {
  static constexpr const char *Names[] = {"divide error",
                                          "debug exception",
                                          nullptr,
                                          "breakpoint",
                                          "overflow",
                                          "bound range exceeded",
                                          "invalid opcode",
                                          "device not available",
                                          "double fault",
                                          nullptr,
                                          "invalid TSS",
                                          "segment not present",
                                          "stack-segment fault",
                                          "general protection fault",
                                          "page fault",
                                          nullptr,
                                          "x87 floating-point error",
                                          "alignment check",
                                          "machine check",
                                          "SIMD floating-point exception"};
  const char *Name = Vector < std::size(Names) ? Names[Vector] : nullptr;
  return Name != nullptr ? Name : "interrupt";
}

std::span<const NamedRegister> FaultRegisters(bool Wide) {
  static constexpr NamedRegister Narrow[] = {
      {"EAX", UC_X86_REG_EAX},      {"EBX", UC_X86_REG_EBX}, {"ECX", UC_X86_REG_ECX},
      {"EDX", UC_X86_REG_EDX},      {"ESI", UC_X86_REG_ESI}, {"EDI", UC_X86_REG_EDI},
      {"EBP", UC_X86_REG_EBP},      {"ESP", UC_X86_REG_ESP}, {"EIP", UC_X86_REG_EIP},
      {"EFLAGS", UC_X86_REG_EFLAGS}};
  static constexpr NamedRegister Long[] = {
      {"RAX", UC_X86_REG_RAX}, {"RBX", UC_X86_REG_RBX}, {"RCX", UC_X86_REG_RCX},
      {"RDX", UC_X86_REG_RDX}, {"RSI", UC_X86_REG_RSI}, {"RDI", UC_X86_REG_RDI},
      {"RBP", UC_X86_REG_RBP}, {"RSP", UC_X86_REG_RSP}, {"R8", UC_X86_REG_R8},
      {"R9", UC_X86_REG_R9},   {"R10", UC_X86_REG_R10}, {"R11", UC_X86_REG_R11},
      {"R12", UC_X86_REG_R12}, {"R13", UC_X86_REG_R13}, {"R14", UC_X86_REG_R14},
      {"R15", UC_X86_REG_R15}, {"RIP", UC_X86_REG_RIP}, {"RFLAGS", UC_X86_REG_EFLAGS}};
  if (Wide) {
    return Long;
  }
  return Narrow;
}

std::string ByteCount(int Size) {
  return std::to_string(Size) + (Size == 1 ? " byte" : " bytes");
}

std::string RefusedAccessText(uc_mem_type Type, std::uint64_t Address, int Size,
                              const std::string &Where, StackBounds Stack) {
  const std::string Bytes = ByteCount(Size);
  const bool Read = Type == UC_MEM_READ_UNMAPPED;
  switch (Type) {
  case UC_MEM_FETCH_UNMAPPED:
    return "CPU fault: instruction fetch at " + HexText(Address) +
           ", outside anything mapped, after " + Where;
  case UC_MEM_WRITE_PROT:
    return "CPU fault: write of " + Bytes + " at " + HexText(Address) + ", read-only, at " + Where;
  case UC_MEM_FETCH_PROT:
    return "CPU fault: instruction fetch at " + HexText(Address) + ", not executable, after " +
           Where;
  case UC_MEM_READ_UNMAPPED:
  case UC_MEM_WRITE_UNMAPPED:
    if (Address < Stack.Base && Stack.Base - Address <= machine::PageSize) {
      return "CPU fault: stack overflow: " + std::string(Read ? "read" : "write") + " of " + Bytes +
             " at " + HexText(Address) + ", below the " + std::to_string(Stack.Size) +
             "-byte stack, at " + Where;
    }
    return std::string("CPU fault: ") + (Read ? "read" : "write") + " of " + Bytes + " at " +
           HexText(Address) + ", outside anything mapped, at " + Where;
  default:
    return "CPU fault: access of " + Bytes + " at " + HexText(Address) + " refused, at " + Where;
  }
}

} // namespace imagerun
