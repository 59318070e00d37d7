// The summary a person reads at a glance after a run.
#include "DecodeState.h"
#include "Report.h"
#include "SuperIoPorts.h"

#include "BoardInitDxe/StatusCodeName.h"

#include <cstdio>
#include <map>
#include <sstream>

namespace boardsim {
namespace {

std::string Hex(std::uint64_t Value, int Digits) {
  char Text[24];
  std::snprintf(Text, sizeof Text, "0x%0*llX", Digits, static_cast<unsigned long long>(Value));
  return Text;
}

std::string Pair(std::uint32_t Register, std::uint32_t Mirror, int Digits) {
  std::string Text = Hex(Register, Digits) + " | mirror " + Hex(Mirror, Digits);
  if (Register != Mirror) {
    Text += "  <-- MIRROR DIFFERS";
  }
  return Text;
}

void SerialConsole(std::ostringstream &Out, const std::string &Serial) {
  Out << "Serial console:\n";
  if (Serial.empty()) {
    Out << "  (nothing)\n";
    return;
  }
  std::string Line;
  for (const char Char : Serial) {
    if (Char == '\n') {
      Out << "  " << Line << "\n";
      Line.clear();
    } else if (Char != '\r') {
      Line += Char;
    }
  }
  if (!Line.empty()) {
    Out << "  " << Line << "\n";
  }
}

void IoDecode(std::ostringstream &Out, const sim::Board &Board) {
  const DecodeState State = ReadDecodeState(Board);
  Out << "I/O decode (bridge | private-configuration mirror):\n";
  Out << "  I/O Decode Ranges  " << Pair(State.IoDecodeRanges, State.IoDecodeRangesMirror, 4)
      << "\n    " << DescribeDecodeRanges(State.IoDecodeRanges, State.IoEnables) << "\n";
  Out << "  I/O Enables        " << Pair(State.IoEnables, State.IoEnablesMirror, 4) << "\n    "
      << DescribeEnables(State.IoEnables) << "\n";
  for (std::size_t ChipSelect = 0; ChipSelect < State.EspiIoEnables.size(); ++ChipSelect) {
    const std::uint16_t Value = State.EspiIoEnables[ChipSelect];
    if (Value != 0) {
      Out << "  eSPI CS" << ChipSelect + 1 << " I/O Enables " << Hex(Value, 4) << "\n    "
          << DescribeEnables(Value) << "\n";
    }
  }
  Out << "  Generic I/O windows:\n";
  bool Any = false;
  for (const GenericWindow &Window : State.Windows) {
    if (Window.Register == 0 && Window.Mirror == 0) {
      continue;
    }
    Any = true;
    Out << "    " << Window.Slot << ": " << DescribeWindow(Window.Register) << "  ("
        << Pair(Window.Register, Window.Mirror, 8) << ")\n";
  }
  if (!Any) {
    Out << "    (none open)\n";
  }
}

void SpiFrames(std::ostringstream &Out, const sim::Board &Board) {
  const auto &Frames = Board.spiFrames();
  Out << "SPI peripheral received " << Frames.size() << " frame" << (Frames.size() == 1 ? "" : "s")
      << (Frames.empty() ? "" : ":");
  for (const std::uint32_t Frame : Frames) {
    Out << " " << Hex(Frame, 4);
  }
  Out << "\n";
}

void SuperIo(std::ostringstream &Out, const sim::Board &Board) {
  const auto &Writes = Board.superIoWrites();
  Out << "Super I/O writes (" << Writes.size() << "):\n";
  if (Writes.empty()) {
    Out << "  (none)\n";
    return;
  }
  // The entry key counts only when the whole sequence leads the writes.
  std::size_t Index = 0;
  constexpr std::size_t KeyLength = sizeof SuperIo::EnterKey;
  bool Keyed = Writes.size() >= KeyLength;
  for (std::size_t Byte = 0; Keyed && Byte < KeyLength; ++Byte) {
    Keyed =
        Writes[Byte].first == SuperIo::IndexPort && Writes[Byte].second == SuperIo::EnterKey[Byte];
  }
  if (Keyed) {
    Out << "  enter configuration mode (key 0x87 0x01 0x55 0x55)\n";
    Index = KeyLength;
  }
  for (; Index < Writes.size(); ++Index) {
    const auto [Port, Value] = Writes[Index];
    const bool Pair = Port == SuperIo::IndexPort && Index + 1 < Writes.size() &&
                      Writes[Index + 1].first == SuperIo::DataPort;
    if (!Pair) {
      Out << "  write " << Hex(Port, 4) << " <- " << Hex(Value, 2) << "\n";
      continue;
    }
    const std::uint8_t Data = Writes[++Index].second;
    if (Value == SuperIo::Reg::LogicalDeviceSelect) {
      Out << "  select logical device " << Hex(Data, 2) << "\n";
    } else if (Value == SuperIo::Reg::ConfigControl &&
               (Data & SuperIo::ConfigControl::LeaveConfigMode) != 0) {
      Out << "  exit configuration mode (register 0x02 <- " << Hex(Data, 2) << ")\n";
    } else if (Value == SuperIo::Reg::Activate) {
      Out << "  register 0x30 (activate) <- " << Hex(Data, 2) << "\n";
    } else {
      Out << "  register " << Hex(Value, 2) << " <- " << Hex(Data, 2) << "\n";
    }
  }
}

void Accesses(std::ostringstream &Out, const sim::Board &Board) {
  std::map<std::string, std::size_t> ByKind;
  for (const sim::TraceRecord &Record : Board.trace()) {
    if (Record.Kind == sim::AccessKind::Note) {
      continue;
    }
    std::string Line = sim::FormatRecord(Record, false);
    ByKind[Line.substr(0, Line.find(' '))]++;
  }
  Out << "Accesses: " << sim::CountAccesses(Board.trace());
  const char *Separator = " (";
  for (const auto &[Kind, Count] : ByKind) {
    Out << Separator << Kind << " " << Count;
    Separator = ", ";
  }
  Out << (ByKind.empty() ? "" : ")") << "\n";
}

} // namespace

const char *ModuleName(Module Which) {
  switch (Which) {
  case Module::Pei:
    return "pei";
  case Module::Dxe:
    return "dxe";
  case Module::Decode:
    return "decode";
  case Module::Window:
    return "window";
  }
  return "?";
}

std::string StatusText(const RunReport &Report, std::uint64_t Status) {
  // The early-init module's statuses are 32 bits wide: its error bit is bit 31.
  constexpr std::uint64_t Error32 = 0x80000000;
  constexpr std::uint64_t Error64 = 0x8000000000000000;
  std::uint64_t Native = Status;
  int Digits = 16;
  if (Report.Which != Module::Dxe) {
    Native = (Status & Error32) != 0 ? (Status & ~Error32) | Error64 : Status;
    Digits = 8;
  }
  const char *Name = GetStatusCodeName(Native);
  return std::string(Name != nullptr ? Name : "unnamed status") + " (" + Hex(Status, Digits) + ")";
}

std::string Summary(const RunReport &Report, const sim::Board &Board) {
  std::ostringstream Out;
  switch (Report.Which) {
  case Module::Pei:
    Out << "BoardInitPei on the simulated board";
    break;
  case Module::Dxe:
    Out << "BoardInitDxe on the simulated board";
    break;
  case Module::Decode:
    Out << "SetIoDecode requests on the simulated board";
    break;
  case Module::Window:
    Out << "SetGenericIoRange requests on the simulated board";
    break;
  }
  if (Report.Hung) {
    Out << ": HUNG (stopped by the step budget)";
  } else if (Report.EntryStatus) {
    Out << ": entry returned " << StatusText(Report, *Report.EntryStatus);
  }
  Out << "\n\n";
  for (std::size_t Index = 0; Index < Report.Results.size(); ++Index) {
    Out << "  " << Report.Requests[Index] << " -> " << StatusText(Report, Report.Results[Index])
        << "\n";
  }
  if (!Report.Results.empty()) {
    Out << "\n";
  }
  SerialConsole(Out, Board.serialOutput());
  IoDecode(Out, Board);
  SpiFrames(Out, Board);
  SuperIo(Out, Board);
  if (Report.Dxe) {
    Out << "SMM: LocateProtocol called " << Report.Dxe->LocateProtocolCalls << "x, InSmm called "
        << Report.Dxe->InSmmCalls << "x, in SMM: " << (Report.Dxe->InSmm ? "yes" : "no") << "\n";
  }
  Out << "Interrupts at the end: " << (Board.interruptsEnabled() ? "enabled" : "disabled") << "\n";
  Accesses(Out, Board);
  return Out.str();
}

} // namespace boardsim
