// Running a firmware module on the simulated board: one interface, implemented by the host build
// (HostBuildRuns) and the shipped image under emulation (ImageRuns), with the same trace, calls
// and results; callers ask which one ran only to report it.
#pragma once

#include "Board.h"
#include "DecodeRequest.h"
#include "FormatCall.h"
#include "Modules.h"
#include "TableRows.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace runs {

enum class Implementation { HostBuild, Image };

// A generic-window request: port and size word, as SetGenericIoRange takes them.
struct WindowRequest {
  std::uint16_t Port = 0;
  std::uint16_t SizeWord = 0;
};

// What the driver leaves behind: its module data and the services it called.
struct DxeFacts {
  bool HobListFound = false; // the driver's cached HOB list pointer after the run
  bool InSmm = false;        // the driver's in-SMM flag after the run
  std::size_t LocateProtocolCalls = 0;
  std::size_t InSmmCalls = 0;
};

// A spin that makes no access at all never meets the board's step budget; this many instructions
// in a row without an access count as hung.
inline constexpr std::uint64_t InstructionsWithoutAccess = 1000000;

// What only a run of a shipped image can tell: its stack use, the instructions it executed, and
// the rules it broke.
struct ImageFacts {
  // Bytes of stack the module wrote below its caller's stack pointer, return address included
  // (the stack is painted before the run); the largest of all the calls of a run.
  std::uint32_t StackHighWater = 0;
  std::string StackDeepestIn; // the function running when the stack pointer was lowest
  // The calls in progress when the stack pointer was lowest, outermost first: the function the
  // run called, then each function called from the one before, down to StackDeepestIn's.
  std::vector<std::string> StackChain;
  std::uint64_t Instructions = 0;
  // Hung because InstructionsWithoutAccess instructions went by without an access, rather than
  // by the board's step budget.
  bool SpunWithoutAccess = false;
  // Set when the module broke a rule: it wrote into its own flash, used a firmware service it may
  // not use, or faulted (invalid opcode, divide error, a fetch or access outside anything
  // mapped). One line; the run stopped there, and the board holds everything before it.
  std::optional<std::string> Breach;
  // A hung run (a spin included): the instruction it stood at, and the calls in progress in the
  // image there, outermost first, each the function and offset it returns to, then where it stood
  // ("BoardInitDxeEntry+0x2A", "SerialPrint+0x51", "SendByte+0x9"). Lean runs know no calls.
  std::optional<sim::AccessSite> StoppedAt;
  std::vector<std::string> StoppedChain;
  // A CPU fault: the instruction that faulted (for a fetch, the one that branched there), as the
  // processor would decode it, and the registers then, in the processor's order and width.
  struct Fault {
    sim::AccessSite At;
    std::string Instruction; // "movl (%eax), %ecx"; empty when its bytes cannot be read
    std::vector<std::pair<std::string, std::uint64_t>> Registers;
    unsigned RegisterBytes = 4; // 4 in 32-bit mode, 8 in 64-bit
  };
  std::optional<Fault> Faulted;
};

// One result for every run: how it ended (hung, last accesses, calls in progress), what the calls
// the run made returned, and what the implementation that ran can tell besides.
struct RunResult : sim::RunOutcome {
  Implementation Ran = Implementation::HostBuild;
  std::optional<std::uint64_t> EntryStatus; // pei and dxe: set when the entry returned
  std::vector<std::uint64_t> Statuses;      // requests: one per request that returned, in order
  std::optional<DxeFacts> Dxe;              // dxe
  std::optional<ImageFacts> Image;          // runs of the shipped image
};

// A format call's result: the count it returned (unset when the run stopped first) and the
// buffer's room and guard bytes after it, painted FormatPaint before.
struct FormatResult {
  RunResult Run;
  std::optional<std::uint64_t> Count;
  std::vector<std::uint8_t> Buffer;
};

// GetStatusCodeName's answer: unset Name for a null pointer; Returned unset when the run stopped.
struct StatusNameResult {
  RunResult Run;
  bool Returned = false;
  std::optional<std::string> Name;
};

// A PM-timer delay as the modules' code asks for one: Count ticks, or Count microseconds, through
// the copy of the delays that Module links (an image runs its own; the host build has one). The
// early-init module's counts are 32-bit: a larger Count is taken modulo 2^32 on both sides.
struct DelayCall {
  modules::ModuleId Module = modules::ModuleId::BoardInitPei;
  bool Microseconds = false;
  std::uint64_t Count = 0;
};

// A delay's result: DelayMicroseconds returns its count (unset for ticks, or when the run stopped).
struct DelayResult {
  RunResult Run;
  std::optional<std::uint64_t> Returned;
};

class ModuleRuns {
public:
  virtual ~ModuleRuns() = default;
  virtual Implementation implementation() const = 0;
  // The early-init module's entry, as the PEI core enters it.
  virtual RunResult runPei(sim::Board &Target) const = 0;
  // The driver's entry with a firmware environment built from the board's scenario.
  virtual RunResult runDxe(sim::Board &Target) const = 0;
  // Each request in order, through the module's own SetIoDecode or SetGenericIoRange.
  virtual RunResult runDecodeRequests(sim::Board &Target,
                                      std::span<const DecodeRequestRow> Requests) const = 0;
  virtual RunResult runWindowRequests(sim::Board &Target,
                                      std::span<const WindowRequest> Requests) const = 0;
  // The driver's FormatBuffer over the call's format, capacity and slots.
  virtual FormatResult runFormat(sim::Board &Target, const FormatCall &Call) const = 0;
  // The driver's GetStatusCodeName of Status.
  virtual StatusNameResult runStatusName(sim::Board &Target, std::uint64_t Status) const = 0;
  // The early-init module's RunIoScript over Rows, laid out as its tables lay them out.
  virtual RunResult runScript(sim::Board &Target,
                              std::span<const sim::ScriptTableRow> Rows) const = 0;
  virtual DelayResult runDelay(sim::Board &Target, const DelayCall &Call) const = 0;
};

} // namespace runs
