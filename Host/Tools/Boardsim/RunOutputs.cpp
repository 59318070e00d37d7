#include "RunOutputs.h"

namespace boardsim {

RunOutputs AddRunOutputs(tooloutput::OutputSet &Outputs, const Invocation &Asked) {
  RunOutputs Made;
  if (!Asked.TracePath.empty()) {
    Made.Trace = &Outputs.add("--trace", Asked.TracePath);
  }
  if (!Asked.JsonPath.empty()) {
    Made.Json = &Outputs.add("--json", Asked.JsonPath);
  }
  if (!Asked.TraceEventsPath.empty()) {
    Made.TraceEvents = &Outputs.add("--trace-events", Asked.TraceEventsPath);
  }
  const auto ToStandardOutput = [](const tooloutput::Output *Each) {
    return Each != nullptr && Each->toStandardOutput();
  };
  const bool Quiet = ToStandardOutput(Made.Trace) || ToStandardOutput(Made.Json) ||
                     ToStandardOutput(Made.TraceEvents);
  Made.Report = Quiet ? nullptr : &Outputs.standardOutput();
  return Made;
}

sim::TraceObserver TraceSink(tooloutput::Output &Trace, const sim::Board &Source) {
  Trace.write(sim::TraceFileHeader);
  Trace.write("\n");
  return [&Trace, &Source](const sim::TraceRecord &Record) {
    Trace.write(sim::FormatRecord(Record));
    if (Record.Kind != sim::AccessKind::Note) {
      if (const sim::AccessSite *Site = Source.accessSource()) {
        Trace.write(sim::WhereMark);
        Trace.write(sim::FormatSite(*Site));
      }
    }
    Trace.write("\n");
  };
}

} // namespace boardsim
