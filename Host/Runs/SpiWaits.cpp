#include "SpiWaits.h"

#include "BoardSpi.h"

#include <algorithm>
#include <array>
#include <iterator>

namespace runs::spiwaits {
namespace {

using sim::AccessKind;
namespace Spi = sim::hw::Spi;

constexpr unsigned RegisterBytes = 4;

constexpr StatusWait NotBusy{"WaitStatusClear", "busy clear", Spi::StatusBusy, 0, true};
constexpr StatusWait TransmitReady{"WaitTransmitReady", "transmit FIFO not full and not busy",
                                   Spi::StatusTransmitNotFull | Spi::StatusBusy,
                                   Spi::StatusTransmitNotFull, true};
constexpr StatusWait NotReceivingBusy{"WaitStatusNotEqual", "not both receive-not-empty and busy",
                                      Spi::StatusReceiveNotEmpty | Spi::StatusBusy,
                                      Spi::StatusReceiveNotEmpty | Spi::StatusBusy, false};

constexpr StatusWait Quiet{"WaitReg0CQuiet", "register 0x0C bits 7:5 clear twice in a row",
                           Spi::Reg0CActivity, 0, true};
constexpr StatusWait Drained{"Drain", "register 0x48 reading zero", 0xFFFFFFFF, 0, true};

constexpr std::array<const StatusWait *, 2> AfterQuiet = {&NotBusy, &TransmitReady};
constexpr std::array<const StatusWait *, 1> AfterDrain = {&NotBusy};
constexpr std::array<const StatusWait *, 1> AfterFrame = {&TransmitReady};
constexpr std::array<const StatusWait *, 2> AfterLastFrame = {&NotReceivingBusy, &NotBusy};

struct Plan {
  AccessKind Kind;
  std::uint32_t Offset;
  std::span<const StatusWait *const> Waits;
};
constexpr Plan Plans[] = {
    {AccessKind::MemRead, Spi::Reg0C, AfterQuiet},
    {AccessKind::MemRead, Spi::Reg48, AfterDrain},
    {AccessKind::MemWrite, Spi::Data, AfterFrame},
    {AccessKind::MemRead, Spi::Data, AfterLastFrame},
};

bool IsRegisterAccess(const sim::TraceRecord &Record, AccessKind Kind, std::uint32_t Offset) {
  return Record.Kind == Kind && Record.Width == RegisterBytes &&
         Record.Address == Spi::RegisterWindow + Offset;
}

} // namespace

std::span<const StatusWait *const> WaitsAfter(const sim::TraceRecord &Before) {
  const auto Found = std::find_if(std::begin(Plans), std::end(Plans), [&](const Plan &Each) {
    return IsRegisterAccess(Before, Each.Kind, Each.Offset);
  });
  return Found == std::end(Plans) ? std::span<const StatusWait *const>{} : Found->Waits;
}

bool IsStatusRead(const sim::TraceRecord &Record) {
  return IsRegisterAccess(Record, AccessKind::MemRead, Spi::Status);
}

SplitReads Split(std::span<const StatusWait *const> Waits, std::span<const std::uint32_t> Reads) {
  SplitReads Made;
  std::size_t At = 0;
  for (const StatusWait *Wait : Waits) {
    if (At == Reads.size()) {
      break;
    }
    WaitSeen Seen{Wait};
    while (At < Reads.size() && Seen.Reads < Bound && !Seen.Ended) {
      Seen.Ended = Wait->over(Reads[At++]);
      ++Seen.Reads;
    }
    Seen.RanOut = !Seen.Ended && Seen.Reads == Bound;
    Made.Waits.push_back(Seen);
  }
  Made.Left = Reads.size() - At;
  return Made;
}

SplitReads SplitQuiet(std::span<const std::uint32_t> Reads) {
  SplitReads Made;
  Made.Unused = Reads.empty() ? 0 : 1;
  std::size_t At = Made.Unused;
  if (At == Reads.size()) {
    return Made;
  }
  WaitSeen Seen{&Quiet};
  // One attempt: a read with activity spends it; a quiet read is looked at again straight away.
  unsigned Attempts = 0;
  bool Midway = false; // the reads stop between an attempt's two reads
  while (Attempts < Bound && At < Reads.size() && !Seen.Ended) {
    ++Attempts;
    ++Seen.Reads;
    if (!Quiet.over(Reads[At++])) {
      continue;
    }
    if (At == Reads.size()) {
      Midway = true;
      break;
    }
    ++Seen.Reads;
    Seen.Ended = Quiet.over(Reads[At++]);
  }
  Seen.RanOut = !Seen.Ended && !Midway && Attempts == Bound;
  Made.Waits.push_back(Seen);
  Made.Left = Reads.size() - At;
  return Made;
}

SplitReads SplitDrain(std::span<const std::uint32_t> Reads) {
  SplitReads Made;
  if (Reads.empty()) {
    return Made;
  }
  WaitSeen Seen{&Drained};
  std::size_t At = 0;
  // A look at the register, and while it holds stale data and retries are left, a read that
  // pops one entry.
  for (unsigned Extra = 0; At < Reads.size(); ++Extra) {
    ++Seen.Reads;
    if (Drained.over(Reads[At++])) {
      Seen.Ended = true;
      break;
    }
    if (Extra == Retries) {
      Seen.RanOut = true;
      break;
    }
    if (At < Reads.size()) {
      ++Seen.Reads;
      ++At;
    }
  }
  Made.Waits.push_back(Seen);
  Made.Left = Reads.size() - At;
  return Made;
}

} // namespace runs::spiwaits
