// The driver's machine.
#pragma once

#include "BoardMachine.h"
#include "DxeStandIn.h"

#include <initializer_list>
#include <optional>
#include <vector>

namespace imagerun {

// The x86-64 machine around the driver loaded in RAM, with the DXE firmware stand-in in emulated
// memory and a page of service entries answered by the stand-in's service logic. The entry is
// called as the DXE dispatcher calls it (Microsoft x64); every service call is annotated.
class DxeMachine : public BoardMachine {
public:
  // The stand-in is built with the board's scenario settings.
  DxeMachine(const DxeImage &Image, sim::Board &Target, Tracking Follow = Tracking::Full);
  // The machine as built, for a new run on Target: the image's memory as loaded and the firmware
  // stand-in rebuilt with Target's scenario settings.
  void reuse(sim::Board &Target);

  // Calls the driver's function with up to four register arguments (RCX, RDX, R8, R9: Microsoft
  // x64) and returns what it left in RAX; nullopt when the run stopped instead (hung or breach).
  // Rethrows what a hook could not pass through the emulator.
  std::optional<std::uint64_t> call(modules::Call Called,
                                    std::initializer_list<std::uint64_t> Arguments);

  std::uint64_t systemTable() const { return Firmware_.SystemTable; }
  const standin::Firmware &firmware() const { return Firmware_; }
  // Bytes of emulated memory; empty when any of them is not mapped.
  std::vector<std::uint8_t> read(std::uint64_t Address, std::size_t Size) const;
  // Places bytes in emulated RAM (the scratch memory, ScratchMemory.h) before a call; false when
  // any of them is not mapped.
  bool write(std::uint64_t Address, const void *From, std::size_t Size) {
    return writeRam(Address, From, Size);
  }

private:
  std::string describe(std::uint64_t Address) const override;
  std::string functionAt(std::uint64_t Address) const override;
  std::optional<formats::SourceLine> lineAt(std::uint64_t Address) const override {
    return Image_.lineAt(Address);
  }

  void buildFirmware();
  void restoreImage();
  void mapServices();
  void service(std::uint64_t Address);
  void locateProtocol();
  void inSmm();
  static void OnService(uc_engine *Engine, std::uint64_t Address, std::uint32_t Size, void *Self);

  const DxeImage &Image_;
  standin::Firmware Firmware_;
};

} // namespace imagerun
