// The shipped images as an implementation of the module runs, under CPU emulation on the simulated
// board: the same trace record for record and the same results as the host build, and what only
// the image can tell besides (RunResult::Image).
#pragma once

#include "Images.h"
#include "ModuleRuns.h"

#include <memory>
#include <optional>

namespace imagerun {

class Coverage;
class Debugger;
class PeiMachine;
class DxeMachine;

// Each module's machine is built on the first run and kept: every later run restores its registers
// and memory rather than building a new emulator, and finds the code already translated. One
// ImageRuns therefore makes one run at a time.
class ImageRuns final : public runs::ModuleRuns {
public:
  // The early-init image runs pei, decode and window; the driver's image runs dxe. Asking for a
  // run of an image not given is a logic error. Follow: how closely each run is followed.
  ImageRuns(std::optional<PeiImage> Pei, std::optional<DxeImage> Dxe,
            Tracking Follow = Tracking::Full);
  ~ImageRuns() override;
  ImageRuns(const ImageRuns &) = delete;
  ImageRuns &operator=(const ImageRuns &) = delete;

  runs::Implementation implementation() const override { return runs::Implementation::Image; }
  // The entry, called as the PEI core calls it: a file handle token and a pointer to a PEI
  // services table whose every service traps.
  runs::RunResult runPei(sim::Board &Target) const override;
  // The entry, called as the DXE dispatcher calls it: an image handle token and the stand-in's
  // system table; the module facts are read out of the image's gDxeModuleData.
  runs::RunResult runDxe(sim::Board &Target) const override;
  // Each request in order, calling the image's own SetIoDecode or SetGenericIoRange.
  runs::RunResult runDecodeRequests(sim::Board &Target,
                                    std::span<const DecodeRequestRow> Requests) const override;
  runs::RunResult runWindowRequests(sim::Board &Target,
                                    std::span<const runs::WindowRequest> Requests) const override;
  // The image's FormatBufferV with a va_list built in the scratch memory: the slots one after the
  // other, the references, the format and the buffer there too.
  runs::FormatResult runFormat(sim::Board &Target, const runs::FormatCall &Call) const override;
  // The image's GetStatusCodeName; the name read out of the image where it points.
  runs::StatusNameResult runStatusName(sim::Board &Target, std::uint64_t Status) const override;
  // The early-init image's RunIoScript over the rows laid out in its machine's script memory.
  runs::RunResult runScript(sim::Board &Target,
                            std::span<const sim::ScriptTableRow> Rows) const override;
  // The delay of the image the call names, called as its own code calls it.
  runs::DelayResult runDelay(sim::Board &Target, const runs::DelayCall &Call) const override;

  // Every run after this is followed by Debug (nullptr: none): the runs must follow in full.
  void debugWith(Debugger *Debug) { Debugger_ = Debug; }
  // Every instruction of an image that runs after this is told to Covered (nullptr: none).
  void coverWith(Coverage *Covered) { Coverage_ = Covered; }

private:
  const PeiImage &pei() const;
  // The machine for a run on Target, built or restored.
  PeiMachine &peiMachine(sim::Board &Target) const;
  DxeMachine &dxeMachine(sim::Board &Target) const;

  std::optional<PeiImage> Pei_;
  std::optional<DxeImage> Dxe_;
  Tracking Follow_;
  mutable std::unique_ptr<PeiMachine> PeiMachine_;
  mutable std::unique_ptr<DxeMachine> DxeMachine_;
  Debugger *Debugger_ = nullptr;
  Coverage *Coverage_ = nullptr;
};

} // namespace imagerun
