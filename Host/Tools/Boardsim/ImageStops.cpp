#include "ImageStops.h"

#include <fmt/format.h>

namespace boardsim {
namespace {

using Json = nlohmann::ordered_json;

// Registers a line of the fault report holds.
constexpr std::size_t RegistersPerLine = 5;

// "0x004003A2 SendByte+0x9 (BoardInitDxe/Serial.cpp:40)": the site without its caller.
std::string Where(const sim::AccessSite &Site) {
  sim::AccessSite Alone = Site;
  Alone.Caller.clear();
  return sim::FormatSite(Alone);
}

} // namespace

std::vector<std::string> StoppedLines(const runs::ImageFacts &Facts) {
  if (!Facts.StoppedAt) {
    return {};
  }
  std::vector<std::string> Lines{"stopped at " + Where(*Facts.StoppedAt)};
  if (Facts.StoppedChain.size() > 1) {
    std::string Chain;
    for (const std::string &Each : Facts.StoppedChain) {
      Chain += (Chain.empty() ? "" : " > ") + Each;
    }
    Lines.push_back("calls in the image: " + Chain);
  }
  return Lines;
}

std::vector<std::string> FaultLines(const runs::ImageFacts &Facts) {
  if (!Facts.Faulted) {
    return {};
  }
  const runs::ImageFacts::Fault &Fault = *Facts.Faulted;
  std::vector<std::string> Lines{
      "faulting instruction: " + Where(Fault.At) + ": " +
      (Fault.Instruction.empty() ? std::string("(its bytes cannot be read)") : Fault.Instruction)};
  const int Digits = static_cast<int>(Fault.RegisterBytes * 2);
  std::string Line = "registers:";
  for (std::size_t Index = 0; Index < Fault.Registers.size(); ++Index) {
    if (Index != 0 && Index % RegistersPerLine == 0) {
      Lines.push_back(Line);
      Line = "          ";
    }
    const auto &[Name, Value] = Fault.Registers[Index];
    Line += fmt::format(" {}={}", Name, sim::HexText(Value, Digits));
  }
  Lines.push_back(Line);
  return Lines;
}

Json SiteJson(const sim::AccessSite &Site) {
  return Json{{"address", Site.Address},
              {"address_hex", sim::HexText(Site.Address, 8)},
              {"at", Site.At},
              {"file", Site.File.empty() ? Json(nullptr) : Json(Site.File)},
              {"line", Site.File.empty() ? Json(nullptr) : Json(Site.Line)},
              {"caller", Site.Caller.empty() ? Json(nullptr) : Json(Site.Caller)}};
}

void AddStopsJson(Json &Image, const runs::ImageFacts &Facts) {
  Image["stopped_at"] = Facts.StoppedAt ? SiteJson(*Facts.StoppedAt) : Json(nullptr);
  Image["stopped_chain"] = Facts.StoppedChain;
  Image["fault"] = nullptr;
  if (Facts.Faulted) {
    const runs::ImageFacts::Fault &Fault = *Facts.Faulted;
    Json Registers = Json::object();
    Json RegistersHex = Json::object();
    for (const auto &[Name, Value] : Fault.Registers) {
      Registers[Name] = Value;
      RegistersHex[Name] = sim::HexText(Value, static_cast<int>(Fault.RegisterBytes * 2));
    }
    Image["fault"] = Json{{"at", SiteJson(Fault.At)},
                          {"instruction", Fault.Instruction},
                          {"registers", Registers},
                          {"registers_hex", RegistersHex}};
  }
}

} // namespace boardsim
