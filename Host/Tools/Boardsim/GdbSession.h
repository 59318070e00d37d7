// gdb over a run of an image on the simulated board. The run waits at the module's entry
// instruction for gdb, then stops where gdb asks: a step, a breakpoint, a fault. The run is
// deterministic, so going back is going forward again: for reverse-stepi and reverse-continue the
// session throws Rewind out of the run, the caller makes the run again from its start on a board
// as it was, and the session stops it, silently, at the instruction asked for. The board's
// accesses reach gdb's console as they happen; records an earlier pass already gave are given once.
#pragma once

#include "Board.h"
#include "ImageRuns.h"
#include "Machine/Debugger.h"
#include "Server.h"
#include "Trace.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace boardsim {

// Thrown out of a run that must start again from its beginning.
struct Rewind {};

class GdbSession final : public imagerun::Debugger {
public:
  // Listens on 127.0.0.1:Port (0: a free port); UsageError when it cannot.
  explicit GdbSession(std::uint16_t Port);
  std::uint16_t port() const { return Server_.port(); }
  // Waits for gdb to connect, saying so on standard error with the commands gdb takes: What
  // names the run, Symbols loads its debug information (GdbSymbols).
  void waitForGdb(const std::string &What, const std::string &Symbols);
  // A boot: the gdb command that loads the driver's symbols, for its phase.
  void driverSymbols(std::string Symbols) { NextSymbols_ = std::move(Symbols); }

  // Each pass of the run starts with this.
  void beginPass();
  // Every record of a pass, in order: shows it on gdb's console when it is new, and answers
  // whether it is (an earlier pass gave the records before it).
  bool observe(const sim::TraceRecord &Record);
  // The run is over (the last pass): gdb is told it ended with Code.
  void finished(int Code);

  void instruction(imagerun::EmulatorCore &Core, std::uint64_t Address) override;
  void faulted(imagerun::EmulatorCore &Core, std::uint64_t Address,
               const std::string &Why) override;

private:
  enum class Mode { Step, Continue, Replay, Detached };
  // Serves gdb while the machine stands at the instruction counted Count_, then does what gdb
  // asked: sets the mode, or throws Rewind.
  void serve(imagerun::EmulatorCore &Core, gdbremote::StopReason Reason);
  // The accesses the instruction counted Count made, when a pass got past it; shown on the
  // console at a stop.
  void showAccessesOf(std::uint64_t Count);
  void show(const std::string &Line);

  gdbremote::Server Server_;
  Mode Mode_ = Mode::Step;             // the entry instruction stops
  std::uint64_t Count_ = 0;            // instructions of this pass so far
  std::uint64_t ReplayTo_ = 0;         // Replay: the instruction to stop at
  bool ReplayFromStart_ = false;       // Replay: going back reached the phase's first instruction
  std::vector<std::uint64_t> History_; // the address of each instruction, the farthest pass's
  std::uint64_t Records_ = 0, RecordsGiven_ = 0;
  // The accesses of the farthest pass, each with the instruction that made it.
  std::vector<std::pair<std::uint64_t, std::string>> Accesses_;
  // The processor mode of the connected gdb, and the first instruction of its phase (a boot's
  // driver runs after the early module, in another mode: gdb connects again for it).
  std::optional<bool> Wide_;
  std::uint64_t PhaseStart_ = 1;
  std::size_t Shown_ = 0; // console lines since gdb last resumed
  std::string NextSymbols_;
};

// The gdb command that loads the symbols of the image at ImagePath, loaded Offset bytes from
// where it was linked: its debug file beside it (as ELF for a 32-bit image, which runs where it
// was linked), or a note that there is none.
std::string GdbSymbols(const std::string &ImagePath, std::int64_t Offset);

// Makes a run under Session: Pass makes the whole run once with the sinks it is given, on Board
// as Settings make it, and returns the exit status gdb is told at its end; it is made again from
// the start each time gdb goes back, until a pass ends. Sinks see each record once. Runs is every
// image the run debugs.
void PassesUnderGdb(GdbSession &Session, std::span<imagerun::ImageRuns *const> Runs,
                    sim::Board &Board, const sim::Scenario &Settings,
                    std::span<const sim::TraceObserver> Sinks,
                    const std::function<int(std::span<const sim::TraceObserver>)> &Pass);

} // namespace boardsim
