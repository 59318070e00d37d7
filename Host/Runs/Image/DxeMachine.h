// One emulated x86-64 machine around the driver: the loaded image in RAM, the DXE firmware
// stand-in built in emulated memory, a page of service entries whose calls are answered by the
// stand-in's service logic, and the board, stack and processor events of BoardMachine. The entry
// is called as the DXE dispatcher calls it (Microsoft x64 convention), and every service call is
// annotated on the board as the host run annotates it.
#pragma once

#include "BoardMachine.h"
#include "DxeStandIn.h"
#include "Images.h"

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace imagerun {

class DxeMachine : public BoardMachine {
public:
  // The stand-in is built with the board's scenario settings.
  DxeMachine(const DxeImage &Image, sim::Board &Target);

  // Calls the function at Address with up to four register arguments (RCX, RDX, R8, R9) and
  // returns what it left in RAX; nullopt when the run stopped instead (hung or breach).
  // Rethrows what a hook could not pass through the emulator.
  std::optional<std::uint64_t> call(std::uint64_t Address,
                                    std::initializer_list<std::uint64_t> Arguments);

  std::uint64_t systemTable() const { return Firmware_.SystemTable; }
  const standin::Firmware &firmware() const { return Firmware_; }
  // Bytes of emulated memory; empty when any of them is not mapped.
  std::vector<std::uint8_t> read(std::uint64_t Address, std::size_t Size) const;

private:
  std::string describe(std::uint64_t Address) const override;
  std::string functionAt(std::uint64_t Address) const override;

  void buildFirmware();
  void mapServices();
  void service(std::uint64_t Address);
  void locateProtocol();
  void inSmm();
  static void OnService(uc_engine *Engine, std::uint64_t Address, std::uint32_t Size, void *Self);

  const DxeImage &Image_;
  standin::Firmware Firmware_;
};

} // namespace imagerun
