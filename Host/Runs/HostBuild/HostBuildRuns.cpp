#include "HostBuildRuns.h"

#include "BoardInitDxe/DxeEntry.h"
#include "BoardInitDxe/DxeModuleData.h"
#include "BoardInitDxe/FormatBuffer.h"
#include "BoardInitDxe/StatusCodeName.h"
#include "BoardInitPeiEntry.h"
#include "BoardTables.h"
#include "DxeEnvironment.h"
#include "GenericIoRange.h"
#include "IoDecode.h"
#include "PmTimer.h"
#include "TableFit.h"
#include "WritableTables.h"

#include <array>
#include <functional>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <vector>

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

namespace {

static_assert(hostbuild::DecodeTableRows == BoardTables::DecodeTableRows);
static_assert(hostbuild::SuperIoScriptRows == BoardTables::SuperIoScriptRows);

// The rows the run gives, in the firmware's row layout; the module's own table where it gives
// none.
std::vector<DecodeRequestRow> DecodeRows(const sim::TableRows &Given) {
  if (!Given.Decode) {
    return {std::begin(BoardTables::DecodeTable), std::end(BoardTables::DecodeTable)};
  }
  std::vector<DecodeRequestRow> Rows;
  for (const sim::DecodeTableRow &Row : *Given.Decode) {
    Rows.push_back({Row.Port, Row.Size, 0, Row.Attributes});
  }
  return Rows;
}

std::vector<IoScriptRow> ScriptRows(const sim::TableRows &Given) {
  if (!Given.Script) {
    return {std::begin(BoardTables::SuperIoScript), std::end(BoardTables::SuperIoScript)};
  }
  std::vector<IoScriptRow> Rows;
  for (const sim::ScriptTableRow &Row : *Given.Script) {
    Rows.push_back({Row.Port, Row.AndMask, Row.OrValue});
  }
  return Rows;
}

// Makes a call of firmware code on the bound board, annotated on entry and on return.
template <typename Call> auto Annotated(sim::Operation Made, Call &&Invoke) {
  sim::Board &Target = sim::BoundBoard();
  const std::size_t Handle = Target.enterCall(std::move(Made));
  const auto Status = Invoke();
  Target.returnCall(Handle, Status);
  return Status;
}

// Runs Body with the primitives bound to Target; a run out of steps is reported as hung.
runs::RunResult OnBoard(sim::Board &Target, const std::function<void(runs::RunResult &)> &Body) {
  runs::RunResult Result;
  static_cast<sim::RunOutcome &>(Result) = sim::RunOnBoard(Target, [&] { Body(Result); });
  return Result;
}

template <typename Request, typename Call>
runs::RunResult RunRequests(sim::Board &Target, std::span<const Request> Requests, Call &&Invoke) {
  return OnBoard(Target, [&](runs::RunResult &Result) {
    for (const Request &Each : Requests) {
      Result.Statuses.push_back(Invoke(Each));
    }
  });
}

class HostBuildRuns final : public runs::ModuleRuns {
public:
  runs::Implementation implementation() const override { return runs::Implementation::HostBuild; }

  // With rows given, the entry compiled against writable tables runs, with those rows in them.
  runs::RunResult runPei(sim::Board &Target) const override {
    const sim::TableRows &Given = Target.scenario().Tables;
    if (!Given.replaces()) {
      return OnBoard(Target, [](runs::RunResult &Result) {
        Result.EntryStatus =
            Annotated(sim::PeiEntryCall{}, [] { return BoardInitPeiEntry(nullptr, nullptr); });
      });
    }
    runs::CheckHostBuildTables(Given);
    const std::vector<DecodeRequestRow> Decode = DecodeRows(Given);
    const std::vector<IoScriptRow> Script = ScriptRows(Given);
    return OnBoard(Target, [&](runs::RunResult &Result) {
      Result.EntryStatus =
          Annotated(sim::PeiEntryCall{}, [&] { return hostbuild::EntryOnRows(Decode, Script); });
    });
  }

  // Loads the driver afresh (zeroed module data) and calls its entry with a system table built
  // from the board's scenario.
  runs::RunResult runDxe(sim::Board &Target) const override {
    Target.startAfterEarlyInit();
    gDxeModuleData = {};
    sim::DxeEnvironment Environment(Target.scenario().Firmware);
    // Any handle will do: the driver does not use its own.
    static int ImageHandleStandIn;
    runs::RunResult Result = OnBoard(Target, [&](runs::RunResult &Run) {
      Run.EntryStatus = Annotated(sim::DxeEntryCall{}, [&] {
        return BoardInitDxeEntry(&ImageHandleStandIn, Environment.systemTable());
      });
    });
    Result.Dxe = runs::DxeFacts{gDxeModuleData.HobList != nullptr, gDxeModuleData.InSmm != 0,
                                Environment.locateProtocolCalls(), Environment.inSmmCalls()};
    return Result;
  }

  runs::RunResult runDecodeRequests(sim::Board &Target,
                                    std::span<const DecodeRequestRow> Requests) const override {
    return RunRequests(Target, Requests, [](const DecodeRequestRow &Row) {
      return SetIoDecode(Row.Port, Row.Size, Row.Attributes);
    });
  }

  runs::RunResult runWindowRequests(sim::Board &Target,
                                    std::span<const runs::WindowRequest> Requests) const override {
    return RunRequests(Target, Requests, [](const runs::WindowRequest &Window) {
      return SetGenericIoRange(Window.Port, Window.SizeWord);
    });
  }

