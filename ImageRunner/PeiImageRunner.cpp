#include "PeiImageRunner.h"

#include "EmulatedMachine.h"
#include "PeiMachine.h"

namespace imagerun {
namespace {

constexpr unsigned StatusBits = 32;

template <typename Request, typename Call>
RequestsImageRun RunRequests(const PeiImage &Image, sim::Board &Target,
                             std::span<const Request> Requests, Call &&Invoke) {
  RequestsImageRun Out;
  PeiMachine Machine(Image, Target);
  for (const Request &Each : Requests) {
    const std::optional<std::uint32_t> Status = Invoke(Machine, Each);
    if (!Status) {
      break;
    }
    Out.Run.Statuses.push_back(*Status);
  }
  ReportHung(Machine, Target, Out.Run);
  Out.Image = Machine.facts();
  return Out;
}

} // namespace

PeiImageRun RunPeiImage(const PeiImage &Image, sim::Board &Target) {
  PeiImageRun Out;
  PeiMachine Machine(Image, Target);
  const std::size_t Call = Target.enterCall("BoardInitPeiEntry", {}, "FileHandle, PeiServices");
  const std::optional<std::uint32_t> Status =
      Machine.call(Image.Entry, {machine::FileHandleToken, machine::ServicesPointer});
  if (Status) {
    Out.Run.EntryStatus = *Status;
    Target.returnCall(Call, *Status, sim::FormatStatus(*Status, StatusBits));
  }
  ReportHung(Machine, Target, Out.Run);
  Out.Image = Machine.facts();
  return Out;
}

RequestsImageRun RunDecodeRequestsInImage(const PeiImage &Image, sim::Board &Target,
                                          std::span<const DecodeRequestRow> Requests) {
  return RunRequests(Image, Target, Requests,
                     [&](PeiMachine &Machine, const DecodeRequestRow &Row) {
                       return Machine.call(Image.SetIoDecode, {Row.Port, Row.Size, Row.Attributes});
                     });
}

RequestsImageRun RunWindowRequestsInImage(const PeiImage &Image, sim::Board &Target,
                                          std::span<const sim::WindowRequest> Requests) {
  return RunRequests(Image, Target, Requests,
                     [&](PeiMachine &Machine, const sim::WindowRequest &Window) {
                       return Machine.call(Image.SetGenericIoRange, {Window.Port, Window.SizeWord});
                     });
}

} // namespace imagerun
