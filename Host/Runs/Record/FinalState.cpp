#include "FinalState.h"

#include "BoardLpcBridge.h"
#include "BoardPcr.h"
#include "BoardSuperIo.h"
#include "DecodeState.h"
#include "SuperIoChip.h"

namespace runs {
namespace {

constexpr int HexDigitsPerByte = 2;
// Bytes shown as they are: printable ASCII, from the space to the tilde.
constexpr unsigned char FirstPrintable = 0x20;
constexpr unsigned char LastPrintable = 0x7E;

// Control characters shown as escapes, so that one fact stays one line.
std::string Escaped(const std::string &Bytes) {
  std::string Text;
  for (const char Each : Bytes) {
    const auto Byte = static_cast<unsigned char>(Each);
    if (Each == '\n') {
      Text += "\\n";
    } else if (Each == '\r') {
      Text += "\\r";
    } else if (Each == '\\') {
      Text += "\\\\";
    } else if (Byte < FirstPrintable || Byte > LastPrintable) {
      Text += "\\x" + sim::HexText(Byte, HexDigitsPerByte).substr(2);
    } else {
      Text += Each;
    }
  }
  return Text;
}

std::string SuperIoText(const sim::SuperIoChip &Chip) {
  std::vector<std::string> Devices;
  for (const auto &[Number, Registers] : Chip.logicalDevices()) {
    std::vector<std::string> Values;
    for (const auto &[Register, Value] : Registers) {
      Values.push_back(sim::HexText(Register, 2) + "=" + sim::HexText(Value, 2));
    }
    Devices.push_back("logical device " + sim::HexText(Number, 2) + ": " + Joined(Values, " "));
  }
  return Joined(Devices, "; ");
}

} // namespace

std::string Joined(const std::vector<std::string> &Items, const char *Separator) {
  std::string Text;
  for (const std::string &Each : Items) {
    Text += (Text.empty() ? "" : Separator) + Each;
  }
  return Text;
}

std::vector<NamedFact> FinalState(const RunRecord &Record) {
  const sim::BoardState &End = Record.End;
  std::vector<NamedFact> Facts;
  std::vector<std::string> Ranges;
  for (const sim::DecodedRange &Range : sim::DecodedRanges(End.lpcConfig())) {
    Ranges.push_back(PortRangeText(Range.First, Range.Last) + " " + sim::TargetName(Range.Target) +
                     " (" + Range.By + ")");
  }
  Facts.push_back({"decode map", Joined(Ranges, ", ")});
  Facts.push_back({"decode map warnings", Joined(Record.Decode.Warnings, "; ")});
  const std::vector<std::uint32_t> Values = End.namedRegisterValues();
  std::size_t Index = 0;
  const auto AddRegisters = [&](const auto &Table) {
    for (const sim::hw::NamedRegister &Each : Table) {
      Facts.push_back({Each.Name, sim::HexText(Values[Index++],
                                               static_cast<int>(Each.Width) * HexDigitsPerByte)});
    }
  };
  AddRegisters(sim::hw::LpcBridge::Registers);
  AddRegisters(sim::hw::Pcr::Registers);
  const sim::SuperIoChip &Chip = End.SuperIo;
  Facts.push_back({"Super I/O configuration", SuperIoText(Chip)});
  Facts.push_back({"Super I/O configuration mode",
                   "entered " + std::to_string(Chip.entries()) + ", left " +
                       std::to_string(Chip.exits()) + (Chip.inConfigMode() ? ", still in it" : "") +
                       ", writes ignored " + std::to_string(Chip.ignoredWrites())});
  Facts.push_back({"serial output", Escaped(End.serialOutput())});
  Facts.push_back(
      {"UART bytes lost", std::to_string(End.deliveries(sim::DeviceId::Uart).LostBytes)});
  std::vector<std::string> Frames;
  for (const std::uint32_t Frame : End.spiFrames()) {
    Frames.push_back(sim::HexText(Frame, 4));
  }
  Facts.push_back({"SPI frames", Joined(Frames, " ")});
  Facts.push_back({"interrupts at the end", End.interruptsEnabled() ? "enabled" : "disabled"});
  return Facts;
}

} // namespace runs
