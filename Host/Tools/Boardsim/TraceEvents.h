// A run written as the trace-event JSON that Perfetto and Chrome's trace viewer open: the calls
// as slices, each access as an instant event and the PM timer as a counter, all on board time
// (the PM timer's ticks the firmware has read so far, in microseconds; the board's timer
// advances only when read, so everything between two readings stands at one time).
#pragma once

#include "BoardTime.h"
#include "ToolOutput.h"
#include "Trace.h"

#include <cstdint>
#include <string>
#include <vector>

namespace boardsim {

class TraceEvents {
public:
  // Writes the file's opening and the names of the process and of its one thread (Thread: "pei,
  // the host build").
  TraceEvents(tooloutput::Output &Out, const std::string &Thread);
  TraceEvents(const TraceEvents &) = delete;
  TraceEvents &operator=(const TraceEvents &) = delete;

  // One record of the run, as it is made.
  void observe(const sim::TraceRecord &Record);
  // Ends every slice still open (a hung run's calls) at the last time, and closes the file.
  void finish();

private:
  void event(const std::string &Name, char Phase, const std::string &Extra = "");
  double now() const;

  tooloutput::Output &Out_;
  runs::BoardTime Time_;
  std::vector<std::string> Open_; // the calls in progress, outermost first
  bool First_ = true;
  bool Finished_ = false;
};

} // namespace boardsim
