// Which devices behind the LPC bridge a firmware run can reach, by the bridge's registers at one
// moment: each port of each device, where the bridge sends a cycle to it.
#pragma once

#include "Board.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct PortReach {
  std::uint16_t Port = 0;
  Route Taken; // where the bridge sends a cycle to the port
  // The cycle reaches the device: decoded to the target it sits on.
  bool reaches() const { return Taken.Decoded && Taken.Target == OnLpc; }
};

struct DeviceReach {
  DeviceId Device = DeviceId::Empty;
  const char *Name = ""; // "UART"
  std::vector<PortReach> Ports;
  bool reachable() const; // every port of the device
  bool partly() const;    // some ports, not all
};

// Every device behind the bridge, in the order of the board's address map.
std::vector<DeviceReach> DevicesReachable(const LpcBridgeModel &Bridge);

// "0x03F8-0x03FF on LPC (COM A decoder)", "0x0060 and 0x0064 on LPC (keyboard controller)",
// "not decoded", "0x03F8-0x03FF decoded to eSPI CS1, where it is not"; runs of ports with one
// route are told together.
std::string ReachText(const DeviceReach &Device);

} // namespace sim
