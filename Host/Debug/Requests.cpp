#include "Requests.h"

#include "PacketCodec.h"
#include "StopReply.h"

namespace gdbremote {

namespace {

// What the server offers; gdb reads these from qSupported before anything else.
constexpr std::string_view Supported = "PacketSize=4000;QStartNoAckMode+;qXfer:features:read+;"
                                       "swbreak+;hwbreak+;ReverseStep+;ReverseContinue+";
static_assert(MaxPacketPayload == 0x4000, "PacketSize above is the payload limit in hex");
constexpr std::string_view ContActions = "vCont;c;C;s;S";
constexpr std::string_view AnyThread = "-1";
constexpr char SoftwareBreakpoint = '0';
constexpr char HardwareBreakpoint = '1';

bool startsWith(std::string_view Text, std::string_view Prefix) {
  return Text.substr(0, Prefix.size()) == Prefix;
}

// A vCont action "a[:thread]" applies to the machine's one thread unless it names another.
bool appliesToOurThread(std::string_view Action) {
  const auto Colon = Action.find(':');
  if (Colon == std::string_view::npos)
    return true;
  const std::string_view Thread = Action.substr(Colon + 1);
  if (Thread == AnyThread)
    return true;
  const auto Ours = parseHexNumber(ThreadId);
  return parseHexNumber(Thread) == Ours;
}

// "vCont;ACTION[:THREAD];...": the first action for our thread decides.
std::optional<Resume> contAction(std::string_view Actions) {
  while (!Actions.empty()) {
    Actions.remove_prefix(1); // the ';' before each action
    const auto End = Actions.find(';');
    const std::string_view Action = Actions.substr(0, End);
    Actions = End == std::string_view::npos ? std::string_view() : Actions.substr(End);
    if (Action.empty() || !appliesToOurThread(Action))
      continue;
    if (Action[0] == 'c' || Action[0] == 'C')
      return Resume::Continue;
    if (Action[0] == 's' || Action[0] == 'S')
      return Resume::Step;
    return std::nullopt;
  }
  return std::nullopt;
}

Outcome reply(std::string_view Text) {
  return {std::string(Text), std::nullopt, false};
}
Outcome resume(Resume Action) {
  return {std::nullopt, Action, false};
}

} // namespace

Outcome Requests::handle(std::string_view Payload, Target *Machine, const std::string &StopReply) {
  if (Payload.empty())
    return reply("");
  const char Kind = Payload[0];
  const std::string_view Rest = Payload.substr(1);
  const bool Resuming = Kind == 'c' || Kind == 'C' || Kind == 's' || Kind == 'S' || Kind == 'b' ||
                        startsWith(Payload, "vCont;");
  // Once the run has ended there is nothing to resume: gdb gets the end again.
  if (!Machine && Resuming)
    return reply(StopReply);
  switch (Kind) {
  case '?':
    return reply(StopReply);
  // The signal of C and S and the resume address of c and s are not the machine's to take: it
  // runs on from where it stopped. gdb sends neither to a target like this one.
  case 'c':
  case 'C':
    return resume(Resume::Continue);
  case 's':
  case 'S':
    return resume(Resume::Step);
  case 'b':
    if (Rest == "c")
      return resume(Resume::ReverseContinue);
    if (Rest == "s")
      return resume(Resume::ReverseStep);
    return reply("");
  case 'k':
    return resume(Resume::Kill);
  case 'D':
    return {std::string(Okay), Resume::Detach, false};
  case 'H':
  case 'T':
    return reply(Okay);
  case 'Z':
  case 'z':
    return reply(breakpoint(Payload));
  case 'q':
    return reply(query(Payload, Machine));
  case 'Q':
    if (Payload == "QStartNoAckMode")
      return {std::string(Okay), std::nullopt, true};
    return reply("");
  case 'v':
    if (Payload == "vCont?")
      return reply(ContActions);
    if (startsWith(Payload, "vCont;")) {
      const auto Action = contAction(Payload.substr(std::string_view("vCont").size()));
      return Action ? resume(*Action) : reply(ErrorBadPacket);
    }
    if (startsWith(Payload, "vKill"))
      return {std::string(Okay), Resume::Kill, false};
    return reply("");
  default:
    break;
  }
  const bool NeedsMachine = Kind == 'g' || Kind == 'G' || Kind == 'p' || Kind == 'P' ||
                            Kind == 'm' || Kind == 'M' || Kind == 'X';
  if (!NeedsMachine)
    return reply("");
  if (!Machine)
    return reply(ErrorNoMachine);
  switch (Kind) {
  case 'g':
    return reply(readRegisters(*Machine));
  case 'G':
    return reply(writeRegisters(*Machine, Rest));
  case 'p':
    return reply(readRegister(*Machine, Rest));
  case 'P':
    return reply(writeRegister(*Machine, Rest));
  case 'm':
    return reply(readMemory(*Machine, Rest));
  case 'M':
    return reply(writeMemoryHex(*Machine, Rest));
  default:
    return reply(writeMemoryBinary(*Machine, Rest));
  }
}

std::string Requests::query(std::string_view Payload, Target *Machine) {
  if (startsWith(Payload, "qSupported"))
    return std::string(Supported);
  if (startsWith(Payload, "qXfer:features:read:")) {
    if (!Machine)
      return std::string(ErrorNoMachine);
    return readFeatures(Machine->architecture(),
                        Payload.substr(std::string_view("qXfer:features:read:").size()));
  }
  // Attached: when gdb quits it detaches, and the run goes on to its end.
  if (Payload == "qAttached" || startsWith(Payload, "qAttached:"))
    return "1";
  if (Payload == "qC")
    return "QC" + std::string(ThreadId);
  if (Payload == "qfThreadInfo")
    return "m" + std::string(ThreadId);
  if (Payload == "qsThreadInfo")
    return "l";
  if (startsWith(Payload, "qSymbol"))
    return std::string(Okay);
  // qOffsets, qTStatus and the rest: the empty reply says "not supported", which gdb takes.
  return "";
}

// "Z0,ADDRESS,KIND[;...]" and the same with 'z' to remove; 0 and 1 (software and hardware) are
// one set of addresses where the machine stops.
std::string Requests::breakpoint(std::string_view Payload) {
  if (Payload.size() < 2 || (Payload[1] != SoftwareBreakpoint && Payload[1] != HardwareBreakpoint))
    return "";
  const std::string_view Fields = Payload.substr(2);
  const auto Comma = Fields.find(',', 1);
  if (Fields.empty() || Fields[0] != ',' || Comma == std::string_view::npos)
    return std::string(ErrorBadPacket);
  const auto Address = parseHexNumber(Fields.substr(1, Comma - 1));
  if (!Address)
    return std::string(ErrorBadPacket);
  if (Payload[0] == 'Z')
    Breakpoints.insert(*Address);
  else
    Breakpoints.erase(*Address);
  return std::string(Okay);
}

} // namespace gdbremote
