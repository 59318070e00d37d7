// A call into firmware code, or into a firmware service, as a run records it: the operation with
// its arguments, how deep it was made and what it returned. The trace prints it; the summary and
// the JSON read its fields and never parse its text.
#pragma once

#include "Modules.h"
#include "Uefi/Uefi.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace sim {

// The modules' entries, as the PEI core and the DXE dispatcher call them, and the early-init
// module's decode operations; each names its function in the modules' table.
struct PeiEntryCall {
  static constexpr modules::Call Function = modules::Call::PeiEntry;
};
struct DxeEntryCall {
  static constexpr modules::Call Function = modules::Call::DxeEntry;
};
struct SetIoDecodeCall {
  static constexpr modules::Call Function = modules::Call::SetIoDecode;
  std::uint16_t Port = 0;
  std::uint8_t Size = 0;
  std::uint32_t Attributes = 0;
};
struct SetGenericIoRangeCall {
  static constexpr modules::Call Function = modules::Call::SetGenericIoRange;
  std::uint16_t Port = 0;
  std::uint16_t SizeWord = 0;
};
// The boot service LocateProtocol. Pointers are named, never kept: the trace must not depend on
// where memory lies.
struct LocateProtocolCall {
  std::optional<EFI_GUID> Protocol; // none: the driver passed NULL
  bool RegistrationGiven = false;
  bool InterfaceGiven = false;
  bool HandsBackNull = false; // succeeded and stored a NULL interface
};
// SMM Base2's InSmm.
struct InSmmCall {
  enum class Instance { SmmBase2, Null, Other };
  Instance This = Instance::SmmBase2;
  bool InSmramGiven = false;
  std::optional<bool> Stored; // the BOOLEAN it stored, if it stored one
};

using Operation = std::variant<PeiEntryCall, SetIoDecodeCall, SetGenericIoRangeCall, DxeEntryCall,
                               LocateProtocolCall, InSmmCall>;

struct CallRecord {
  Operation Made;
  unsigned Depth = 0;                  // 0: called by the run; 1: called from that call
  std::optional<std::uint64_t> Status; // set when the call returned
};

// The module function the operation calls; none for a firmware service.
std::optional<modules::Call> FunctionCalled(const Operation &Made);
// "SetIoDecode".
const char *OperationName(const Operation &Made);
// The module whose code the operation runs: its own function's, or for a DXE service the
// driver's, which calls it.
const modules::Module &ModuleOf(const Operation &Made);
// The width of the operation's status: the native word of that module's machine, 32 bits in the
// early-init module, 64 in the driver and the DXE services.
unsigned StatusBits(const Operation &Made);
// "SetIoDecode(0x03F8, 0x00, 0x00000006)".
std::string CallText(const CallRecord &Call);
// What a call's return annotation puts between the call's text and its result:
// "SetIoDecode(0x03F8, 0x00, 0x00000006) -> EFI_SUCCESS (0x00000000)".
inline constexpr std::string_view CallReturnMark = " -> ";
// "EFI_SUCCESS (0x00000000)", "EFI_SUCCESS (0x0000000000000000); stores TRUE"; empty before the
// call returned.
std::string ResultText(const CallRecord &Call);

// A status in the UEFI encoding of the given width (32 or 64 bits) by its name, or null when it
// has none. A 32-bit status is the 64-bit one with its top bit moved to bit 63.
const char *StatusName(std::uint64_t Status, unsigned Bits);
// "EFI_UNSUPPORTED (0x80000003)"; a status without a name shows as "status (0x...)".
std::string StatusText(std::uint64_t Status, unsigned Bits);

} // namespace sim
