// The I/O decode map of a run on the bridge: where every decoded port range goes after the run
// (the LPC bus or an eSPI chip select), through a fixed decoder or a generic window; what each
// request asked against what it got; the decode registers the run changed, preset beside final;
// and warnings where a request's status hides what happened to the registers.
#pragma once

#include "Board.h"
#include "CallRecord.h"

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace runs {

// Where a decoder of the bridge sends a run of ports: the bridge model's own description.
using DecodedRange = sim::DecodedRange;

// One SetGenericIoRange call and the windows that hold its port after the run.
struct WindowOutcome {
  sim::CallRecord Call;
  bool IsRequest = false; // the request itself is this window call
  std::vector<DecodedRange> Holding;
};

struct RequestOutcome {
  sim::CallRecord Call;                 // the request as it was made
  std::size_t Index = 0;                // its place in the run's calls
  std::string Asked;                    // "serial COM A at 0x03F8 on LPC"
  bool TurnsOff = false;                // port 0: the request turns a device off
  std::vector<DecodedRange> PortGoesTo; // what decodes the asked port after the run
  std::vector<WindowOutcome> Windows;   // the window calls it made (or it is)
  bool StandardCom = false;             // a serial request for one of the standard COM ports
  std::vector<std::string> Warnings;    // the map's warnings about this request
  std::optional<std::size_t> Repeats;   // the first earlier request (in Requests) of the same call
};

struct RegisterChange {
  std::string Name; // "I/O Enables", "I/O Enables mirror"
  unsigned Width = 0;
  std::uint32_t Preset = 0, Final = 0;
};

struct StandardComPort {
  std::uint16_t Port = 0;
  std::vector<DecodedRange> DecodedBy;
};

struct DecodeMap {
  std::vector<DecodedRange> Ranges; // by first port
  std::vector<StandardComPort> StandardCom;
  std::vector<RequestOutcome> Requests;
  std::vector<RegisterChange> Changes;
  std::vector<std::string> Warnings;
  // Ports two decoders of one target both hold (a window inside a window): harmless, since the
  // cycle goes to the same place either way, but worth knowing.
  std::vector<std::string> Notes;
  // For each of Ranges: the requests (indices into Requests) that asked for it and succeeded,
  // and the window of the same target it lies inside when it is a window within another.
  std::vector<std::vector<std::size_t>> SetBy;
  std::vector<std::optional<std::size_t>> Inside;
};

// Watches a run for the decode registers changing inside each call: a refused request that still
// changed them deserves a warning. Add observe() as a trace observer of the board.
class DecodeWatch {
public:
  explicit DecodeWatch(const sim::Board &Board);
  void observe(const sim::TraceRecord &Record);
  // The calls (indices into the board's calls()) during which a decode register changed.
  const std::set<std::size_t> &changedIn() const { return ChangedIn_; }

private:
  std::vector<std::uint32_t> snapshot() const;

  const sim::Board &Board_;
  std::vector<std::uint32_t> Last_;
  std::set<std::size_t> ChangedIn_;
};

struct RunRecord;
// The map of the board at the end of a run of pei, decode or window, from its record (all but the
// map itself).
DecodeMap BuildDecodeMap(const RunRecord &Record);

// "0x03F8-0x03FF", "0x0060"
std::string PortRangeText(std::uint16_t First, std::uint16_t Last);

} // namespace runs
