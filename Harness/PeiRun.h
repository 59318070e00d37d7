// Runs the early-init module, or single requests of it, on the simulated board.
#pragma once

#include "Board.h"
#include "DecodeRequest.h"
#include "IoScript.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace sim {

struct PeiRunResult {
  std::uint64_t EntryStatus = 0; // meaningful only when the run did not hang
  bool Hung = false;
  std::vector<TraceRecord> LastAccesses; // the final accesses of a hung run
  std::vector<std::string> Running;      // the calls a hung run was in
};

// The whole module, as the PEI core enters it.
PeiRunResult RunPei(Board &Target);

// A generic-window request: port and size word, as SetGenericIoRange takes them.
struct WindowRequest {
  std::uint16_t Port = 0;
  std::uint16_t SizeWord = 0;
};

struct RequestsRunResult {
  std::vector<std::uint32_t> Statuses; // one per request that ran to its end, in order
  bool Hung = false;
  std::vector<TraceRecord> LastAccesses;
  std::vector<std::string> Running;
};

// Each request in order; every SetIoDecode and SetGenericIoRange call, whether the harness or the
// module makes it, is annotated in the trace on entry and on return.
RequestsRunResult RunDecodeRequests(Board &Target, std::span<const DecodeRequestRow> Requests);
RequestsRunResult RunWindowRequests(Board &Target, std::span<const WindowRequest> Requests);
RunOutcome RunScript(Board &Target, std::span<const IoScriptRow> Rows);

// The board's own tables, as the module holds them.
std::span<const DecodeRequestRow> BoardDecodeTable();
std::span<const IoScriptRow> BoardSuperIoScript();

// The arguments as the trace shows them: "0x03F8, 0x00, 0x00000006", "0x0A00, 0x0100".
std::string DecodeRequestText(std::uint16_t Port, std::uint8_t Size, std::uint32_t Attributes);
std::string WindowRequestText(std::uint16_t Port, std::uint16_t SizeWord);

} // namespace sim
