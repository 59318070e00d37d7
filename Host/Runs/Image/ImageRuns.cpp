#include "ImageRuns.h"

#include "BoardInitDxe/DxeModuleData.h"
#include "DxeMachine.h"
#include "EmulatedMachine.h"
#include "PeiMachine.h"
#include "ScratchMemory.h"

#include <cstddef>
#include <cstring>
#include <stdexcept>
#include <string>

namespace imagerun {
namespace {

// The module data lies in the image as the host build lays it out: both are x86-64, so the host
// struct's offsets are the image's.
static_assert(sizeof(void *) == 8, "the image's module data is read with x86-64 offsets");
static_assert(offsetof(DxeModuleData, HobList) == 16);
static_assert(offsetof(DxeModuleData, InSmm) == 32);
static_assert(sizeof(DxeModuleData) == 40);

runs::DxeFacts ReadDxeFacts(const DxeMachine &Machine, const DxeImage &Image) {
  runs::DxeFacts Facts;
  Facts.LocateProtocolCalls = Machine.firmware().Counted.LocateProtocol;
  Facts.InSmmCalls = Machine.firmware().Counted.InSmm;
  const std::vector<std::uint8_t> Bytes = Machine.read(Image.ModuleData, sizeof(DxeModuleData));
  if (!Bytes.empty()) {
    std::uint64_t HobList = 0;
    std::memcpy(&HobList, Bytes.data() + offsetof(DxeModuleData, HobList), sizeof HobList);
    Facts.HobListFound = HobList != 0;
    Facts.InSmm = Bytes[offsetof(DxeModuleData, InSmm)] != 0;
  }
  return Facts;
}

// While it lives, the board learns from the machine which of the image's functions makes each
// access.
class SourceFromMachine {
public:
  SourceFromMachine(sim::Board &Target, BoardMachine &Machine) : Target_(Target) {
    Target_.setAccessSource([&Machine] { return Machine.accessSite(); });
  }
  ~SourceFromMachine() { Target_.setAccessSource(nullptr); }
  SourceFromMachine(const SourceFromMachine &) = delete;
  SourceFromMachine &operator=(const SourceFromMachine &) = delete;

private:
  sim::Board &Target_;
};

// How the machine's run ended, as the host build reports it.
void Finish(runs::RunResult &Result, const BoardMachine &Machine, const sim::Board &Target) {
  Result.Ran = runs::Implementation::Image;
  static_cast<sim::RunOutcome &>(Result) = sim::Outcome(Target, Machine.hung());
  Result.Image = Machine.facts();
}

// The module's entry, called by Invoke on Machine and annotated as the host build annotates it.
template <typename Call>
runs::RunResult CallEntry(BoardMachine &Machine, sim::Board &Target, sim::Operation Made,
                          Call &&Invoke) {
  runs::RunResult Result;
  const SourceFromMachine Source(Target, Machine);
  const std::size_t Handle = Target.enterCall(std::move(Made));
  Result.EntryStatus = Invoke();
  if (Result.EntryStatus) {
    Target.returnCall(Handle, *Result.EntryStatus);
  }
  Finish(Result, Machine, Target);
  return Result;
}

template <typename Request, typename Call>
runs::RunResult RunRequests(PeiMachine &Machine, sim::Board &Target,
                            std::span<const Request> Requests, Call &&Invoke) {
  runs::RunResult Result;
  const SourceFromMachine Source(Target, Machine);
  for (const Request &Each : Requests) {
    const std::optional<std::uint32_t> Status = Invoke(Machine, Each);
    if (!Status) {
      break;
    }
    Result.Statuses.push_back(*Status);
  }
  Finish(Result, Machine, Target);
  return Result;
}

// A function of a module called outside any run of its entry: no annotation, the board only to
// answer what it might access.
template <typename Call>
runs::RunResult CallFunction(BoardMachine &Machine, sim::Board &Target, Call &&Invoke) {
  runs::RunResult Result;
  const SourceFromMachine Source(Target, Machine);
  Invoke();
  Finish(Result, Machine, Target);
  return Result;
}

template <typename AnyMachine>
void Place(AnyMachine &Machine, std::uint64_t Address, const void *From, std::size_t Size) {
  if (!Machine.write(Address, From, Size)) {
    throw std::logic_error("image runs: the scratch memory is not mapped");
  }
}

// The longest name read where GetStatusCodeName points.
constexpr std::size_t LongestStatusName = 64;

} // namespace

ImageRuns::ImageRuns(std::optional<PeiImage> Pei, std::optional<DxeImage> Dxe, Tracking Follow)
    : Pei_(std::move(Pei)), Dxe_(std::move(Dxe)), Follow_(Follow) {}

ImageRuns::~ImageRuns() = default;

PeiMachine &ImageRuns::peiMachine(sim::Board &Target) const {
  if (PeiMachine_) {
    PeiMachine_->reuse(Target);
  } else {
    PeiMachine_ = std::make_unique<PeiMachine>(pei(), Target, Follow_);
  }
  PeiMachine_->debugWith(Debugger_);
  PeiMachine_->coverWith(Coverage_);
  return *PeiMachine_;
}

DxeMachine &ImageRuns::dxeMachine(sim::Board &Target) const {
  if (!Dxe_) {
    throw std::logic_error("image runs: no driver image was given");
  }
  if (DxeMachine_) {
    DxeMachine_->reuse(Target);
  } else {
    DxeMachine_ = std::make_unique<DxeMachine>(*Dxe_, Target, Follow_);
  }
  DxeMachine_->debugWith(Debugger_);
  DxeMachine_->coverWith(Coverage_);
  return *DxeMachine_;
}

const PeiImage &ImageRuns::pei() const {
  if (!Pei_) {
    throw std::logic_error("image runs: no early-init image was given");
  }
  return *Pei_;
}

runs::RunResult ImageRuns::runPei(sim::Board &Target) const {
  PeiMachine &Machine = peiMachine(Target);
  return CallEntry(Machine, Target, sim::PeiEntryCall{}, [&] {
    return Machine.call(modules::Call::PeiEntry,
                        {machine::FileHandleToken, machine::ServicesPointer});
  });
}

runs::RunResult ImageRuns::runDxe(sim::Board &Target) const {
  Target.startAfterEarlyInit();
  DxeMachine &Machine = dxeMachine(Target);
  runs::RunResult Result = CallEntry(Machine, Target, sim::DxeEntryCall{}, [&] {
    return Machine.call(modules::Call::DxeEntry,
                        {machine::dxe::ImageHandleToken, Machine.systemTable()});
  });
  Result.Dxe = ReadDxeFacts(Machine, *Dxe_);
  return Result;
}

runs::RunResult ImageRuns::runDecodeRequests(sim::Board &Target,
                                             std::span<const DecodeRequestRow> Requests) const {
  return RunRequests(
      peiMachine(Target), Target, Requests, [&](PeiMachine &Machine, const DecodeRequestRow &Row) {
        return Machine.call(modules::Call::SetIoDecode, {Row.Port, Row.Size, Row.Attributes});
      });
}

runs::RunResult ImageRuns::runWindowRequests(sim::Board &Target,
                                             std::span<const runs::WindowRequest> Requests) const {
  return RunRequests(
      peiMachine(Target), Target, Requests,
      [&](PeiMachine &Machine, const runs::WindowRequest &Window) {
        return Machine.call(modules::Call::SetGenericIoRange, {Window.Port, Window.SizeWord});
      });
}

runs::FormatResult ImageRuns::runFormat(sim::Board &Target, const runs::FormatCall &Call) const {
  using namespace machine::dxe;
  if (Call.Arguments.size() > runs::FormatSlots || Call.Format.size() >= FormatTextRoom) {
    throw std::invalid_argument("format run: more arguments or format text than the scratch holds");
  }
  DxeMachine &Machine = dxeMachine(Target);
  std::uint64_t Slots[runs::FormatSlots] = {};
  std::uint64_t Next = FormatReferencesAt;
  for (std::size_t Slot = 0; Slot < Call.Arguments.size(); ++Slot) {
    const runs::FormatArgument &Each = Call.Arguments[Slot];
    if (!Each.Bytes) {
      Slots[Slot] = Each.Value;
      continue;
    }
    const std::uint64_t At = Next + Each.Misalign;
    if (At + Each.Bytes->size() > ScratchBase + ScratchSize) {
      throw std::invalid_argument("format run: the arguments' bytes overflow the scratch memory");
    }
    Place(Machine, At, Each.Bytes->data(), Each.Bytes->size());
    Slots[Slot] = At;
    Next = (At + Each.Bytes->size() + ReferenceAlignment - 1) & ~(ReferenceAlignment - 1);
  }
  Place(Machine, FormatSlotsAt, Slots, sizeof Slots);
  Place(Machine, FormatTextAt, Call.Format.c_str(), Call.Format.size() + 1);
  const std::size_t Room = runs::FormatRoomFor(Call.Capacity);
  runs::FormatResult Out;
  Out.Buffer.assign(Room + runs::FormatGuardBytes, runs::FormatPaint);
  Place(Machine, FormatBufferAt, Out.Buffer.data(), Out.Buffer.size());
  Out.Run = CallFunction(Machine, Target, [&] {
    const std::optional<std::uint64_t> Count = Machine.call(
        modules::Call::FormatBufferV, {Call.NullBuffer ? 0 : FormatBufferAt, Call.Capacity,
                                       Call.NullFormat ? 0 : FormatTextAt, FormatSlotsAt});
    Out.Count = Count;
  });
  Out.Buffer = Machine.read(FormatBufferAt, Out.Buffer.size());
  return Out;
}

runs::StatusNameResult ImageRuns::runStatusName(sim::Board &Target, std::uint64_t Status) const {
  DxeMachine &Machine = dxeMachine(Target);
  runs::StatusNameResult Out;
  std::optional<std::uint64_t> Name;
  Out.Run = CallFunction(Machine, Target,
                         [&] { Name = Machine.call(modules::Call::GetStatusCodeName, {Status}); });
  Out.Returned = Name.has_value();
  if (Name && *Name != 0) {
    std::string Text;
    for (std::uint64_t At = *Name; Text.size() < LongestStatusName; ++At) {
      const std::vector<std::uint8_t> Byte = Machine.read(At, 1);
      if (Byte.empty() || Byte[0] == 0) {
        break;
      }
      Text.push_back(static_cast<char>(Byte[0]));
    }
    Out.Name = Text;
  }
  return Out;
}

runs::RunResult ImageRuns::runScript(sim::Board &Target,
                                     std::span<const sim::ScriptTableRow> Rows) const {
  if (Rows.size() > machine::ScriptRowsSize / sim::ScriptRowBytes) {
    throw std::invalid_argument("script run: more rows than the script memory holds");
  }
  PeiMachine &Machine = peiMachine(Target);
  std::vector<std::uint8_t> Bytes;
  Bytes.reserve(Rows.size() * sim::ScriptRowBytes);
  for (const sim::ScriptTableRow &Row : Rows) {
    Bytes.insert(Bytes.end(), {static_cast<std::uint8_t>(Row.Port),
                               static_cast<std::uint8_t>(Row.Port >> 8), Row.AndMask, Row.OrValue});
  }
  if (!Bytes.empty()) {
    Place(Machine, machine::ScriptRowsBase, Bytes.data(), Bytes.size());
  }
  return CallFunction(Machine, Target, [&] {
    Machine.call(modules::Call::RunIoScript,
                 {machine::ScriptRowsBase, static_cast<std::uint32_t>(Rows.size())});
  });
}

runs::DelayResult ImageRuns::runDelay(sim::Board &Target, const runs::DelayCall &Call) const {
  runs::DelayResult Out;
  std::optional<std::uint64_t> Returned;
  if (Call.Module == modules::ModuleId::BoardInitPei) {
    PeiMachine &Machine = peiMachine(Target);
    Out.Run = CallFunction(Machine, Target, [&] {
      Returned = Machine.call(Call.Microseconds ? modules::Call::EarlyDelayMicroseconds
                                                : modules::Call::EarlyDelayTicks,
                              {static_cast<std::uint32_t>(Call.Count)});
    });
  } else {
    DxeMachine &Machine = dxeMachine(Target);
    Out.Run = CallFunction(Machine, Target, [&] {
      Returned =
          Machine.call(Call.Microseconds ? modules::Call::DriverDelayMicroseconds
                                         : modules::Call::DriverDelayTicks,
                       {Call.Microseconds ? Call.Count : static_cast<std::uint32_t>(Call.Count)});
    });
  }
  if (Call.Microseconds) {
    Out.Returned = Returned;
  }
  return Out;
}

} // namespace imagerun
