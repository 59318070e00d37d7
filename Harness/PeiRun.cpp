#include "PeiRun.h"

#include "BoardInitPeiEntry.h"
#include "BoardTables.h"
#include "GenericIoRange.h"
#include "IoDecode.h"
#include "PeiStatus.h"

#include <cstdio>

namespace sim {
namespace {

std::string Hex(std::uint32_t Value, int Digits) {
  char Buffer[16];
  std::snprintf(Buffer, sizeof Buffer, "0x%0*X", Digits, static_cast<unsigned>(Value));
  return Buffer;
}

template <typename Request, typename Call, typename Describe>
RequestsRunResult RunRequests(Board &Target, std::span<const Request> Requests, Call &&Invoke,
                              Describe &&Text) {
  RequestsRunResult Result;
  const RunOutcome Outcome = RunOnBoard(Target, [&] {
    for (const Request &Each : Requests) {
      Target.annotate(Text(Each));
      Result.Statuses.push_back(Invoke(Each));
      Target.annotate("-> " + PeiStatusText(Result.Statuses.back()));
    }
  });
  Result.Hung = Outcome.Hung;
  Result.LastAccesses = Outcome.LastAccesses;
  return Result;
}

} // namespace

PeiRunResult RunPei(Board &Target) {
  PeiRunResult Result;
  const RunOutcome Outcome = RunOnBoard(Target, [&] {
    Target.annotate("BoardInitPeiEntry");
    Result.EntryStatus = BoardInitPeiEntry(nullptr, nullptr);
    Target.annotate("BoardInitPeiEntry returned " +
                    Hex(static_cast<std::uint32_t>(Result.EntryStatus), 1));
  });
  Result.Hung = Outcome.Hung;
  Result.LastAccesses = Outcome.LastAccesses;
  return Result;
}

RequestsRunResult RunDecodeRequests(Board &Target, std::span<const DecodeRequestRow> Requests) {
  return RunRequests(
      Target, Requests,
      [](const DecodeRequestRow &Row) { return SetIoDecode(Row.Port, Row.Size, Row.Attributes); },
      [](const DecodeRequestRow &Row) {
        return "SetIoDecode(" + Hex(Row.Port, 4) + ", " + Hex(Row.Size, 2) + ", " +
               Hex(Row.Attributes, 8) + ")";
      });
}

RequestsRunResult RunWindowRequests(Board &Target, std::span<const WindowRequest> Requests) {
  return RunRequests(
      Target, Requests,
      [](const WindowRequest &Window) { return SetGenericIoRange(Window.Port, Window.SizeWord); },
      [](const WindowRequest &Window) {
        return "SetGenericIoRange(" + Hex(Window.Port, 4) + ", " + Hex(Window.SizeWord, 4) + ")";
      });
}

RunOutcome RunScript(Board &Target, std::span<const IoScriptRow> Rows) {
  return RunOnBoard(Target, [&] { RunIoScript(Rows.data(), Rows.size()); });
}

std::span<const DecodeRequestRow> BoardDecodeTable() {
  return BoardTables::DecodeTable;
}
std::span<const IoScriptRow> BoardSuperIoScript() {
  return BoardTables::SuperIoScript;
}

std::string PeiStatusText(std::uint32_t Status) {
  switch (Status) {
  case Pei::EFI_SUCCESS:
    return "EFI_SUCCESS";
  case Pei::EFI_INVALID_PARAMETER:
    return "EFI_INVALID_PARAMETER";
  case Pei::EFI_UNSUPPORTED:
    return "EFI_UNSUPPORTED";
  case Pei::EFI_OUT_OF_RESOURCES:
    return "EFI_OUT_OF_RESOURCES";
  default:
    return Hex(Status, 8);
  }
}

} // namespace sim
