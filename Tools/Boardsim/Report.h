// What one boardsim run produced, besides the board's own state.
#pragma once

#include "Board.h"
#include "PeiImageRunner.h"
#include "RunFacts.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace boardsim {

enum class Module { Pei, Dxe, Decode, Window };

struct DxeFacts {
  bool InSmm = false;
  bool HobListFound = false;
  std::size_t LocateProtocolCalls = 0;
  std::size_t InSmmCalls = 0;
};

// A run of the shipped image instead of the host build.
struct ImageReport {
  std::string Path;
  imagerun::ImageFacts Facts;
};

struct RunReport {
  Module Which = Module::Pei;
  std::string ScenarioName;                 // empty without --scenario
  std::optional<std::uint64_t> EntryStatus; // pei and dxe
  std::vector<std::uint32_t> Results;       // decode and window: one per finished request
  std::vector<std::string> Requests;        // decode and window: the requests as given
  bool Hung = false;
  std::vector<sim::TraceRecord> LastAccesses; // a hung run's
  std::vector<std::string> Running;           // the calls a hung run was in, outermost first
  std::optional<DxeFacts> Dxe;
  std::optional<ImageReport> Image;
  RunFacts Facts;
};

const char *ModuleName(Module Which);
// The module's native status width: 32 bits for the early-init module, 64 for the driver.
unsigned StatusBits(Module Which);

// The calls the summary and the JSON list as requests: the board table's SetIoDecode calls for
// pei, the given requests for decode and window (each with its nested calls after it).
std::vector<const sim::CallRecord *> RequestCalls(const RunReport &Report, const sim::Board &Board);

std::string Summary(const RunReport &Report, const sim::Board &Board);
std::string JsonText(const RunReport &Report, const sim::Board &Board);

} // namespace boardsim
