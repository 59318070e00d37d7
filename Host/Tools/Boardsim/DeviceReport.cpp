#include "DeviceReport.h"

#include "BoardSuperIo.h"
#include "BoardUart.h"

#include <sstream>

namespace boardsim {
namespace {

namespace SuperIo = sim::hw::SuperIo;
using Json = nlohmann::ordered_json;

// The devices behind the bridge, with the ports the report names for them.
struct BehindBridge {
  sim::DeviceId Device;
  const char *Key;   // JSON
  const char *Ports; // "0x2E-0x2F"
};
constexpr BehindBridge Devices[] = {
    {sim::DeviceId::SuperIo, "superio", "0x2E-0x2F"},
    {sim::DeviceId::Uart, "uart", "0x3F8-0x3FF"},
    {sim::DeviceId::KeyboardController, "keyboard_controller", "0x60, 0x64"},
    {sim::DeviceId::EmbeddedController, "embedded_controller", "0x62, 0x66"},
};

// "not decoded" / "decoded to another target" for the accesses that missed a device.
std::string Missed(const sim::Deliveries &Count) {
  std::string Text;
  if (Count.NotDecoded != 0) {
    Text += std::to_string(Count.NotDecoded) + " not decoded by the bridge";
  }
  if (Count.Elsewhere != 0) {
    Text += (Text.empty() ? "" : ", ") + std::to_string(Count.Elsewhere) +
            " decoded to another target, where nothing answers";
  }
  return Text;
}

// "1 time", "2 times"
std::string Times(std::uint64_t Count) {
  return std::to_string(Count) + (Count == 1 ? " time" : " times");
}

std::string RegisterLine(std::uint8_t Register, std::uint8_t Value) {
  const char *Name = sim::SuperIoRegisterName(Register);
  std::string Line = std::string(*Name == '\0' ? "register" : Name) + " (" +
                     sim::HexText(Register, 2) + ") = " + sim::HexText(Value, 2);
  if (Register == SuperIo::Activate) {
    Line += (Value & SuperIo::ActivateOn) != 0 ? ": on" : ": off";
  }
  return Line;
}

} // namespace

std::size_t SuperIoWarningCount(const sim::BoardState &Board) {
  const sim::Deliveries &Count = Board.deliveries(sim::DeviceId::SuperIo);
  const bool Missed = Count.NotDecoded + Count.Elsewhere != 0;
  return (Missed ? 1 : 0) + (Board.SuperIo.ignoredWrites() != 0 ? 1 : 0);
}

std::size_t SerialLossWarningCount(const sim::BoardState &Board) {
  return Board.deliveries(sim::DeviceId::Uart).LostBytes != 0 ? 1 : 0;
}

std::string SuperIoChipSummary(const sim::BoardState &Board) {
  const sim::SuperIoChip &Chip = Board.SuperIo;
  const sim::Deliveries &Count = Board.deliveries(sim::DeviceId::SuperIo);
  const std::uint64_t Meant = Count.Reached + Count.NotDecoded + Count.Elsewhere;
  if (Meant == 0) {
    return "";
  }
  std::ostringstream Out;
  Out << "Super I/O chip (configuration ports " << sim::HexText(SuperIo::IndexPort, 2) << "/"
      << sim::HexText(SuperIo::DataPort, 2) << " on LPC), as the run left it:\n";
  Out << "  " << Count.Reached << " of " << Meant << (Meant == 1 ? " access" : " accesses")
      << " to its ports reached it";
  if (Count.Reached != Meant) {
    Out << "; " << Missed(Count);
  }
  Out << "\n";
  if (Count.Reached != Meant) {
    const std::uint64_t Lost = Meant - Count.Reached;
    Out << "  WARNING: " << Lost << (Lost == 1 ? " access" : " accesses")
        << " to the Super I/O ports reached no chip: the bridge does not decode "
           "0x2E-0x2F to LPC when they are made\n";
  }
  Out << "  configuration mode: entered " << Times(Chip.entries()) << ", left "
      << Times(Chip.exits()) << (Chip.inConfigMode() ? "; still in it at the end" : "") << "\n";
  if (Chip.ignoredWrites() != 0) {
    Out << "  WARNING: " << Chip.ignoredWrites()
        << (Chip.ignoredWrites() == 1 ? " write" : " writes")
        << " reached the chip outside configuration mode and were ignored\n";
  }
  for (const auto &[Number, Registers] : Chip.logicalDevices()) {
    Out << "  logical device " << sim::HexText(Number, 2) << ":";
    for (const auto &[Register, Value] : Registers) {
      Out << (Register == Registers.begin()->first ? " " : ", ") << RegisterLine(Register, Value);
    }
    Out << "\n";
  }
  if (Chip.logicalDevices().empty()) {
    Out << "  no logical device was configured\n";
  }
  return Out.str();
}

std::string SerialLossSummary(const sim::BoardState &Board) {
  const sim::Deliveries &Count = Board.deliveries(sim::DeviceId::Uart);
  if (Count.LostBytes == 0) {
    return "";
  }
  std::string Why = Missed(Count);
  if (Why.empty()) {
    Why = "no device answers on this board";
  }
  return "  WARNING: " + std::to_string(Count.LostBytes) +
         (Count.LostBytes == 1 ? " byte" : " bytes") + " written to the UART at " +
         sim::HexText(sim::hw::Uart::TransmitPort, 3) + " reached no UART (accesses: " + Why +
         ")\n";
}

Json SuperIoJson(const sim::BoardState &Board) {
  const sim::SuperIoChip &Chip = Board.SuperIo;
  Json Logical = Json::array();
  for (const auto &[Number, Registers] : Chip.logicalDevices()) {
    Json Values = Json::array();
    for (const auto &[Register, Value] : Registers) {
      Values.push_back({{"register", Register}, {"value", Value}});
    }
    const auto Active = Registers.find(SuperIo::Activate);
    Logical.push_back(
        {{"number", Number},
         {"active", Active != Registers.end() && (Active->second & SuperIo::ActivateOn) != 0},
         {"registers", Values}});
  }
  return {{"config_mode", Chip.inConfigMode()},
          {"entries", Chip.entries()},
          {"exits", Chip.exits()},
          {"ignored_writes", Chip.ignoredWrites()},
          {"logical_devices", Logical}};
}

Json DevicesJson(const sim::BoardState &Board) {
  Json Out = Json::object();
  for (const BehindBridge &Each : Devices) {
    const sim::Deliveries &Count = Board.deliveries(Each.Device);
    Out[Each.Key] = {{"ports", Each.Ports},
                     {"reached", Count.Reached},
                     {"not_decoded", Count.NotDecoded},
                     {"decoded_elsewhere", Count.Elsewhere}};
  }
  Out["uart"]["bytes_lost"] = Board.deliveries(sim::DeviceId::Uart).LostBytes;
  return Out;
}

} // namespace boardsim
