// The firmware's bounded waits on the SPI controller, as the accesses of a run show them. The
// bring-up polls the status in waits that follow one another with no other access between them,
// so a run of status reads can hold two waits; which ones follows from the access before the run
// (the quiet wait on register 0x0C is followed by the busy wait and the transmit wait, the drain
// of register 0x48 by a busy wait, each frame written by the transmit wait, the last frame's data
// read by the receive wait and a last busy wait), and where one ends and the next begins from the
// values read. Registers 0x0C and 0x48 each have one wait of their own, the quiet wait after the
// bring-up's one unused read of 0x0C and the drain. The boardsim report and the fuzz checks split
// runs of reads here.
#pragma once

#include "Trace.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace runs::spiwaits {

// Every bounded wait makes one read and at most 16 retries before it gives up silently: a
// controller that never settles must not stop the boot. The host side's one copy of the
// firmware's bound. A status wait reads the status Bound times at most; the quiet wait makes Bound
// attempts (one read, or two when the first reads quiet); the drain makes Retries extra reads, each
// followed by another look at the register.
inline constexpr unsigned Retries = 16;
inline constexpr unsigned Bound = Retries + 1;

// A status wait ends when (status AND Mask) equals Value, or differs from it when Equal is false.
// The quiet wait ends on two reads in a row with the Mask bits clear, the drain on a read of zero.
struct StatusWait {
  const char *Function; // "WaitTransmitReady": the firmware's wait
  const char *WaitsFor; // "transmit FIFO not full and not busy"
  std::uint32_t Mask;
  std::uint32_t Value;
  bool Equal;
  bool over(std::uint32_t Status) const { return ((Status & Mask) == Value) == Equal; }
};

// The waits that read the status right after Before, in order; empty where no wait of the
// bring-up reads it next.
std::span<const StatusWait *const> WaitsAfter(const sim::TraceRecord &Before);

bool IsStatusRead(const sim::TraceRecord &Record);

// One wait as a run of status reads shows it.
struct WaitSeen {
  const StatusWait *Wait;
  std::uint64_t Reads = 0;
  bool Ended = false;  // it read the status as waited for
  bool RanOut = false; // it made its Bound reads without that
};

struct SplitReads {
  std::uint64_t Unused = 0;    // reads before the first wait that no wait makes
  std::vector<WaitSeen> Waits; // the waits that made the reads, in order
  std::uint64_t Left = 0;      // reads after the last wait gave up or ended: more than they make
};

// Splits the status values read in a row, right after the access the waits follow, among them.
// The last wait may have made fewer reads than its bound without its value when the reads stop.
SplitReads Split(std::span<const StatusWait *const> Waits, std::span<const std::uint32_t> Reads);

// Splits the values of register 0x0C read in a row (the bring-up's unused read, then the quiet
// wait) and of register 0x48 (the drain).
SplitReads SplitQuiet(std::span<const std::uint32_t> Reads);
SplitReads SplitDrain(std::span<const std::uint32_t> Reads);

} // namespace runs::spiwaits
