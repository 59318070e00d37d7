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