  // The slots through one variadic call; each reference in an allocation of its own, the format
  // in one that ends with its NUL.
  runs::FormatResult runFormat(sim::Board &Target, const runs::FormatCall &Call) const override {
    if (Call.Arguments.size() > runs::FormatSlots) {
      throw std::invalid_argument("format run: more arguments than slots");
    }
    std::array<std::uint64_t, runs::FormatSlots> S{};
    std::vector<std::vector<std::uint8_t>> Placed;
    Placed.reserve(Call.Arguments.size());
    for (std::size_t Slot = 0; Slot < Call.Arguments.size(); ++Slot) {
      const runs::FormatArgument &Each = Call.Arguments[Slot];
      if (!Each.Bytes) {
        S[Slot] = Each.Value;
        continue;
      }
      std::vector<std::uint8_t> &Bytes = Placed.emplace_back(Each.Misalign, 0);
      Bytes.insert(Bytes.end(), Each.Bytes->begin(), Each.Bytes->end());
      S[Slot] = reinterpret_cast<std::uintptr_t>(Bytes.data() + Each.Misalign);
    }
    const auto Format = std::make_unique<char[]>(Call.Format.size() + 1);
    std::copy(Call.Format.begin(), Call.Format.end(), Format.get());
    const std::size_t Room = runs::FormatRoomFor(Call.Capacity);
    runs::FormatResult Out;
    Out.Buffer.assign(Room + runs::FormatGuardBytes, runs::FormatPaint);
    char *Buffer = Call.NullBuffer ? nullptr : reinterpret_cast<char *>(Out.Buffer.data());
    const char *Text = Call.NullFormat ? nullptr : Format.get();
    const auto Expand = [&](char *Into, std::uint64_t Capacity) {
      return FormatBuffer(Into, Capacity, Text, S[0], S[1], S[2], S[3], S[4], S[5], S[6], S[7],
                          S[8], S[9], S[10], S[11], S[12], S[13], S[14], S[15]);
    };
    if (Room != Call.Capacity && Buffer != nullptr && Text != nullptr) {
      // Unbounded: the text must be seen to fit the room before it is written there.
      std::vector<char> Probe(Room);
      if (Expand(Probe.data(), Room) + 1 >= Room) {
        throw std::length_error("format run: an unbounded text longer than the room");
      }
    }
    Out.Run =
        OnBoard(Target, [&](runs::RunResult &) { Out.Count = Expand(Buffer, Call.Capacity); });
    return Out;
  }

  runs::StatusNameResult runStatusName(sim::Board &Target, std::uint64_t Status) const override {
    runs::StatusNameResult Out;
    Out.Run = OnBoard(Target, [&](runs::RunResult &) {
      const char *Name = GetStatusCodeName(Status);
      Out.Returned = true;
      if (Name != nullptr) {
        Out.Name = Name;
      }
    });
    return Out;
  }

  runs::RunResult runScript(sim::Board &Target,
                            std::span<const sim::ScriptTableRow> Rows) const override {
    std::vector<IoScriptRow> Table;
    Table.reserve(Rows.size());
    for (const sim::ScriptTableRow &Row : Rows) {
      Table.push_back({Row.Port, Row.AndMask, Row.OrValue});
    }
    return OnBoard(Target, [&](runs::RunResult &) { RunIoScript(Table.data(), Table.size()); });
  }

  runs::DelayResult runDelay(sim::Board &Target, const runs::DelayCall &Call) const override {
    // The early-init module's counts are its machine's 32-bit words.
    const std::uint64_t Count = Call.Module == modules::ModuleId::BoardInitPei
                                    ? static_cast<std::uint32_t>(Call.Count)
                                    : Call.Count;
    runs::DelayResult Out;
    Out.Run = OnBoard(Target, [&](runs::RunResult &) {
      if (Call.Microseconds) {
        Out.Returned = DelayMicroseconds(static_cast<std::uintptr_t>(Count));
      } else {
        PmTimerDelayTicks(static_cast<std::uint32_t>(Count));
      }
    });
    return Out;
  }
};

} // namespace

void runs::CheckHostBuildTables(const sim::TableRows &Given) {
  if (Given.Decode) {
    CheckRowsFit(sim::BoardTable::Decode, Given.Decode->size(), sizeof BoardTables::DecodeTable,
                 "the host build's decode table");
  }
  if (Given.Script) {
    CheckRowsFit(sim::BoardTable::Script, Given.Script->size(), sizeof BoardTables::SuperIoScript,
                 "the host build's Super I/O script");
  }
}

sim::TableRows runs::HostBuildTables() {
  sim::TableRows Own;
  Own.Decode.emplace();
  for (const DecodeRequestRow &Row : BoardTables::DecodeTable) {
    Own.Decode->push_back({Row.Port, Row.Size, Row.Attributes});
  }
  Own.Script.emplace();
  for (const IoScriptRow &Row : BoardTables::SuperIoScript) {
    Own.Script->push_back({Row.Port, Row.AndMask, Row.OrValue});
  }
  return Own;
}

const runs::ModuleRuns &runs::HostBuild() {
  static const HostBuildRuns Runs;
  return Runs;
}

namespace sim {

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
  return Annotated(sim::SetIoDecodeCall{Port, Size, Attributes},
                   [&] { return RealSetIoDecode(Port, Size, Attributes); });
}

Pei::Status WrapSetGenericIoRange(std::uint16_t Port, std::uint16_t SizeWord) {
  return Annotated(sim::SetGenericIoRangeCall{Port, SizeWord},
                   [&] { return RealSetGenericIoRange(Port, SizeWord); });
}
