#include "DxeImageRunner.h"

#include "BoardInitDxe/DxeModuleData.h"
#include "DxeEmulatedMachine.h"
#include "DxeMachine.h"

#include <cstddef>
#include <cstring>

namespace imagerun {
namespace {

// The driver's statuses are 64 bits wide.
constexpr unsigned StatusBits = 64;

// The module data lies in the image as the host build lays it out: both are x86-64, so the host
// struct's offsets are the image's.
static_assert(sizeof(void *) == 8, "the image's module data is read with x86-64 offsets");
static_assert(offsetof(DxeModuleData, HobList) == 16);
static_assert(offsetof(DxeModuleData, InSmm) == 32);
static_assert(sizeof(DxeModuleData) == 40);

void ReadModuleData(const DxeMachine &Machine, const DxeImage &Image, sim::DxeRunResult &Run) {
  const std::vector<std::uint8_t> Bytes = Machine.read(Image.ModuleData, sizeof(DxeModuleData));
  if (Bytes.empty()) {
    return;
  }
  std::uint64_t HobList = 0;
  std::memcpy(&HobList, Bytes.data() + offsetof(DxeModuleData, HobList), sizeof HobList);
  Run.HobListFound = HobList != 0;
  Run.InSmm = Bytes[offsetof(DxeModuleData, InSmm)] != 0;
}

} // namespace

DxeImageRun RunDxeImage(const DxeImage &Image, sim::Board &Target) {
  DxeImageRun Out;
  DxeMachine Machine(Image, Target);
  const std::size_t Call = Target.enterCall("BoardInitDxeEntry", {}, "ImageHandle, SystemTable");
  const std::optional<std::uint64_t> Status =
      Machine.call(Image.Entry, {machine::dxe::ImageHandleToken, Machine.systemTable()});
  if (Status) {
    Out.Run.EntryStatus = *Status;
    Target.returnCall(Call, *Status, sim::FormatStatus(*Status, StatusBits));
  }
  ReportHung(Machine, Target, Out.Run);
  ReadModuleData(Machine, Image, Out.Run);
  Out.Run.LocateProtocolCalls = Machine.firmware().Counted.LocateProtocol;
  Out.Run.InSmmCalls = Machine.firmware().Counted.InSmm;
  Out.Image = Machine.facts();
  return Out;
}

} // namespace imagerun
