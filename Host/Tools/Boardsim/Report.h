// The reports of one boardsim run, read from its record.
#pragma once

#include "RunKinds.h"
#include "RunRecord.h"

#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace boardsim {

// The run: the subcommand that made it.
using Module = sim::RunKind;

// The reports read a run's record and the facts stored in it under their own names.
using namespace runs;

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

// The summary a person reads; Verbose adds the details the JSON also gives (the decode registers,
// what each request asked and got, the registers changed, the Super I/O writes, each wait).
std::string Summary(const RunRecord &Report, bool Verbose = false);
std::string JsonText(const RunRecord &Report);

} // namespace boardsim
