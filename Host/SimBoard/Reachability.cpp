#include "Reachability.h"

#include "Trace.h"

#include <algorithm>

namespace sim {

bool DeviceReach::reachable() const {
  return !Ports.empty() &&
         std::all_of(Ports.begin(), Ports.end(), [](const PortReach &P) { return P.reaches(); });
}

bool DeviceReach::partly() const {
  return !reachable() &&
         std::any_of(Ports.begin(), Ports.end(), [](const PortReach &P) { return P.reaches(); });
}

std::vector<DeviceReach> DevicesReachable(const LpcBridgeModel &Bridge) {
  std::vector<DeviceReach> Devices;
  for (const Region &Each : BoardRegions) {
    if (!Each.BehindBridge) {
      continue;
    }
    auto Found = std::find_if(Devices.begin(), Devices.end(),
                              [&](const DeviceReach &D) { return D.Device == Each.Device; });
    if (Found == Devices.end()) {
      Devices.push_back({Each.Device, Each.Name, {}});
      Found = Devices.end() - 1;
    }
    for (std::uint64_t Port = Each.Base; Port < Each.Base + Each.Size; ++Port) {
      const auto At = static_cast<std::uint16_t>(Port);
      Found->Ports.push_back({At, Bridge.route(At)});
    }
  }
  return Devices;
}

std::string ReachText(const DeviceReach &Device) {
  std::string Text;
  for (std::size_t First = 0; First < Device.Ports.size();) {
    const PortReach &Start = Device.Ports[First];
    std::size_t Last = First;
    while (Last + 1 < Device.Ports.size() &&
           Device.Ports[Last + 1].Port == Device.Ports[Last].Port + 1 &&
           Device.Ports[Last + 1].Taken.Decoded == Start.Taken.Decoded &&
           Device.Ports[Last + 1].Taken.Target == Start.Taken.Target &&
           Device.Ports[Last + 1].Taken.By == Start.Taken.By) {
      ++Last;
    }
    const std::uint16_t End = Device.Ports[Last].Port;
    std::string Ports = HexText(Start.Port, 4) + (End == Start.Port ? "" : "-" + HexText(End, 4));
    Text += Text.empty() ? "" : "; ";
    if (!Start.Taken.Decoded) {
      Text += Ports + " not decoded";
    } else if (Start.reaches()) {
      Text += Ports + " on LPC (" + Start.Taken.By + ")";
    } else {
      Text += Ports + " decoded to " + TargetName(Start.Taken.Target) + " (" + Start.Taken.By +
              "), where the device is not";
    }
    First = Last + 1;
  }
  return Text;
}

} // namespace sim
