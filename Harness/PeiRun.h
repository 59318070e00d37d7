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
  std::vector<TraceRecord> LastAccesses; // the final records of a hung run
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
};

// Each request in order, with an annotation line in the trace before each one.
RequestsRunResult RunDecodeRequests(Board &Target, std::span<const DecodeRequestRow> Requests);
RequestsRunResult RunWindowRequests(Board &Target, std::span<const WindowRequest> Requests);
RunOutcome RunScript(Board &Target, std::span<const IoScriptRow> Rows);

// The board's own tables, as the module holds them.
std::span<const DecodeRequestRow> BoardDecodeTable();
std::span<const IoScriptRow> BoardSuperIoScript();

// "EFI_SUCCESS", "EFI_UNSUPPORTED", ... for the module's 32-bit status values; hex otherwise.
std::string PeiStatusText(std::uint32_t Status);

} // namespace sim
