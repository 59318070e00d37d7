// Why the machine stopped, as the server reports it to gdb, and what gdb asks next.
#pragma once

#include <cstdint>

namespace gdbremote {

// gdb's own signal numbers, the ones a stop reply carries.
enum class Signal : std::uint8_t {
  Interrupt = 0x02,
  IllegalInstruction = 0x04,
  Trap = 0x05,
  BusError = 0x0a,
  SegmentationFault = 0x0b,
  CpuTimeExceeded = 0x18,
};

enum class StopKind {
  Step,        // a step finished (forward or reverse)
  Breakpoint,  // execution reached an inserted breakpoint
  ReplayBegin, // reverse execution reached the start of the recorded run
  ReplayEnd,   // forward execution reached the end of the recorded run
  Fault,       // the machine faulted; FaultSignal says how
  Hung,        // the run spent its budget without progress
  Interrupt,   // gdb asked to stop (interruptRequested)
};

struct StopReason {
  StopKind Kind = StopKind::Step;
  Signal FaultSignal = Signal::SegmentationFault; // read for Fault only
};

enum class Resume {
  Continue,
  Step,
  ReverseContinue,
  ReverseStep,
  Kill,   // end the run now
  Detach, // run on to the end without the debugger (also after gdb disconnected)
};

} // namespace gdbremote
