#include "StopReply.h"

#include "PacketCodec.h"

namespace gdbremote {

namespace {

constexpr unsigned StatusMask = 0xff;

Signal signalOf(const StopReason &Reason) {
  switch (Reason.Kind) {
  case StopKind::Fault:
    return Reason.FaultSignal;
  case StopKind::Hung:
    return Signal::CpuTimeExceeded;
  case StopKind::Interrupt:
    return Signal::Interrupt;
  default:
    return Signal::Trap;
  }
}

} // namespace

std::string stopReply(const StopReason &Reason) {
  std::string Reply = "T" + hexByte(static_cast<std::uint8_t>(signalOf(Reason)));
  Reply += "thread:";
  Reply += ThreadId;
  Reply += ';';
  // swbreak tells gdb the stop is its own breakpoint, so it reports it as one and does not
  // take it for a signal of the program's.
  if (Reason.Kind == StopKind::Breakpoint)
    Reply += "swbreak:;";
  else if (Reason.Kind == StopKind::ReplayBegin)
    Reply += "replaylog:begin;";
  else if (Reason.Kind == StopKind::ReplayEnd)
    Reply += "replaylog:end;";
  return Reply;
}

std::string exitReply(int Code) {
  return "W" + hexByte(static_cast<std::uint8_t>(static_cast<unsigned>(Code) & StatusMask));
}

} // namespace gdbremote
