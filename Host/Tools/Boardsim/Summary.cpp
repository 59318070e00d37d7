// The summary a person reads at a glance after a run: what the firmware did to the board, and
// how each step of the run went, without the trace.
#include "BoardSpi.h"
#include "BoardSuperIo.h"
#include "DecodeMapReport.h"
#include "DecodeState.h"
#include "DeviceReport.h"
#include "Findings.h"
#include "ImageStops.h"
#include "Report.h"
#include "SuperIoChip.h"
#include "TableJson.h"
#include "TextWrap.h"

#include <algorithm>
#include <sstream>

namespace boardsim {
namespace {

namespace SuperIo = sim::hw::SuperIo;

// Time stamps as the trace prints them: all 64 bits of the counter.
constexpr int TimeStampDigits = 16;

std::string Plural(std::uint64_t Count, const char *One, const char *Many) {
  return std::to_string(Count) + " " + (Count == 1 ? One : Many);
}

std::string Pair(std::uint32_t Register, std::uint32_t Mirror, int Digits) {
  std::string Text = sim::HexText(Register, Digits) + " | mirror " + sim::HexText(Mirror, Digits);
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
  // Carriage returns dropped; an unfinished last line is shown unless it is empty.
  std::istringstream Lines(Serial);
  for (std::string Line; std::getline(Lines, Line);) {
    std::erase(Line, '\r');
    if (!Lines.eof() || !Line.empty()) {
      Out << "  " << Line << "\n";
    }
  }
}

// A request in the form its table row or its subcommand takes it: "0x002E,2,0x000000FF",
// "0x006C,0x0004".
std::string RowText(const sim::CallRecord &Call) {
  if (const auto *Decode = std::get_if<sim::SetIoDecodeCall>(&Call.Made)) {
    return sim::HexText(Decode->Port, 4) + "," + std::to_string(unsigned{Decode->Size}) + "," +
           sim::HexText(Decode->Attributes, 8);
  }
  const auto &Window = std::get<sim::SetGenericIoRangeCall>(Call.Made);
  return sim::HexText(Window.Port, 4) + "," + sim::HexText(Window.SizeWord, 4);
}

std::string Returned(const sim::CallRecord &Call) {
  return Call.Status ? sim::ResultText(Call) : "did not return";
}

// The requests, numbered as the decode map's "set by" names them, each with what it asked for,
// what it got, the windows it opened and the warnings its status hides.
void Requests(std::ostringstream &Out, const RunRecord &Report) {
  const std::vector<RequestOutcome> &Requests = Report.Decode.Requests;
  if (Requests.empty()) {
    return;
  }
  const char *Row = RowWord(Report.Which);
  if (Report.Which == Module::Pei) {
    Out << "Decode table (one " << sim::OperationName(sim::SetIoDecodeCall{})
        << " request a row, PORT,SIZE,ATTRIBUTES, in table order):\n";
  } else if (Report.Which == Module::Decode) {
    Out << "Requests (PORT,SIZE,ATTRIBUTES, one " << sim::OperationName(sim::SetIoDecodeCall{})
        << " each, in order):\n";
  } else {
    Out << "Requests (PORT,SIZEWORD, one " << sim::OperationName(sim::SetGenericIoRangeCall{})
        << " each, in order):\n";
  }
  constexpr int NumberWidth = 4;
  const std::string Under(NumberWidth + 4, ' ');
  for (std::size_t Index = 0; Index < Requests.size(); ++Index) {
    const RequestOutcome &Request = Requests[Index];
    const std::string Number = std::to_string(Index + 1);
    Out << std::string(NumberWidth - std::min<std::size_t>(Number.size(), NumberWidth), ' ')
        << Number << "  " << RowText(Request.Call) << "  " << Request.Asked << " -> "
        << Returned(Request.Call);
    if (Request.Repeats) {
      Out << "; repeats " << Row << " " << *Request.Repeats + 1;
    }
    Out << "\n";
    for (const WindowOutcome &Window : Request.Windows) {
      if (!Window.IsRequest) {
        Out << Under << sim::CallText(Window.Call) << " -> " << Returned(Window.Call) << "\n";
      }
    }
    if (Request.StandardCom) {
      Out << Under << "opens all four standard COM ports (0x3F8, 0x2F8, 0x3E8, 0x2E8), whatever "
          << "the COM selector\n";
    }
    for (const std::string &Warning : Request.Warnings) {
      Out << Under << "WARNING: " << Warning << "\n";
    }
  }
}

void IoDecode(std::ostringstream &Out, const sim::BoardState &Board) {
  const DecodeState State = ReadDecodeState(Board);
  Out << "I/O decode (bridge | private-configuration mirror):\n";
  Out << "  I/O Decode Ranges  " << Pair(State.IoDecodeRanges, State.IoDecodeRangesMirror, 4)
      << "\n    " << DescribeDecodeRanges(State.IoDecodeRanges, State.IoEnables);
  if (const std::uint16_t Reserved = ReservedDecodeRangeBits(State.IoDecodeRanges)) {
    Out << ", reserved bits " << sim::HexText(Reserved, 4) << " set";
  }
  Out << "\n";
  Out << "  I/O Enables        " << Pair(State.IoEnables, State.IoEnablesMirror, 4) << "\n    "
      << DescribeEnables(State.IoEnables) << "\n";
  for (std::size_t ChipSelect = 0; ChipSelect < State.EspiIoEnables.size(); ++ChipSelect) {
    const std::uint16_t Value = State.EspiIoEnables[ChipSelect];
    if (Value != 0) {
      Out << "  eSPI CS" << ChipSelect + 1 << " I/O Enables " << sim::HexText(Value, 4) << "\n    "
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

void Spi(std::ostringstream &Out, const RunRecord &Report) {
  const sim::BoardState &Board = Report.End;
  const RunFacts &Facts = Report.Facts;
  Out << "SPI controller: ";
  switch (Facts.spiState()) {
  case SpiState::NotChecked:
    Out << "not checked\n";
    return;
  case SpiState::Absent:
    Out << "absent (device ID is not " << sim::HexText(sim::hw::Spi::DeviceId, 4)
        << "): left alone\n";
    return;
  case SpiState::Dead:
    Out << "present but dead (control 0 reads 0xFFFFFFFF): left alone\n";
    return;
  case SpiState::Present:
    Out << "present\n";
    break;
  }
  const auto &Frames = Board.spiFrames();
  Out << "  peripheral received " << Plural(Frames.size(), "frame", "frames")
      << (Frames.empty() ? "" : ":");
  for (const std::uint32_t Frame : Frames) {
    Out << " " << sim::HexText(Frame, 4);
  }
  Out << "\n  bounded waits that ran out: " << Facts.spiWaitsRanOut() << "\n";
  for (const SpiWaitRun &Wait : Facts.spiWaits()) {
    if (Wait.Waits.empty()) {
      Out << "    " << Plural(Wait.RanOut, "wait", "waits") << " on " << Wait.Register << " (read "
          << sim::HexText(Wait.Value, 8) << " " << Plural(Wait.Reads, "time", "times") << ") after "
          << Wait.After << "\n";
    }
    // Each of the firmware's waits on its own: two waits back to back are two lines.
    for (const SpiFirmwareWait &Each : Wait.Waits) {
      if (Each.RanOut) {
        std::string From;
        for (const std::string &Function : Each.ReadsFrom) {
          From += (From.empty() ? ", in the image's " : " and ") + Function;
        }
        Out << "    1 wait on " << Wait.Register << ", " << Each.Function << " for "
            << Each.WaitsFor << " (read " << sim::HexText(Wait.Value, 8) << " "
            << Plural(Each.Reads, "time", "times") << From << ") after " << Wait.After << "\n";
      }
    }
  }
  namespace Reg = sim::hw::Spi;
  Out << "  final registers: control 0 " << sim::HexText(Board.Spi.registerValue(Reg::Control0), 8)
      << ", control 1 " << sim::HexText(Board.Spi.registerValue(Reg::Control1), 8) << ", clock "
      << sim::HexText(Board.Spi.registerValue(Reg::Clock), 8) << "\n";
}

const char *SuperIoRegisterName(std::uint8_t Register) {
  const char *Name = sim::SuperIoRegisterName(Register);
  return *Name == '\0' ? "register" : Name;
}

void SuperIoWrites(std::ostringstream &Out, const sim::BoardState &Board) {
  const auto &Writes = Board.SuperIoWrites;
  if (Writes.empty()) {
    return;
  }
  Out << "Super I/O writes (" << Writes.size() << ", index port "
      << sim::HexText(SuperIo::IndexPort, 2) << ", data port " << sim::HexText(SuperIo::DataPort, 2)
      << "):\n";
  // The entry key counts only when the whole sequence leads the writes.
  std::size_t Index = 0;
  constexpr std::size_t KeyLength = sizeof SuperIo::EnterKey;
  bool Keyed = Writes.size() >= KeyLength;
  for (std::size_t Byte = 0; Keyed && Byte < KeyLength; ++Byte) {
    Keyed =
        Writes[Byte].first == SuperIo::IndexPort && Writes[Byte].second == SuperIo::EnterKey[Byte];
  }
  if (Keyed) {
    Out << "  enter configuration mode: key 0x87 0x01 0x55 0x55 to the index port\n";
    Index = KeyLength;
  }
  for (; Index < Writes.size(); ++Index) {
    const auto [Port, Value] = Writes[Index];
    const bool Pair = Port == SuperIo::IndexPort && Index + 1 < Writes.size() &&
                      Writes[Index + 1].first == SuperIo::DataPort;
    if (!Pair) {
      Out << "  write " << sim::HexText(Port, 2) << " <- " << sim::HexText(Value, 2) << "\n";
      continue;
    }
    const std::uint8_t Data = Writes[++Index].second;
    Out << "  " << SuperIoRegisterName(Value) << " (" << sim::HexText(Value, 2) << ") <- "
        << sim::HexText(Data, 2);
    if (Value == SuperIo::LogicalDeviceSelect) {
      Out << ": logical device " << sim::HexText(Data, 2);
    } else if (Value == SuperIo::Activate && (Data & SuperIo::ActivateOn) != 0) {
      Out << ": device on";
    } else if (Value == SuperIo::ConfigControl && (Data & SuperIo::LeaveConfigMode) != 0) {
      Out << ": leave configuration mode";
    }
    Out << "\n";
  }
}

void DxeStartUp(std::ostringstream &Out, const RunRecord &Report) {
  const runs::DxeFacts &Dxe = *Report.Result.Dxe;
  const auto &Interval = Report.Facts.interval();
  Out << "Start-up:\n  HOB list: "
      << (Dxe.HobListFound ? "found in the configuration table" : "not found") << "\n";
  if (Interval) {
    Out << "  timer HOB: " << (Dxe.HobListFound ? "not found" : "not looked for")
        << ", so the measuring interval ran";
    if (Interval->Finished) {
      Out << ": " << Interval->ticks() << " PM-timer ticks ("
          << sim::HexText(Interval->PmTimerStart, 6) << " to "
          << sim::HexText(Interval->PmTimerEnd, 6) << ")\n    time stamps "
          << sim::HexText(Interval->TimeStamps[0], TimeStampDigits) << " and "
          << sim::HexText(Interval->TimeStamps[1], TimeStampDigits) << "\n";
    } else {
      Out << " from PM-timer count " << sim::HexText(Interval->PmTimerStart, 6)
          << " and did not finish\n    time stamp "
          << sim::HexText(Interval->TimeStamps[0], TimeStampDigits) << "\n";
    }
  } else if (const std::optional<bool> Found = TimerHobFound(Report)) {
    Out << (*Found ? "  timer HOB: found, so the measuring interval was skipped\n"
                   : "  timer HOB: not found, so the measuring interval began\n");
  }
  Out << "SMM: LocateProtocol: " << Plural(Dxe.LocateProtocolCalls, "call", "calls")
      << ", InSmm: " << Plural(Dxe.InSmmCalls, "call", "calls")
      << "; in SMM: " << (Dxe.InSmm ? "yes" : "no") << "\n";
}

void Accesses(std::ostringstream &Out, const RunRecord &Report) {
  auto Group = [&](const char *Title, const auto &Kinds) {
    std::uint64_t Total = 0;
    std::string Parts;
    for (const AccessGroupKind &Each : Kinds) {
      Total += Report.count(Each.Kind);
      Parts += (Parts.empty() ? "" : ", ") + std::string(sim::KindMnemonic(Each.Kind)) + " " +
               std::to_string(Report.count(Each.Kind));
    }
    Out << "  " << Title << ": " << Total << " (" << Parts << ")\n";
  };
  Out << "Steps: " << Report.accesses() << " of " << StepBudgetText(Report.Settings.MaxSteps)
      << ":\n";
  Group("bus (ports, memory)", BusKinds);
  Group("processor events", ProcessorKinds);
}

} // namespace

sim::Operation EntryOperation(Module Which) {
  return sim::RunKindOf(Which).Entry;
}

std::string Summary(const RunRecord &Report, bool Verbose) {
  std::ostringstream Out;
  const std::string Ran = sim::RunTitle(sim::RunKindOf(Report.Which));
  Out << Ran << " on the simulated board";
  const runs::RunResult &Result = Report.Result;
  if (!Report.ScenarioName.empty()) {
    Out << ", scenario " << Report.ScenarioName;
  }
  if (Result.Image && Result.Image->Breach) {
    Out << ": STOPPED, the firmware broke a rule:\n  " << *Result.Image->Breach;
  } else if (Result.Hung && Result.Image && Result.Image->SpunWithoutAccess) {
    Out << ": HUNG (" << runs::InstructionsWithoutAccess << " instructions without an access)";
  } else if (Result.Hung) {
    Out << ": HUNG (stopped by the step budget)";
  } else if (Result.EntryStatus) {
    Out << ": entry returned "
        << sim::StatusText(*Result.EntryStatus, sim::StatusBits(EntryOperation(Report.Which)));
  }
  Out << "\n";
  // The image's path on a line of its own: a path is as long as it is, and stays whole.
  if (Result.Ran == runs::Implementation::Image) {
    Out << "  run from the image " << Report.ImagePath << "\n";
  }
  Out << ReplacedTablesSummary(Report.Settings.Tables);
  if (Result.Image) {
    for (const std::string &Line : FaultLines(*Result.Image)) {
      Out << "  " << Line << "\n";
    }
    for (const std::string &Line : StoppedLines(*Result.Image)) {
      Out << "  " << Line << "\n";
    }
  }
  if (Result.Hung && !Result.Running.empty()) {
    Out << "  running:";
    for (const sim::CallRecord &Call : Result.Running) {
      Out << (&Call == &Result.Running.front() ? " " : " > ") << sim::CallText(Call);
    }
    Out << "\n";
  }
  Out << "\n" << FindingsSummary(Report) << "\n";
  switch (Report.Which) {
  case Module::Pei:
    Requests(Out, Report);
    if (Verbose) {
      IoDecode(Out, Report.End);
    }
    Out << DecodeMapSummary(Report.Decode, Report.Which, Verbose);
    Spi(Out, Report);
    if (Verbose) {
      SuperIoWrites(Out, Report.End);
    }
    Out << SuperIoChipSummary(Report.End);
    break;
  case Module::Dxe:
    SerialConsole(Out, Report.End.serialOutput());
    Out << SerialLossSummary(Report.End);
    DxeStartUp(Out, Report);
    Spi(Out, Report);
    break;
  case Module::Decode:
  case Module::Window:
    Requests(Out, Report);
    if (Verbose) {
      IoDecode(Out, Report.End);
    }
    Out << DecodeMapSummary(Report.Decode, Report.Which, Verbose);
    break;
  }
  Out << runs::BoardTimeHeading() << runs::BoardTimeSummary(Report.Time, Ran, Verbose);
  Out << "Interrupts at the end: " << (Report.End.interruptsEnabled() ? "enabled" : "disabled")
      << "\n";
  Accesses(Out, Report);
  if (Result.Image) {
    const runs::ImageFacts &Facts = *Result.Image;
    Out << "Image: " << Plural(Facts.Instructions, "instruction", "instructions")
        << " executed; stack high-water mark " << Facts.StackHighWater << " bytes"
        << (Facts.StackDeepestIn.empty() ? "" : ", deepest in " + Facts.StackDeepestIn) << "\n";
    if (!Facts.StackChain.empty()) {
      Out << "  calls in progress at the high-water mark:\n   ";
      for (const std::string &Function : Facts.StackChain) {
        Out << (&Function == &Facts.StackChain.front() ? " " : " > ") << Function;
      }
      Out << "\n";
    }
  }
  return WrapLines(Out.str());
}

} // namespace boardsim
