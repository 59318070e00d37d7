// What one boardsim run produced, besides the board's own state.
#pragma once

#include "Board.h"
#include "BoardTime.h"
#include "ModuleRuns.h"
#include "RunFacts.h"
#include "RunKinds.h"

#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace boardsim {

// The run: the subcommand that made it.
using Module = sim::RunKind;

struct RunReport {
  Module Which = Module::Pei;
  std::string ScenarioName; // empty without --scenario
  std::string ImagePath;    // the shipped image that ran, when one did
  runs::RunResult Result;
  RunFacts Facts;
  std::set<std::size_t> DecodeChangedIn; // calls in which a decode register changed
  BoardTime Time;
};

const char *ModuleName(Module Which);

// The two groups of accesses the summary and the JSON count, with the JSON's keys.
struct AccessGroupKind {
  sim::AccessKind Kind;
  const char *Key;
};
inline constexpr AccessGroupKind BusKinds[] = {{sim::AccessKind::PortIn, "port_in"},
                                               {sim::AccessKind::PortOut, "port_out"},
                                               {sim::AccessKind::MemRead, "mem_read"},
                                               {sim::AccessKind::MemWrite, "mem_write"}};
inline constexpr AccessGroupKind ProcessorKinds[] = {{sim::AccessKind::Flags, "flags"},
                                                     {sim::AccessKind::Cli, "cli"},
                                                     {sim::AccessKind::Sti, "sti"},
                                                     {sim::AccessKind::Pause, "pause"},
                                                     {sim::AccessKind::Rdtsc, "rdtsc"}};

// The names of the settings' choices, as the command line takes them and the JSON gives them.
inline constexpr std::pair<const char *, sim::SpiPresence> SpiPresenceNames[] = {
    {"present", sim::SpiPresence::Present},
    {"absent", sim::SpiPresence::Absent},
    {"dead", sim::SpiPresence::Dead}};
inline constexpr std::pair<const char *, sim::SmmMode> SmmModeNames[] = {
    {"absent", sim::SmmMode::Absent},
    {"outside", sim::SmmMode::Outside},
    {"inside", sim::SmmMode::Inside},
    {"null-interface", sim::SmmMode::NullInterface}};
// The module's entry call: its status width and its name.
sim::Operation EntryOperation(Module Which);

// The calls the summary and the JSON list as requests: the board table's SetIoDecode calls for
// pei, the given requests for decode and window (each with its nested calls after it).
std::vector<const sim::CallRecord *> RequestCalls(const RunReport &Report, const sim::Board &Board);

// dxe: whether the driver found the timer GUID HOB, as far as the run shows it; nullopt when it
// did not look (no HOB list) or the run hung before its first access.
std::optional<bool> TimerHobFound(const RunReport &Report);

std::string Summary(const RunReport &Report, const sim::Board &Board);
std::string JsonText(const RunReport &Report, const sim::Board &Board);

} // namespace boardsim
