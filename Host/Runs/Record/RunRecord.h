// One run of a module on the simulated board, as one value: what it ran on (the settings), what it
// called, its trace (unless a sink took it), every device at its first access and at its end, and
// what came of it. The facts that reports give are read off the records while the run makes them
// and stored here once; the summary, the JSON, compare and the fuzz checks read this value and the
// board model, never a live board.
#pragma once

#include "AccessSites.h"
#include "BoardState.h"
#include "BoardTime.h"
#include "CallRecord.h"
#include "DecodeMap.h"
#include "DecodeRequest.h"
#include "ModuleRuns.h"
#include "RunFacts.h"
#include "RunKinds.h"
#include "Scenario.h"
#include "Trace.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace sim {
class Board;
}

namespace runs {

struct RunRecord {
  sim::RunKind Which = sim::RunKind::Pei;
  sim::Scenario Settings;
  std::string ScenarioName; // the named scenario the settings came from; empty for none
  std::string ImagePath;    // the shipped image that ran, when one did
  // The calls the run made (entered, or made and returned at once), in the order it made them.
  std::vector<sim::CallRecord> Calls;
  // The run's records, when its board keeps the trace; empty when they went to a sink only.
  std::vector<sim::TraceRecord> Trace;
  sim::BoardState Start; // the devices as the run found them at its first access
  sim::BoardState End;   // and as it left them
  RunResult Result;
  RunFacts Facts;
  BoardTime Time;
  AccessSites Sites; // where in the image the accesses were made; none for the host build
  // The calls (indices into Calls) during which a decode register changed.
  std::set<std::size_t> DecodeChangedIn;
  // Where the bridge decodes after a run of the early-init module; empty for the driver's run.
  DecodeMap Decode;

  // The accesses the run made (annotations left out).
  std::uint64_t accesses() const { return End.Accesses - Start.Accesses; }
  std::uint64_t count(sim::AccessKind Kind) const { return End.count(Kind) - Start.count(Kind); }
};

// Makes the run of What on Target (Decode or Window its requests) and records it. Sinks see every
// record as it is made, and may outlive the run; the board's own observers see them too. The board
// may have run before (a boot's earlier phase): the record holds this run's calls and trace, and
// the step budget counts from its start.
RunRecord RecordRun(const ModuleRuns &Runs, sim::Board &Target, sim::RunKind What,
                    std::span<const DecodeRequestRow> Decode = {},
                    std::span<const WindowRequest> Window = {},
                    std::span<const sim::TraceObserver> Sinks = {});

// The calls that count as the run's requests: the board table's SetIoDecode calls for pei (with
// the windows they open), the given requests for decode and window (each with its nested calls
// after it); none for dxe.
std::vector<const sim::CallRecord *> RequestCalls(const RunRecord &Record);

// dxe: whether the driver found the timer GUID HOB, as far as the run shows it; nullopt when it
// did not look (no HOB list) or the run hung before its first access.
std::optional<bool> TimerHobFound(const RunRecord &Record);

} // namespace runs
