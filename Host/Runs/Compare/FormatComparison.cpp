#include "FormatComparison.h"

#include "Board.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace comparison {
namespace {

// The first Count bytes.
std::string Escaped(const std::vector<std::uint8_t> &Bytes, std::size_t Count) {
  return EscapedBytes({Bytes.data(), std::min(Count, Bytes.size())});
}

std::string Hex(std::uint64_t Value) {
  char Text[24];
  std::snprintf(Text, sizeof Text, "0x%llX", static_cast<unsigned long long>(Value));
  return Text;
}

} // namespace

std::string EscapedBytes(std::span<const std::uint8_t> Bytes) {
  constexpr std::uint8_t FirstPrintable = 0x20, LastPrintable = 0x7E;
  std::string Text;
  for (const std::uint8_t Byte : Bytes) {
    if (Byte >= FirstPrintable && Byte <= LastPrintable && Byte != '\\') {
      Text.push_back(static_cast<char>(Byte));
    } else {
      char Hex[8];
      std::snprintf(Hex, sizeof Hex, "\\x%02X", Byte);
      Text += Hex;
    }
  }
  return Text;
}

void RunEnded(const runs::RunResult &Run, std::vector<runs::NamedFact> &Results) {
  Results.push_back({"hung", Run.Hung ? "yes" : "no"});
  Results.push_back({"breach", Run.Image && Run.Image->Breach ? *Run.Image->Breach : "none"});
}

Outcome FormatOutcome(const runs::FormatResult &Got) {
  Outcome Out;
  Out.ResultsKnown = true;
  std::vector<runs::NamedFact> &Results = Out.Results;
  Results.push_back({"count", Got.Count ? std::to_string(*Got.Count) : ""});
  // The bytes up to the count, the one there, and what lies past it; a rejected call (all ones)
  // must leave the buffer painted.
  const std::size_t Count =
      Got.Count && *Got.Count < Got.Buffer.size() ? static_cast<std::size_t>(*Got.Count) : 0;
  const bool Rejected = Got.Count && *Got.Count == ~std::uint64_t{0};
  Results.push_back({"text", Escaped(Got.Buffer, Count)});
  const std::size_t After = Rejected ? 0 : Count + 1;
  const bool Inside = !Rejected && Count < Got.Buffer.size();
  Results.push_back(
      {"at the count",
       Inside
           ? Escaped({Got.Buffer.begin() + static_cast<std::ptrdiff_t>(Count), Got.Buffer.end()}, 1)
           : ""});
  std::string Past;
  for (std::size_t Index = After; Index < Got.Buffer.size(); ++Index) {
    if (Got.Buffer[Index] != runs::FormatPaint) {
      Past += (Past.empty() ? "" : " ") + std::to_string(Index) + ":" + Hex(Got.Buffer[Index]);
    }
  }
  Results.push_back({"written past it", Past.empty() ? "none" : Past});
  Results.push_back({"buffer bytes", std::to_string(Got.Buffer.size())});
  RunEnded(Got.Run, Results);
  return Out;
}

Outcome RunFormatCase(const runs::ModuleRuns &Runs, const FormatCase &Each) {
  sim::Board Target{sim::Scenario{}};
  return FormatOutcome(Runs.runFormat(Target, Each.Call));
}

Outcome RunStatusNameCase(const runs::ModuleRuns &Runs, std::uint64_t Status) {
  sim::Board Target{sim::Scenario{}};
  const runs::StatusNameResult Got = Runs.runStatusName(Target, Status);
  Outcome Out;
  Out.ResultsKnown = true;
  Out.Results.push_back({"returned", Got.Returned ? "yes" : "no"});
  Out.Results.push_back({"name", Got.Name ? *Got.Name : "(null)"});
  RunEnded(Got.Run, Out.Results);
  return Out;
}

std::string StatusNameCaseName(std::uint64_t Status) {
  return "status name " + Hex(Status);
}

} // namespace comparison
