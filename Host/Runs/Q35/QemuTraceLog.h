// The log QEMU writes of a guest's device accesses (`-trace 'memory_region_ops_*' -d guest_errors
// -D FILE`, as QEMU 7.2 prints it), read as the accesses a processor made, and cut into what each
// module did between the boot program's phase markers.
//
// The lines read, one access each:
//   memory_region_ops_read cpu 0 mr 0x55d0... addr 0x1808 value 0xad4b4 size 4 name 'acpi-tmr'
//   memory_region_ops_write cpu 0 mr 0x55d0... addr 0xcf8 value 0x8000f880 size 4 name
//   'pci-conf-idx' Invalid read at addr 0xFE033002, size 2, region '(null)', reason: rejected
// The first two are accesses a device region took (I/O ports and device memory; RAM and ROM are
// never logged). The third is QEMU's guest-error line for an access no region of q35 claims; it
// gives no value (QEMU 7.2 answers such a read with 0 and drops such a write). An optional
// "PID@SECONDS:" prefix (QEMU's -msg timestamp=on) is skipped. Every other line is no access.
#pragma once

#include "Trace.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace q35 {

// QEMU prints I/O-port and memory accesses alike; the address tells them apart on q35, where
// everything below 64 KiB of memory is RAM (never logged), so a logged address below this is a
// port.
inline constexpr std::uint64_t PortSpaceEnd = 0x10000;
// What QEMU 7.2 gives a read that no region claims: the value the guest-error line leaves out.
inline constexpr std::uint64_t UnclaimedReadValue = 0;

struct LoggedAccess {
  sim::AccessKind Kind = sim::AccessKind::PortIn; // PortIn, PortOut, MemRead or MemWrite
  unsigned Width = 0;                             // bytes
  std::uint64_t Address = 0;
  std::uint64_t Value = 0;
  // False for an access no region claims: the log has its place, width and direction only.
  bool ValueLogged = true;
  std::string Region;   // QEMU's name of the region that took it; empty when none did
  std::size_t Line = 0; // in the log, from 1
};

// A log QEMU did not write as expected, or one without the boot program's markers; what() names
// the line or the marker.
class LogError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// One line of the log: the access it records, or nullopt for a line that records none. Accesses a
// device made rather than a processor ("cpu -1": an interrupt message, a DMA transfer) are none.
// A line that names an access event but does not read as one throws LogError.
std::optional<LoggedAccess> ParseLogLine(std::string_view Line, std::size_t LineNumber);
std::vector<LoggedAccess> ParseLog(std::string_view Text);

// Each module's accesses: those strictly between its start and end marker (an 8-bit write of the
// marker's value to the marker port). Each marker must appear exactly once, the early module's
// before the driver's; otherwise LogError names the marker.
struct ModuleAccesses {
  std::vector<LoggedAccess> Pei;
  std::vector<LoggedAccess> Dxe;
};
ModuleAccesses CutByMarkers(const std::vector<LoggedAccess> &Log);

} // namespace q35
