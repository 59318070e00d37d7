// What one boardsim run produced, besides the board's own state.
#pragma once

#include "Board.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace boardsim {

enum class Module { Pei, Dxe, Decode, Window };

struct DxeFacts {
  bool InSmm = false;
  std::size_t LocateProtocolCalls = 0;
  std::size_t InSmmCalls = 0;
};

struct RunReport {
  Module Which = Module::Pei;
  std::optional<std::uint64_t> EntryStatus; // pei and dxe
  std::vector<std::uint32_t> Results;       // decode and window: one per finished request
  std::vector<std::string> Requests;        // decode and window: the requests as given
  bool Hung = false;
  std::vector<sim::TraceRecord> LastAccesses;
  std::optional<DxeFacts> Dxe;
};

const char *ModuleName(Module Which);
// The status by name ("EFI_SUCCESS"), with the value in hexadecimal when it has no name.
std::string StatusText(const RunReport &Report, std::uint64_t Status);

std::string Summary(const RunReport &Report, const sim::Board &Board);
std::string JsonText(const RunReport &Report, const sim::Board &Board);

} // namespace boardsim
