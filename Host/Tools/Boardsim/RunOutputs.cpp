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
  const bool Quiet = (Made.Trace != nullptr && Made.Trace->toStandardOutput()) ||
                     (Made.Json != nullptr && Made.Json->toStandardOutput());
  Made.Report = Quiet ? nullptr : &Outputs.standardOutput();
  return Made;
}

sim::TraceObserver TraceSink(tooloutput::Output &Trace) {
  Trace.write(sim::TraceFileHeader);
  Trace.write("\n");
  return [&Trace](const sim::TraceRecord &Record) {
    Trace.write(sim::FormatRecord(Record));
    Trace.write("\n");
  };
}

} // namespace boardsim
