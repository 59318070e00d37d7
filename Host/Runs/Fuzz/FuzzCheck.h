// Everything one fuzz input must satisfy. The input runs on two boards alike, once through the host
// build and once through the shipped image; then:
// - both give the same trace record for record (PAUSE included), the same results, the same
//   hung-or-finished outcome and the same calls in progress;
// - the image broke no rule (a write into flash or outside its stack, a firmware service it may
//   not use, a fault, executing RAM, a stack overflow) and its stack stayed within the module's
//   budget;
// - what the firmware promises whatever the hardware answers: every wait on an SPI status bit ends
//   once the bit reads as waited for or after its bound of reads (SpiWaits.h), and each PCI
//   configuration access through the ports puts back the address latch it found and the
//   interrupt flag.
#pragma once

#include "Board.h"
#include "FuzzInput.h"
#include "ModuleRuns.h"
#include "Trace.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fuzzruns {

// The stack each module's phase gives it, in bytes: the firmware build's budgets.
struct StackBudgets {
  std::uint32_t EarlyInit = 0;
  std::uint32_t Driver = 0;
};

struct Finding {
  std::string What;    // one line: "the image and the host build differ"
  std::string Details; // the evidence, several lines
};

// The two boards the runs are made on, kept from one input to the next so that their memory is
// reused rather than allocated again for every input.
struct BoardPair {
  sim::Board Host;
  sim::Board Image;
};

// Runs Input through Host and Image, each on its board of Boards set up afresh, and checks it;
// nullopt when everything holds.
std::optional<Finding> CheckInput(const runs::ModuleRuns &Host, const runs::ModuleRuns &Image,
                                  const BoardInput &Input, const StackBudgets &Budgets,
                                  BoardPair &Boards);

// Runs a call of the driver's format engine through Host and Image, each on its board of Boards
// set up as the default board, and checks it: the image broke no rule and stayed within the
// driver's stack budget, and both gave the same count, the same text up to it, the same byte at it
// and the same bytes past it (the rest of the room and the guard bytes). The host build refuses an
// unbounded call whose text would run past the buffer's room, as a caller must never make it; such
// a call is made with the room as its capacity instead, which cuts the text where the room ends.
std::optional<Finding> CheckFormatInput(const runs::ModuleRuns &Host, const runs::ModuleRuns &Image,
                                        runs::FormatCall Call, std::uint32_t DriverStack,
                                        BoardPair &Boards);

// Runs a script or a delay of the library target through Host and Image, each on its board of
// Boards set up from Input's settings and answered from its answers, and checks it: the image
// broke no rule and stayed within the stack budget of the module whose copy ran, and both gave the
// same trace record for record, hung or finished alike, and (DelayMicroseconds) returned the same.
std::optional<Finding> CheckLibraryInput(const runs::ModuleRuns &Host,
                                         const runs::ModuleRuns &Image, const LibraryInput &Input,
                                         const StackBudgets &Budgets, BoardPair &Boards);

// The two promises, checked on a trace whoever made it; Finished is false for a run that hung or
// stopped, whose trace may end inside a wait or an access. nullopt when the promise holds.
std::optional<std::string> SpiWaitFinding(const std::vector<sim::TraceRecord> &Trace,
                                          bool Finished);
std::optional<std::string> PciFrameFinding(const std::vector<sim::TraceRecord> &Trace,
                                           bool Finished);

} // namespace fuzzruns
