// The decode map as the summary shows it and as the JSON gives it.
#include "DecodeMapReport.h"

#include "DecodeState.h"

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

std::string DecodeMapSummary(const DecodeMap &Map) {
  std::ostringstream Out;
  Out << "I/O decode map (where each port goes after the run):\n";
  if (Map.Ranges.empty()) {
    Out << "  (nothing decoded)\n";
  }
  for (const DecodedRange &Range : Map.Ranges) {
    const std::string Ports = PortRangeText(Range.First, Range.Last);
    const std::string Target = DescribeTarget(Range.Target);
    Out << "  " << Ports << std::string(Ports.size() < 15 ? 15 - Ports.size() : 1, ' ') << Target
        << std::string(Target.size() < 10 ? 10 - Target.size() : 1, ' ') << Range.By << "\n";
  }
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
  for (const std::string &Warning : Map.Warnings) {
    Out << "  WARNING: " << Warning << "\n";
  }
  for (const std::string &Note : Map.Notes) {
    Out << "  note: " << Note << "\n";
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
                         {"held_by", RangesJson(Window.Holding)}});
    }
    Requests.push_back(
        {{"call", sim::CallText(Request.Call)},
         {"asked", Request.Asked},
         {"status", Request.Call.Status ? Json(*Request.Call.Status) : Json()},
         {"port_goes_to", Request.TurnsOff ? Json() : RangesJson(Request.PortGoesTo)},
         {"windows", Windows},
         {"opens_standard_com_ports", Request.StandardCom}});
  }
  Json Changes = Json::array();
  for (const RegisterChange &Change : Map.Changes) {
    Changes.push_back({{"register", Change.Name},
                       {"width", Change.Width},
                       {"preset", Change.Preset},
                       {"final", Change.Final}});
  }
  return {{"ranges", RangesJson(Map.Ranges)},
          {"standard_com_ports", StandardCom},
          {"requests", Requests},
          {"changed_registers", Changes},
          {"warnings", Map.Warnings},
          {"notes", Map.Notes}};
}

} // namespace boardsim
