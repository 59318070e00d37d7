#include "RunRecord.h"

#include "Board.h"

#include <variant>

namespace runs {
namespace {

RunResult Dispatch(const ModuleRuns &Runs, sim::Board &Target, sim::RunKind What,
                   std::span<const DecodeRequestRow> Decode,
                   std::span<const WindowRequest> Window) {
  switch (What) {
  case sim::RunKind::Pei:
    return Runs.runPei(Target);
  case sim::RunKind::Dxe:
    return Runs.runDxe(Target);
  case sim::RunKind::Decode:
    return Runs.runDecodeRequests(Target, Decode);
  case sim::RunKind::Window:
    break;
  }
  return Runs.runWindowRequests(Target, Window);
}

} // namespace

RunRecord RecordRun(const ModuleRuns &Runs, sim::Board &Target, sim::RunKind What,
                    std::span<const DecodeRequestRow> Decode, std::span<const WindowRequest> Window,
                    std::span<const sim::TraceObserver> Sinks) {
  RunRecord Record;
  Record.Which = What;
  Record.Settings = Target.scenario();
  const std::size_t CallsBefore = Target.calls().size();
  const std::size_t TraceBefore = Target.trace().size();

  DecodeWatch Watch(Target);
  std::vector<std::size_t> Observers;
  for (const sim::TraceObserver &Sink : Sinks) {
    Observers.push_back(Target.addObserver(Sink));
  }
  Observers.push_back(Target.addObserver([&](const sim::TraceRecord &Made) {
    Record.Facts.observe(Made, &Target);
    Record.Time.observe(Made, &Target);
    Record.Sites.observe(Made, Target);
    Watch.observe(Made);
  }));
  Target.startPhase(); // each run has the whole step budget, and its own start
  Record.Result = Dispatch(Runs, Target, What, Decode, Window);
  for (const std::size_t Observer : Observers) {
    Target.removeObserver(Observer);
  }
  Record.Facts.finish();
  Record.Time.finish(Record.Result.Hung);

  Record.Calls.assign(Target.calls().begin() + static_cast<std::ptrdiff_t>(CallsBefore),
                      Target.calls().end());
  Record.Trace.assign(Target.trace().begin() + static_cast<std::ptrdiff_t>(TraceBefore),
                      Target.trace().end());
  Record.Start = Target.stateAtStart();
  Record.End = Target.state();
  for (const std::size_t Call : Watch.changedIn()) {
    if (Call >= CallsBefore) {
      Record.DecodeChangedIn.insert(Call - CallsBefore);
    }
  }
  if (What != sim::RunKind::Dxe) {
    Record.Decode = BuildDecodeMap(Record);
  }
  return Record;
}

std::vector<const sim::CallRecord *> RequestCalls(const RunRecord &Record) {
  std::vector<const sim::CallRecord *> Calls;
  for (const sim::CallRecord &Call : Record.Calls) {
    const bool Decode = std::holds_alternative<sim::SetIoDecodeCall>(Call.Made) ||
                        std::holds_alternative<sim::SetGenericIoRangeCall>(Call.Made);
    // The module's entry is depth 0; its requests are the calls it makes.
    const bool Wanted = Record.Which == sim::RunKind::Pei   ? Decode && Call.Depth >= 1
                        : Record.Which == sim::RunKind::Dxe ? false
                                                            : Decode;
    if (Wanted) {
      Calls.push_back(&Call);
    }
  }
  return Calls;
}

std::optional<bool> TimerHobFound(const RunRecord &Record) {
  const RunResult &Result = Record.Result;
  if (!Result.Dxe || !Result.Dxe->HobListFound) {
    return std::nullopt;
  }
  if (Record.Facts.interval()) {
    return false;
  }
  // The driver touches no hardware before the timer start-up, and the start-up touches none to
  // look for the HOB. So a run's first access tells: the SPI bring-up's device-ID read follows the
  // start-up that found the HOB; any other is the measuring interval's, whose time stamps a run
  // that hung early never reached. A run that hung before any access does not show it.
  if (!Result.Hung || Record.Facts.spiState() != SpiState::NotChecked) {
    return true;
  }
  return Result.LastAccesses.empty() ? std::nullopt : std::optional<bool>(false);
}

} // namespace runs
