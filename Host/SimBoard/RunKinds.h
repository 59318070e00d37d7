// The runs a module makes on the simulated board, one row each: its name (the boardsim subcommand,
// the compare run), the call each of its steps makes (which gives the module it runs, from the
// modules' table, and the width of the status it returns) and its help. boardsim's subcommands,
// compare's runs, the settings that each run reads and the fuzz targets all iterate this table.
#pragma once

#include "CallRecord.h"

#include <span>
#include <string>
#include <string_view>

namespace sim {

enum class RunKind { Pei, Dxe, Decode, Window }; // in the order of RunKinds()

struct RunKindRow {
  RunKind Kind;
  const char *Name;     // "pei"
  Operation Entry;      // the call the run makes: the module's entry, or each request's
  const char *Help;     // "run {} for each request, in order": RunHelp puts in RunSubject
  const char *Operands; // "PORT,SIZE,ATTRIBUTES...": the requests it takes; "" for none
};

std::span<const RunKindRow> RunKinds();
const RunKindRow &RunKindOf(RunKind Kind);
// nullptr when no run has that name.
const RunKindRow *FindRunKind(std::string_view Name);

// The module whose code the run runs.
const modules::Module &RunModule(const RunKindRow &Row);
// What the run calls: the module ("BoardInitPei") for an entry's run, else the function
// ("SetIoDecode").
std::string RunSubject(const RunKindRow &Row);
// "SetIoDecode requests", "BoardInitPei": what ran, as a report heads it.
std::string RunTitle(const RunKindRow &Row);
// "run SetIoDecode for each request, in order".
std::string RunHelp(const RunKindRow &Row);

// Sets of run kinds, as bits.
constexpr unsigned RunBit(RunKind Kind) {
  return 1u << static_cast<unsigned>(Kind);
}
inline constexpr unsigned EntryRuns = RunBit(RunKind::Pei) | RunBit(RunKind::Dxe);
inline constexpr unsigned RequestRuns = RunBit(RunKind::Decode) | RunBit(RunKind::Window);
// What the early-init module runs: its entry and its two decode operations.
inline constexpr unsigned EarlyInitRuns = RunBit(RunKind::Pei) | RequestRuns;
inline constexpr unsigned AllRuns = EarlyInitRuns | RunBit(RunKind::Dxe);

// "pei", "pei and dxe", "pei, decode and window": the runs in a set, in table order.
std::string RunNames(unsigned Runs);

} // namespace sim
