// The board's two firmware modules, one row each, as every host loader and tool knows them: the
// name a module goes by, the machine its image is built for, whether its phase runs it in place
// from flash, and the functions of it that the runs call, the entry first, each with the calling
// convention its image gives it. A tool's own facts about a module (the firmware file it is
// packed into) live in the tool's table, keyed by the module's row.
#pragma once

#include "Pe/PeFormat.h"

#include <climits>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string_view>

namespace modules {

// How a function of an image takes its arguments and gives back its status.
enum class Convention {
  // IA-32 cdecl: each argument in a 32-bit stack slot above the return address, the first
  // lowest; the status in EAX; the caller pops the arguments.
  Cdecl32,
  // IA-32 regparm(3), the early-init module's own calls between its libraries: the first three
  // arguments in EAX, EDX and ECX, the rest as cdecl; the result in EAX.
  Regparm32,
  // Microsoft x64: the first four arguments in RCX, RDX, R8 and R9, 32 bytes of shadow space
  // above the return address for the callee to spill them; the status in RAX.
  MsX64,
};

enum class ModuleId { BoardInitPei, BoardInitDxe }; // in the order of Modules

// The functions the runs call in a module.
enum class Call {
  PeiEntry,
  SetIoDecode,
  SetGenericIoRange,
  DxeEntry,
  FormatBufferV,
  GetStatusCodeName,
  RunIoScript,
  EarlyDelayTicks, // each module links its own copy of the PM-timer delays
  EarlyDelayMicroseconds,
  DriverDelayTicks,
  DriverDelayMicroseconds,
};

struct Function {
  Call Id;
  const char *Name;                        // "SetIoDecode": its symbol, as the map reads it
  std::span<const char *const> Parameters; // "Port", "Size", "Attributes"
  Convention Called;
};

struct Module {
  ModuleId Id;
  const char *Name;                // "BoardInitPei": also the name its firmware file shows
  const char *Role;                // "the early-init module": how a message names it
  std::uint16_t Machine;           // a PeMachine value
  bool ExecuteInPlace;             // its phase runs it from flash, where it lies in the volume
  std::span<const Function> Calls; // its entry first

  constexpr const Function &entry() const { return Calls.front(); }
};

inline constexpr const char *PeiEntryParameters[] = {"FileHandle", "PeiServices"};
inline constexpr const char *SetIoDecodeParameters[] = {"Port", "Size", "Attributes"};
inline constexpr const char *SetGenericIoRangeParameters[] = {"Port", "SizeWord"};
inline constexpr const char *DxeEntryParameters[] = {"ImageHandle", "SystemTable"};
inline constexpr const char *FormatBufferVParameters[] = {"Buffer", "Capacity", "Format",
                                                          "Arguments"};
inline constexpr const char *GetStatusCodeNameParameters[] = {"Status"};
inline constexpr const char *RunIoScriptParameters[] = {"Table", "Count"};
inline constexpr const char *DelayTicksParameters[] = {"Ticks"};
inline constexpr const char *DelayMicrosecondsParameters[] = {"Microseconds"};
inline constexpr const char *DelayTicksName = "PmTimerDelayTicks";
inline constexpr const char *DelayMicrosecondsName = "DelayMicroseconds";

// The early-init module's libraries pass their first arguments in registers; the entry and the
// two decode operations stay cdecl, so that a caller outside the image can reach them. The runs
// also call three library functions that take data beyond the board's tables (script rows, delay
// counts), as the module's own code calls them.
inline constexpr Function EarlyInitCalls[] = {
    {Call::PeiEntry, "BoardInitPeiEntry", PeiEntryParameters, Convention::Cdecl32},
    {Call::SetIoDecode, "SetIoDecode", SetIoDecodeParameters, Convention::Cdecl32},
    {Call::SetGenericIoRange, "SetGenericIoRange", SetGenericIoRangeParameters,
     Convention::Cdecl32},
    {Call::RunIoScript, "RunIoScript", RunIoScriptParameters, Convention::Regparm32},
    {Call::EarlyDelayTicks, DelayTicksName, DelayTicksParameters, Convention::Regparm32},
    {Call::EarlyDelayMicroseconds, DelayMicrosecondsName, DelayMicrosecondsParameters,
     Convention::Regparm32},
};
inline constexpr Function DriverCalls[] = {
    {Call::DxeEntry, "BoardInitDxeEntry", DxeEntryParameters, Convention::MsX64},
    // Arguments: a va_list, which under the Microsoft x64 convention is a pointer to the
    // variadic arguments' 8-byte slots, the first lowest.
    {Call::FormatBufferV, "FormatBufferV", FormatBufferVParameters, Convention::MsX64},
    {Call::GetStatusCodeName, "GetStatusCodeName", GetStatusCodeNameParameters, Convention::MsX64},
    {Call::DriverDelayTicks, DelayTicksName, DelayTicksParameters, Convention::MsX64},
    {Call::DriverDelayMicroseconds, DelayMicrosecondsName, DelayMicrosecondsParameters,
     Convention::MsX64},
};

inline constexpr Module Modules[] = {
    {ModuleId::BoardInitPei, "BoardInitPei", "the early-init module", PeMachine::I386, true,
     EarlyInitCalls},
    {ModuleId::BoardInitDxe, "BoardInitDxe", "the driver", PeMachine::X64, false, DriverCalls},
};

static_assert([] {
  for (std::size_t Row = 0; Row < std::size(Modules); ++Row) {
    if (static_cast<std::size_t>(Modules[Row].Id) != Row || Modules[Row].Calls.empty()) {
      return false;
    }
  }
  return true;
}());

constexpr const Module &ModuleOf(ModuleId Id) {
  return Modules[static_cast<std::size_t>(Id)];
}

// nullptr when no module has that name.
constexpr const Module *FindModule(std::string_view Name) {
  for (const Module &Each : Modules) {
    if (Name == Each.Name) {
      return &Each;
    }
  }
  return nullptr;
}

// The module whose function it is.
constexpr const Module &ModuleCalled(Call Id) {
  for (const Module &Each : Modules) {
    for (const Function &Called : Each.Calls) {
      if (Called.Id == Id) {
        return Each;
      }
    }
  }
  throw std::logic_error("modules: a call of no module");
}

constexpr const Function &FunctionOf(Call Id) {
  for (const Function &Called : ModuleCalled(Id).Calls) {
    if (Called.Id == Id) {
      return Called;
    }
  }
  throw std::logic_error("modules: a call of no module");
}

// A PE32+ image is built for x86-64, a PE32 image for IA-32.
constexpr bool Pe32Plus(const Module &Row) {
  return Row.Machine == PeMachine::X64;
}

// The width of the module's EFI_STATUS and pointers: its machine's native word.
inline constexpr unsigned Ia32WordBits = 32;
inline constexpr unsigned X64WordBits = 64;
constexpr unsigned WordBits(const Module &Row) {
  return Pe32Plus(Row) ? X64WordBits : Ia32WordBits;
}
constexpr unsigned PointerBytes(const Module &Row) {
  return WordBits(Row) / CHAR_BIT;
}

// IA-32 links name C functions with a leading underscore; x86-64 links do not.
constexpr bool UnderscoredCNames(const Module &Row) {
  return Row.Machine == PeMachine::I386;
}

} // namespace modules
