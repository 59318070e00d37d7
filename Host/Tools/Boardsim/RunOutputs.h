// The outputs of a run or a boot: the trace and the JSON where the command line asks for them,
// the report on standard output unless one of them goes there.
#pragma once

#include "Board.h"
#include "Options.h"
#include "ToolOutput.h"

namespace boardsim {

struct RunOutputs {
  tooloutput::Output *Trace = nullptr;
  tooloutput::Output *Json = nullptr;
  tooloutput::Output *TraceEvents = nullptr;
  tooloutput::Output *Report = nullptr; // standard output, unless the trace or the JSON goes there
};

// Adds the outputs Asked names to Outputs, before anything runs.
RunOutputs AddRunOutputs(tooloutput::OutputSet &Outputs, const Invocation &Asked);

// The sink that streams the trace to its output as the run makes it, a record a line after the
// file's header line (written here): memory stays bounded whatever the step budget. A run that
// can tell where each access was made (a shipped image's, on Source) ends its records' lines in a
// note of where.
sim::TraceObserver TraceSink(tooloutput::Output &Trace, const sim::Board &Source);

} // namespace boardsim
