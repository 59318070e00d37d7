// A module's accesses on the emulated q35 machine against the host build's run of the same module,
// access for access: the values each read got on q35 are the simulated board's answers, in order,
// so the host build takes the paths the shipped image took there, and any record where the two
// part shows where the firmware's behaviour on QEMU's devices and on the board model differ.
//
// What is compared: every port and device-memory access, its direction, width, address and value.
// What is left out: the processor's events (flags, CLI/STI, PAUSE, RDTSC), which QEMU does not log
// as accesses, and the driver's calls into its firmware (the boot program's services on q35, the
// DXE stand-in on the board), which make no hardware access. An access no q35 region claims is
// logged without its value, so its value is not compared (its read was answered with the value
// QEMU gives it, UnclaimedReadValue).
#pragma once

#include "ModuleRuns.h"
#include "QemuTraceLog.h"
#include "RunKinds.h"
#include "Scenario.h"
#include "Trace.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace q35 {

// Each read's value, little-endian at its width, in order: the board's answers.
std::vector<std::uint8_t> ReadAnswers(const std::vector<LoggedAccess> &Accesses);

// Whether a q35 access and a host-build record are the same access (the value only when the log
// holds it).
bool SameAccess(const LoggedAccess &OnQ35, const sim::TraceRecord &OnBoard);

// The index of the first pair that differs, or of the first access one side has and the other
// lacks; nullopt when the sequences agree throughout.
std::optional<std::size_t> FirstDifference(const std::vector<LoggedAccess> &OnQ35,
                                           const std::vector<sim::TraceRecord> &OnBoard);

struct PhaseComparison {
  sim::RunKind Which = sim::RunKind::Pei;
  std::vector<LoggedAccess> Q35;
  std::vector<sim::TraceRecord> HostBuild; // the host build's port and memory accesses, in order
  std::optional<std::size_t> Differs;      // the first record where the two part
  std::size_t AnswerBytes = 0;             // given to the board
  std::size_t AnswerBytesUsed = 0;         // taken by the host build's reads
  bool HostHung = false;
  std::optional<std::uint64_t> HostStatus; // the host build's entry status, when it returned

  bool same() const { return !Differs; }
  // Records compared in full, and compared without their value (not in the log).
  std::size_t valuesNotLogged() const;
};

// Who answers the host build's reads: q35's values (the comparison of the firmware's behaviour),
// or the board model's devices (where the model and QEMU's devices part).
enum class Answers { FromQ35, FromBoardModel };

// Runs What on a board with Settings through Runs (the host build), every read answered as Given
// says, and compares its accesses with Q35's.
PhaseComparison ComparePhase(const runs::ModuleRuns &Runs, sim::RunKind What,
                             const sim::Scenario &Settings, std::vector<LoggedAccess> Q35,
                             Answers Given = Answers::FromQ35);

// "BoardInitPei: 301 accesses on q35, 301 on the host build; they agree" and the counts, or the
// first difference with the records around it on both sides (each q35 record with its log line).
std::string ReportText(const PhaseComparison &Compared);

} // namespace q35
