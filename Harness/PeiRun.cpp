#include "PeiRun.h"

#include "BoardInitPeiEntry.h"
#include "BoardTables.h"
#include "GenericIoRange.h"
#include "IoDecode.h"

#include <cstdio>

// The early-init module's own calls to SetIoDecode and SetGenericIoRange reach these wrappers
// (the harness links with --wrap for both), so every call, from the module or from a harness
// request, shows in the trace with its arguments and its result, and the module stays as it ships.
Pei::Status RealSetIoDecode(std::uint16_t Port, std::uint8_t Size,
                            std::uint32_t Attributes) asm("__real__Z11SetIoDecodethj");
Pei::Status RealSetGenericIoRange(std::uint16_t Port,
                                  std::uint16_t SizeWord) asm("__real__Z17SetGenericIoRangett");
Pei::Status WrapSetIoDecode(std::uint16_t Port, std::uint8_t Size,
                            std::uint32_t Attributes) asm("__wrap__Z11SetIoDecodethj");
Pei::Status WrapSetGenericIoRange(std::uint16_t Port,
                                  std::uint16_t SizeWord) asm("__wrap__Z17SetGenericIoRangett");

namespace sim {
namespace {

// The module's statuses are 32 bits wide.
constexpr unsigned StatusBits = 32;

template <typename Request, typename Call>
RequestsRunResult RunRequests(Board &Target, std::span<const Request> Requests, Call &&Invoke) {
  RequestsRunResult Result;
  const RunOutcome Outcome = RunOnBoard(Target, [&] {
    for (const Request &Each : Requests) {
      Result.Statuses.push_back(Invoke(Each));
    }
  });
  Result.Hung = Outcome.Hung;
  Result.LastAccesses = Outcome.LastAccesses;
  Result.Running = Outcome.Running;
  return Result;
}

} // namespace

std::string DecodeRequestText(std::uint16_t Port, std::uint8_t Size, std::uint32_t Attributes) {
  return HexText(Port, 4) + ", " + HexText(Size, 2) + ", " + HexText(Attributes, 8);
}

std::string WindowRequestText(std::uint16_t Port, std::uint16_t SizeWord) {
  return HexText(Port, 4) + ", " + HexText(SizeWord, 4);
}

PeiRunResult RunPei(Board &Target) {
  PeiRunResult Result;
  const RunOutcome Outcome = RunOnBoard(Target, [&] {
    const std::size_t Call = Target.enterCall("BoardInitPeiEntry", {}, "FileHandle, PeiServices");
    Result.EntryStatus = BoardInitPeiEntry(nullptr, nullptr);
    Target.returnCall(Call, Result.EntryStatus, FormatStatus(Result.EntryStatus, StatusBits));
  });
  Result.Hung = Outcome.Hung;
  Result.LastAccesses = Outcome.LastAccesses;
  Result.Running = Outcome.Running;
  return Result;
}

RequestsRunResult RunDecodeRequests(Board &Target, std::span<const DecodeRequestRow> Requests) {
  return RunRequests(Target, Requests, [](const DecodeRequestRow &Row) {
    return SetIoDecode(Row.Port, Row.Size, Row.Attributes);
  });
}

RequestsRunResult RunWindowRequests(Board &Target, std::span<const WindowRequest> Requests) {
  return RunRequests(Target, Requests, [](const WindowRequest &Window) {
    return SetGenericIoRange(Window.Port, Window.SizeWord);
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

} // namespace sim

Pei::Status WrapSetIoDecode(std::uint16_t Port, std::uint8_t Size, std::uint32_t Attributes) {
  sim::Board &Target = sim::BoundBoard();
  const std::size_t Call = Target.enterCall("SetIoDecode", {Port, Size, Attributes},
                                            sim::DecodeRequestText(Port, Size, Attributes));
  const Pei::Status Status = RealSetIoDecode(Port, Size, Attributes);
  Target.returnCall(Call, Status, sim::FormatStatus(Status, sim::StatusBits));
  return Status;
}

Pei::Status WrapSetGenericIoRange(std::uint16_t Port, std::uint16_t SizeWord) {
  sim::Board &Target = sim::BoundBoard();
  const std::size_t Call = Target.enterCall("SetGenericIoRange", {Port, SizeWord},
                                            sim::WindowRequestText(Port, SizeWord));
  const Pei::Status Status = RealSetGenericIoRange(Port, SizeWord);
  Target.returnCall(Call, Status, sim::FormatStatus(Status, sim::StatusBits));
  return Status;
}
