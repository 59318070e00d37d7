// The decode map as the summary shows it and as the JSON gives it.
#include "DecodeMapReport.h"

#include "DecodeState.h"
#include "StatusJson.h"

#include <algorithm>
#include <sstream>

namespace boardsim {
namespace {

using namespace runs;

// "0x0200-0x02FF on LPC (LPC range 3 window)"
std::string RangeText(const DecodedRange &Range) {
  return PortRangeText(Range.First, Range.Last) + " on " + DescribeTarget(Range.Target) + " (" +
         Range.By + ")";
}

std::string RangesText(const std::vector<DecodedRange> &Ranges) {
  if (Ranges.empty()) {
    return "not decoded";
  }
  std::string Text;
  for (const DecodedRange &Range : Ranges) {
    Text += (Text.empty() ? "" : " and ") + RangeText(Range);
  }
  return Text;
}

nlohmann::ordered_json RangeJson(const DecodedRange &Range) {
  return {{"first", Range.First},
          {"last", Range.Last},
          {"target", DescribeTarget(Range.Target)},
          {"by", Range.By},
          {"kind", Range.Window ? "window" : "fixed"}};
}

nlohmann::ordered_json RangesJson(const std::vector<DecodedRange> &Ranges) {
  nlohmann::ordered_json Out = nlohmann::ordered_json::array();
  for (const DecodedRange &Range : Ranges) {
    Out.push_back(RangeJson(Range));
  }
  return Out;
}

} // namespace

const char *RowWord(sim::RunKind Which) {
  return Which == sim::RunKind::Pei ? "row" : "request";
}

namespace {

// "rows 1, 6": the requests that asked for a range, numbered as the summary numbers them.
std::string SetByText(const std::vector<std::size_t> &Requests, const char *Row) {
  if (Requests.empty()) {
    return {};
  }
  std::string Text = std::string("set by ") + Row + (Requests.size() == 1 ? " " : "s ");
  for (std::size_t Each = 0; Each < Requests.size(); ++Each) {
    Text += (Each == 0 ? "" : ", ") + std::to_string(Requests[Each] + 1);
  }
  return Text;
}

std::string Padded(const std::string &Text, std::size_t Width) {
  return Text + std::string(Text.size() < Width ? Width - Text.size() : 1, ' ');
}

// What the map repeats of the requests and the registers, for --verbose.
void Details(std::ostringstream &Out, const DecodeMap &Map) {
  Out << "  standard COM ports:";
  for (const StandardComPort &Com : Map.StandardCom) {
    Out << (&Com == &Map.StandardCom.front() ? " " : "; ") << sim::HexText(Com.Port, 3) << " "
        << (Com.DecodedBy.empty() ? "not decoded" : "in " + RangesText(Com.DecodedBy));
  }
  Out << "\n";
  if (!Map.Requests.empty()) {
    Out << "  requests, asked and got:\n";
  }
  for (const RequestOutcome &Request : Map.Requests) {
    Out << "    " << Request.Asked << " -> "
        << (Request.Call.Status ? sim::ResultText(Request.Call) : "did not return");
    if (!Request.TurnsOff) {
      Out << (Request.PortGoesTo.empty() ? "; the port is not decoded"
                                         : "; the port goes to " + RangesText(Request.PortGoesTo));
    }
    Out << "\n";
    for (const WindowOutcome &Window : Request.Windows) {
      Out << "      window " << sim::CallText(Window.Call) << " -> "
          << (Window.Call.Status ? sim::ResultText(Window.Call) : "did not return")
          << (Window.Holding.empty() ? "; no window holds the port"
                                     : "; held by " + RangesText(Window.Holding))
          << "\n";
    }
    if (Request.StandardCom) {
      Out << "      a standard COM port request opens all four standard COM ports:";
      for (const StandardComPort &Com : Map.StandardCom) {
        Out << (&Com == &Map.StandardCom.front() ? " " : ", ") << sim::HexText(Com.Port, 3)
            << (Com.DecodedBy.empty() ? " not decoded"
                : Com.DecodedBy.front().Window
                    ? " through the window at " + sim::HexText(Com.DecodedBy.front().First, 3)
                    : " on the " + Com.DecodedBy.front().By);
      }
      Out << "; the COM selector is not read for them\n";
    }
  }
  if (!Map.Changes.empty()) {
    Out << "  registers the run changed (preset -> final):\n";
  }
  for (const RegisterChange &Change : Map.Changes) {
    const int Digits = static_cast<int>(Change.Width) * 2;
    Out << "    " << Change.Name << ": " << sim::HexText(Change.Preset, Digits) << " -> "
        << sim::HexText(Change.Final, Digits) << "\n";
  }
  for (const std::string &Note : Map.Notes) {
    Out << "  note: " << Note << "\n";
  }
}

} // namespace

std::string DecodeMapSummary(const DecodeMap &Map, sim::RunKind Which, bool Verbose) {
  std::ostringstream Out;
  const char *Row = RowWord(Which);
  Out << "I/O decode map (where each port goes after the run, and the " << Row
      << " that asked for it):\n";
  if (Map.Ranges.empty()) {
    Out << "  (nothing decoded)\n";
  }
  constexpr std::size_t PortsWidth = 15, TargetWidth = 10;
  std::size_t ByWidth = 0;
  for (const DecodedRange &Range : Map.Ranges) {
    ByWidth = std::max(ByWidth, Range.By.size() + 2);
  }
  for (std::size_t Index = 0; Index < Map.Ranges.size(); ++Index) {
    const DecodedRange &Range = Map.Ranges[Index];
    std::string Line = "  " + Padded(PortRangeText(Range.First, Range.Last), PortsWidth) +
                       Padded(DescribeTarget(Range.Target), TargetWidth);
    std::string After = Index < Map.SetBy.size() ? SetByText(Map.SetBy[Index], Row) : "";
    if (Index < Map.Inside.size() && Map.Inside[Index]) {
      const DecodedRange &Outer = Map.Ranges[*Map.Inside[Index]];
      After += (After.empty() ? "" : "; ") + std::string("inside ") +
               PortRangeText(Outer.First, Outer.Last);
    }
    Line += After.empty() ? Range.By : Padded(Range.By, ByWidth) + After;
    Out << Line << "\n";
  }
  // The warnings about a request stand beside it in the list of requests; these concern the map.
  for (const std::string &Warning : Map.Warnings) {
    bool OfARequest = false;
    for (const RequestOutcome &Request : Map.Requests) {
      OfARequest =
          OfARequest || std::ranges::find(Request.Warnings, Warning) != Request.Warnings.end();
    }
    if (!OfARequest) {
      Out << "  WARNING: " << Warning << "\n";
    }
  }
  if (Verbose) {
    Details(Out, Map);
  }
  return Out.str();
}

nlohmann::ordered_json DecodeMapJson(const DecodeMap &Map) {
  using Json = nlohmann::ordered_json;
  Json StandardCom = Json::array();
  for (const StandardComPort &Com : Map.StandardCom) {
    StandardCom.push_back({{"port", Com.Port}, {"decoded_by", RangesJson(Com.DecodedBy)}});
  }
  Json Requests = Json::array();
  for (const RequestOutcome &Request : Map.Requests) {
    Json Windows = Json::array();
    for (const WindowOutcome &Window : Request.Windows) {
      Windows.push_back({{"call", sim::CallText(Window.Call)},
                         {"status", Window.Call.Status ? Json(*Window.Call.Status) : Json()},
                         {"held_by", RangesJson(Window.Holding)},
                         {"status_name", StatusName(Window.Call.Status, Window.Call.Made)},
                         {"status_hex", StatusHex(Window.Call.Status, Window.Call.Made)}});
    }
    Requests.push_back(
        {{"call", sim::CallText(Request.Call)},
         {"asked", Request.Asked},
         {"status", Request.Call.Status ? Json(*Request.Call.Status) : Json()},
         {"port_goes_to", Request.TurnsOff ? Json() : RangesJson(Request.PortGoesTo)},
         {"windows", Windows},
         {"opens_standard_com_ports", Request.StandardCom},
         {"status_name", StatusName(Request.Call.Status, Request.Call.Made)},
         {"status_hex", StatusHex(Request.Call.Status, Request.Call.Made)},
         {"warnings", Request.Warnings},
         {"repeats", Request.Repeats ? Json(*Request.Repeats) : Json()}});
  }
  Json Changes = Json::array();
  for (const RegisterChange &Change : Map.Changes) {
    Changes.push_back({{"register", Change.Name},
                       {"width", Change.Width},
                       {"preset", Change.Preset},
                       {"final", Change.Final}});
  }
  // The map's own ranges add the requests that asked for each and the window it lies inside.
  Json Ranges = RangesJson(Map.Ranges);
  for (std::size_t Index = 0; Index < Map.Ranges.size(); ++Index) {
    Ranges[Index]["set_by"] = Index < Map.SetBy.size() ? Json(Map.SetBy[Index]) : Json::array();
    Ranges[Index]["inside"] =
        Index < Map.Inside.size() && Map.Inside[Index] ? Json(*Map.Inside[Index]) : Json();
  }
  return {{"ranges", Ranges},         {"standard_com_ports", StandardCom},
          {"requests", Requests},     {"changed_registers", Changes},
          {"warnings", Map.Warnings}, {"notes", Map.Notes}};
}

} // namespace boardsim
