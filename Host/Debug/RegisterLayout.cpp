#include "RegisterLayout.h"

namespace gdbremote {

namespace {

constexpr unsigned Bits32 = 32;
constexpr unsigned Bits64 = 64;
constexpr unsigned X87Bits = 80;
constexpr unsigned VectorBits = 128;

using enum RegisterId;

constexpr RegisterSlot general(std::string_view Name, unsigned Bits, RegisterId Id,
                               std::string_view Type) {
  return {Name, Bits, Type, {}, Feature::Core, Id};
}
constexpr RegisterSlot segment(std::string_view Name, RegisterId Id) {
  return {Name, Bits32, "int32", {}, Feature::Core, Id};
}
constexpr RegisterSlot x87(std::string_view Name) {
  return {Name, X87Bits, "i387_ext", {}, Feature::Core, std::nullopt};
}
constexpr RegisterSlot x87Control(std::string_view Name) {
  return {Name, Bits32, "int", "float", Feature::Core, std::nullopt};
}
constexpr RegisterSlot xmm(std::string_view Name) {
  return {Name, VectorBits, "vec128", {}, Feature::Sse, std::nullopt};
}
constexpr RegisterSlot Mxcsr{"mxcsr", Bits32, "int", "vector", Feature::Sse, std::nullopt};

#define GDBREMOTE_X87_AND_CONTROL                                                                  \
  x87("st0"), x87("st1"), x87("st2"), x87("st3"), x87("st4"), x87("st5"), x87("st6"), x87("st7"),  \
      x87Control("fctrl"), x87Control("fstat"), x87Control("ftag"), x87Control("fiseg"),           \
      x87Control("fioff"), x87Control("foseg"), x87Control("fooff"), x87Control("fop")

#define GDBREMOTE_SEGMENTS                                                                         \
  segment("cs", Cs), segment("ss", Ss), segment("ds", Ds), segment("es", Es), segment("fs", Fs),   \
      segment("gs", Gs)

// gdb's i386 numbering: eax, ecx, edx, ebx, esp, ebp, esi, edi (the instruction encoding's order).
constexpr RegisterSlot I386Layout[] = {
    general("eax", Bits32, Rax, "int32"),
    general("ecx", Bits32, Rcx, "int32"),
    general("edx", Bits32, Rdx, "int32"),
    general("ebx", Bits32, Rbx, "int32"),
    general("esp", Bits32, Rsp, "data_ptr"),
    general("ebp", Bits32, Rbp, "data_ptr"),
    general("esi", Bits32, Rsi, "int32"),
    general("edi", Bits32, Rdi, "int32"),
    general("eip", Bits32, Rip, "code_ptr"),
    general("eflags", Bits32, Eflags, "int32"),
    GDBREMOTE_SEGMENTS,
    GDBREMOTE_X87_AND_CONTROL,
    xmm("xmm0"),
    xmm("xmm1"),
    xmm("xmm2"),
    xmm("xmm3"),
    xmm("xmm4"),
    xmm("xmm5"),
    xmm("xmm6"),
    xmm("xmm7"),
    Mxcsr,
};

// gdb's amd64 numbering follows the System V ABI's: rax, rbx, rcx, rdx, rsi, rdi, rbp, rsp.
constexpr RegisterSlot X86_64Layout[] = {
    general("rax", Bits64, Rax, "int64"),
    general("rbx", Bits64, Rbx, "int64"),
    general("rcx", Bits64, Rcx, "int64"),
    general("rdx", Bits64, Rdx, "int64"),
    general("rsi", Bits64, Rsi, "int64"),
    general("rdi", Bits64, Rdi, "int64"),
    general("rbp", Bits64, Rbp, "data_ptr"),
    general("rsp", Bits64, Rsp, "data_ptr"),
    general("r8", Bits64, R8, "int64"),
    general("r9", Bits64, R9, "int64"),
    general("r10", Bits64, R10, "int64"),
    general("r11", Bits64, R11, "int64"),
    general("r12", Bits64, R12, "int64"),
    general("r13", Bits64, R13, "int64"),
    general("r14", Bits64, R14, "int64"),
    general("r15", Bits64, R15, "int64"),
    general("rip", Bits64, Rip, "code_ptr"),
    general("eflags", Bits32, Eflags, "int32"),
    GDBREMOTE_SEGMENTS,
    GDBREMOTE_X87_AND_CONTROL,
    xmm("xmm0"),
    xmm("xmm1"),
    xmm("xmm2"),
    xmm("xmm3"),
    xmm("xmm4"),
    xmm("xmm5"),
    xmm("xmm6"),
    xmm("xmm7"),
    xmm("xmm8"),
    xmm("xmm9"),
    xmm("xmm10"),
    xmm("xmm11"),
    xmm("xmm12"),
    xmm("xmm13"),
    xmm("xmm14"),
    xmm("xmm15"),
    Mxcsr,
};

#undef GDBREMOTE_X87_AND_CONTROL
#undef GDBREMOTE_SEGMENTS

} // namespace

std::span<const RegisterSlot> registerLayout(Architecture Arch) {
  if (Arch == Architecture::I386)
    return I386Layout;
  return X86_64Layout;
}

} // namespace gdbremote
