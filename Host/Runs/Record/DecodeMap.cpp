#include "DecodeMap.h"

#include "BoardLpcBridge.h"
#include "BoardPcr.h"
#include "DecodeRequest.h"
#include "DecodeState.h"
#include "DecodeTarget.h"
#include "GenericIoRange.h"
#include "RunRecord.h"

#include <algorithm>
#include <array>

namespace runs {
namespace {

namespace Bridge = sim::hw::LpcBridge;
namespace Pcr = sim::hw::Pcr;

std::vector<DecodedRange> Holding(const std::vector<DecodedRange> &Ranges, std::uint16_t Port,
                                  bool WindowsOnly) {
  std::vector<DecodedRange> Found;
  for (const DecodedRange &Range : Ranges) {
    if (Port >= Range.First && Port <= Range.Last && (Range.Window || !WindowsOnly)) {
      Found.push_back(Range);
    }
  }
  return Found;
}

// "a 256-byte window on LPC", "a window of 4 bytes at 0x006C on eSPI CS1"
std::string DescribeWindowRequest(std::uint16_t Port, std::uint16_t SizeWord) {
  const std::string At = " at " + sim::HexText(Port, 4);
  if (SizeWord == GenericIoSizeWord::FullWindow) {
    return "a 256-byte window" + At + " on LPC (size word 0x0100)";
  }
  return "a window of " + std::to_string(FieldGet(GenericIoSizeWord::Size, SizeWord)) + " bytes" +
         At + " on " + DescribeTarget(FieldGet(GenericIoSizeWord::DecodeTarget, SizeWord));
}

bool Succeeded(const sim::CallRecord &Call) {
  return Call.Status && *Call.Status == 0;
}

std::string StatusOf(const sim::CallRecord &Call) {
  return sim::ResultText(Call);
}

// Ports that decoders of two targets both hold are sent to one of them only (the bridge model
// chooses); ports two decoders of one target hold go to that target either way.
void AddOverlaps(DecodeMap &Map, const sim::LpcBridgeModel &Bridge) {
  for (std::size_t First = 0; First < Map.Ranges.size(); ++First) {
    for (std::size_t Second = First + 1; Second < Map.Ranges.size(); ++Second) {
      const DecodedRange &A = Map.Ranges[First];
      const DecodedRange &B = Map.Ranges[Second];
      const std::uint16_t Low = std::max(A.First, B.First);
      const std::uint16_t High = std::min(A.Last, B.Last);
      if (Low > High) {
        continue;
      }
      const std::string Ports = PortRangeText(Low, High);
      const std::string Both = A.By + " on " + sim::TargetName(A.Target) + " and " + B.By + " on " +
                               sim::TargetName(B.Target);
      if (A.Target != B.Target) {
        Map.Warnings.push_back(Ports + " is claimed by " + Both +
                               "; the bridge sends each cycle to one place, " +
                               sim::TargetName(Bridge.route(Low).Target) +
                               " (a fixed decoder before a window, then the lowest target)");
      } else {
        Map.Notes.push_back(Ports + " is held by both " + Both + "; its cycles go to " +
                            sim::TargetName(A.Target) + " either way");
      }
    }
  }
}

bool SameRange(const DecodedRange &A, const DecodedRange &B) {
  return A.First == B.First && A.Last == B.Last && A.Target == B.Target && A.By == B.By;
}

bool Within(const DecodedRange &Inner, const DecodedRange &Outer) {
  return Inner.Target == Outer.Target && Outer.First <= Inner.First && Inner.Last <= Outer.Last &&
         (Outer.First != Inner.First || Outer.Last != Inner.Last);
}

// The target a call asks its ports to go to: the decode target of its attributes or of its size
// word, where the full-window size word asks for LPC.
unsigned AskedTarget(const sim::CallRecord &Call) {
  if (const auto *Decode = std::get_if<sim::SetIoDecodeCall>(&Call.Made)) {
    return FieldGet(DecodeAttributes::DecodeTarget, Decode->Attributes);
  }
  const auto &Window = std::get<sim::SetGenericIoRangeCall>(Call.Made);
  return Window.SizeWord == GenericIoSizeWord::FullWindow
             ? DecodeTarget::Lpc
             : FieldGet(GenericIoSizeWord::DecodeTarget, Window.SizeWord);
}

// The fixed decoders a request's port lands on turn on every range of the same decoder (the
// keyboard controller's 0x60 and 0x64); a window call opens the narrowest window holding its port.
void MarkSetBy(DecodeMap &Map, std::size_t Request) {
  const RequestOutcome &Asked = Map.Requests[Request];
  if (!Succeeded(Asked.Call)) {
    return;
  }
  // A request marks a range once, however many of its ports and windows land on it.
  const auto Mark = [&](std::size_t Range) {
    if (Map.SetBy[Range].empty() || Map.SetBy[Range].back() != Request) {
      Map.SetBy[Range].push_back(Request);
    }
  };
  // Only the decoders of the target it asked for: another target's may hold the port too.
  const unsigned Target = AskedTarget(Asked.Call);
  const auto MarkDecoder = [&](const DecodedRange &Decoder) {
    for (std::size_t Each = 0; Each < Map.Ranges.size(); ++Each) {
      const DecodedRange &Range = Map.Ranges[Each];
      if (!Range.Window && Range.By == Decoder.By && Range.Target == Target &&
          Decoder.Target == Target) {
        Mark(Each);
      }
    }
  };
  for (const DecodedRange &Range : Asked.PortGoesTo) {
    if (!Range.Window) {
      MarkDecoder(Range);
    }
  }
  if (Asked.StandardCom) {
    for (const StandardComPort &Com : Map.StandardCom) {
      for (const DecodedRange &Range : Com.DecodedBy) {
        if (!Range.Window) {
          MarkDecoder(Range);
        }
      }
    }
  }
  for (const WindowOutcome &Window : Asked.Windows) {
    if (!Succeeded(Window.Call) || Window.Holding.empty()) {
      continue;
    }
    const unsigned WindowTarget = AskedTarget(Window.Call);
    const DecodedRange *Narrowest = nullptr;
    for (const DecodedRange &Range : Window.Holding) {
      if (Range.Target == WindowTarget &&
          (Narrowest == nullptr || Range.Last - Range.First < Narrowest->Last - Narrowest->First)) {
        Narrowest = &Range;
      }
    }
    for (std::size_t Each = 0; Narrowest != nullptr && Each < Map.Ranges.size(); ++Each) {
      if (SameRange(Map.Ranges[Each], *Narrowest)) {
        Mark(Each);
      }
    }
  }
}

// A row of a table given twice, and a window opened inside another of the same target, are easy
// to miss in a list of calls; the summary points them out.
void MarkRepeatsAndNesting(DecodeMap &Map) {
  for (std::size_t Later = 0; Later < Map.Requests.size(); ++Later) {
    const std::string Call = sim::CallText(Map.Requests[Later].Call);
    for (std::size_t Earlier = 0; Earlier < Later; ++Earlier) {
      if (sim::CallText(Map.Requests[Earlier].Call) == Call) {
        Map.Requests[Later].Repeats = Earlier;
        break;
      }
    }
  }
  Map.SetBy.assign(Map.Ranges.size(), {});
  Map.Inside.assign(Map.Ranges.size(), std::nullopt);
  for (std::size_t Request = 0; Request < Map.Requests.size(); ++Request) {
    MarkSetBy(Map, Request);
  }
  for (std::size_t Inner = 0; Inner < Map.Ranges.size(); ++Inner) {
    for (std::size_t Outer = 0; Outer < Map.Ranges.size(); ++Outer) {
      const DecodedRange &Candidate = Map.Ranges[Outer];
      if (!Candidate.Window || !Within(Map.Ranges[Inner], Candidate)) {
        continue;
      }
      const std::optional<std::size_t> Found = Map.Inside[Inner];
      if (!Found ||
          Candidate.Last - Candidate.First < Map.Ranges[*Found].Last - Map.Ranges[*Found].First) {
        Map.Inside[Inner] = Outer;
      }
    }
  }
}

} // namespace

std::string PortRangeText(std::uint16_t First, std::uint16_t Last) {
  return sim::HexText(First, 4) + (First == Last ? "" : "-" + sim::HexText(Last, 4));
}

DecodeWatch::DecodeWatch(const sim::Board &Board) : Board_(Board), Last_(snapshot()) {}

std::vector<std::uint32_t> DecodeWatch::snapshot() const {
  return Board_.namedRegisterValues();
}

// Every call's entry and return is a note: what changed since the last note changed inside every
// call open now (a call is still open at its return's note, not yet at its entry's).
void DecodeWatch::observe(const sim::TraceRecord &Record) {
  if (Record.Kind != sim::AccessKind::Note) {
    return;
  }
  std::vector<std::uint32_t> Now = snapshot();
  if (Now != Last_) {
    ChangedIn_.insert(Board_.openCallIndices().begin(), Board_.openCallIndices().end());
    Last_ = std::move(Now);
  }
}

DecodeMap BuildDecodeMap(const RunRecord &Record) {
  DecodeMap Map;
  Map.Ranges = sim::DecodedRanges(Record.End.lpcConfig());
  AddOverlaps(Map, Record.End.Bridge);
  for (const std::uint16_t Port : Bridge::StandardComPorts) {
    Map.StandardCom.push_back({Port, Holding(Map.Ranges, Port, false)});
  }

  const std::vector<const sim::CallRecord *> Calls = RequestCalls(Record);
  const unsigned BaseDepth = Calls.empty() ? 0 : Calls.front()->Depth;
  for (const sim::CallRecord *Call : Calls) {
    const auto *Decode = std::get_if<sim::SetIoDecodeCall>(&Call->Made);
    const auto *Window = std::get_if<sim::SetGenericIoRangeCall>(&Call->Made);
    if (Call->Depth == BaseDepth) {
      RequestOutcome Request;
      Request.Call = *Call;
      Request.Index = static_cast<std::size_t>(Call - Record.Calls.data());
      const std::uint16_t Port = Decode ? Decode->Port : Window->Port;
      if (Decode) {
        Request.Asked = DescribeDecodeRequest(Decode->Port, Decode->Size, Decode->Attributes);
        Request.TurnsOff = Decode->Port == DecodeOffPort;
        Request.StandardCom =
            FieldGet(DecodeAttributes::DeviceType, Decode->Attributes) == DecodeDevice::Serial &&
            std::ranges::find(Bridge::StandardComPorts, Decode->Port) !=
                std::end(Bridge::StandardComPorts);
      } else {
        Request.Asked = DescribeWindowRequest(Window->Port, Window->SizeWord);
      }
      if (!Request.TurnsOff) {
        Request.PortGoesTo = Holding(Map.Ranges, Port, false);
      }
      Map.Requests.push_back(std::move(Request));
    }
    if (Window != nullptr && !Map.Requests.empty()) {
      Map.Requests.back().Windows.push_back(
          {*Call, Call->Depth == BaseDepth, Holding(Map.Ranges, Window->Port, true)});
    }
  }

  // A request's status can hide what it did to the registers.
  for (RequestOutcome &Request : Map.Requests) {
    const sim::CallRecord &Call = Request.Call;
    if (!Call.Status) {
      continue; // did not return
    }
    if (Succeeded(Call)) {
      for (const WindowOutcome &Window : Request.Windows) {
        if (!Window.IsRequest && !Succeeded(Window.Call)) {
          Request.Warnings.push_back(sim::CallText(Call) + " returned " + StatusOf(Call) +
                                     ", but the window it asked for was refused: " +
                                     sim::CallText(Window.Call) + " -> " + StatusOf(Window.Call));
          Map.Warnings.push_back(Request.Warnings.back());
        }
      }
      continue;
    }
    if (Record.DecodeChangedIn.contains(Request.Index)) {
      std::string Why;
      if (const auto *Decode = std::get_if<sim::SetIoDecodeCall>(&Call.Made)) {
        const std::uint32_t Target = FieldGet(DecodeAttributes::DecodeTarget, Decode->Attributes);
        if (Target >= DecodeTarget::Count) {
          Why = " (decode target " + std::to_string(Target) + " names no target)";
        }
      }
      Request.Warnings.push_back(sim::CallText(Call) + " was refused with " + StatusOf(Call) +
                                 ", yet changed decode registers" + Why);
      Map.Warnings.push_back(Request.Warnings.back());
    }
  }

  MarkRepeatsAndNesting(Map);

  // The registers the run changed, against those it found.
  const std::vector<std::uint32_t> Preset = Record.Start.namedRegisterValues();
  const std::vector<std::uint32_t> Final = Record.End.namedRegisterValues();
  std::vector<sim::hw::NamedRegister> Named(Bridge::Registers.begin(), Bridge::Registers.end());
  Named.insert(Named.end(), Pcr::Registers.begin(), Pcr::Registers.end());
  for (std::size_t Each = 0; Each < Named.size(); ++Each) {
    if (Preset[Each] != Final[Each]) {
      Map.Changes.push_back({Named[Each].Name, Named[Each].Width, Preset[Each], Final[Each]});
    }
  }
  return Map;
}

} // namespace runs
