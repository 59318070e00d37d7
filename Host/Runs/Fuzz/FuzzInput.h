// A fuzz input as one run of a module: the board it runs on (devices, preset registers, the DXE
// firmware around the driver), the requests it makes, and the hardware answers, every port and
// device-window read taking its value from them in order.
//
// Layout, little-endian, every field read as zero past the input's end:
//   board      u8 flags (bits 1:0 SPI presence 0 present, 1 absent, 2 dead, 3 present; bit 2 the
//              PM timer stuck; bit 3 every device reads all ones; bit 4 interrupts off at entry),
//              u32 SPI status, u32 SPI register 0x0C, u32 SPI register 0x48, u32 SPI clock, u32 PM
//              timer start, u8 UART line status
//   firmware   (the DXE entry only) u8 flags (bit 0 the HOB list in the configuration table; bit 1
//              the timer HOB; bits 3:2 SMM: absent, outside, inside, null interface; bit 4 a bare
//              HOB before the timer HOB), u16 its type, u16 its length (below 8, or taken down to a
//              multiple of 8, at most MaxExtraHobLength)
//   presets    (not the DXE entry) u8 count (at most MaxPresets), then per preset u8 space (bit 0:
//              0 the bridge's configuration registers, 1 the private-configuration window), u16
//              offset, u8 width (0 one byte, 1 two, else four), u32 value; an offset past the end
//              of the space is taken modulo the space
//   requests   (the request lists only) u8: bit 7 windows rather than decode requests, bits 6:0
//              the count (at most MaxRequests); per decode request u16 port, u8 size, u8 reserved,
//              u32 attributes; per window request u16 port, u16 size word
//   answers    the rest of the input
//
// The format target's input is a call of the driver's format engine instead (FormatInput below),
// and the library target's a script or a delay (LibraryInput below).
#pragma once

#include "CompareCases.h"
#include "DecodeRequest.h"
#include "FormatCall.h"
#include "LibraryCases.h"
#include "ModuleRuns.h"
#include "Scenario.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace fuzzruns {

// What a fuzz target runs: the early-init module's entry, its request lists, the driver's entry,
// the driver's format engine, the early-init module's script runner and both modules' delays.
enum class Target { Pei, Requests, Dxe, Format, Library };

inline constexpr std::size_t MaxPresets = 8;
inline constexpr std::size_t MaxRequests = 64;
inline constexpr std::uint16_t MaxExtraHobLength = 0x800;
// Accesses a run may make before it counts as hung, the same on both sides. A run on the board as
// the firmware expects it makes about 900 (early init) or 1,300 (driver); answers from the input
// lengthen the unbounded UART waits by at most one read and one pause a byte (the targets take
// inputs of up to MaxInputBytes). A PM-timer wait whose target an answer put out of reach spins
// until the budget ends it, so the budget is what such an input costs.
inline constexpr std::uint64_t StepBudget = 4000;
inline constexpr std::size_t MaxInputBytes = 1024;

struct BoardInput {
  comparison::Run What = comparison::Run::Pei;
  sim::Scenario Settings;
  std::vector<DecodeRequestRow> Decode;
  std::vector<runs::WindowRequest> Window;
  std::span<const std::uint8_t> Answers; // a part of the input: it must outlive the run
};

// Any bytes make a run: nothing is refused.
BoardInput Decode(Target For, std::span<const std::uint8_t> Input);

// The input that runs Each (a case of For's runs) with these answers: the seeds of the targets.
// Settings the layout cannot hold (the step budget, more presets or requests than it takes, a
// bare HOB's length past its limit) are left out or cut.
std::vector<std::uint8_t> Encode(Target For, const comparison::Case &Each,
                                 std::span<const std::uint8_t> Answers = {});

// A call of the driver's format engine, for the format target. Any bytes make a call. Layout,
// little-endian, every field read as zero past the input's end:
//   flags      u8: bit 0 a null buffer, bit 1 a null format, bits 3:2 the capacity's high part
//              (0 none, 1 2^32, 2 every bit from 16 up, 3 all ones whatever the low part)
//   capacity   u16, its low part
//   slots      u8 count (at most runs::FormatSlots), then per slot u8 head (bits 4:0 its bytes'
//              count, bits 7:5 the misalignment of a reference) and that many bytes
//   format     the rest of the input up to its first NUL
// What a slot is follows from the conversion that takes it, read off the format as the engine
// reads it: a width "*", c, r, d, i, x, X and p take a value (the slot's first 8 bytes), s and a
// 8-bit text, S 16-bit text, g and G a GUID (the bytes, with the NUL, the zero unit or the 16 bytes
// they need appended; 16-bit text on an even misalignment, as the engine reads it a unit at a
// time). A conversion that would take a slot past the last is cut off the format
// with all that follows, and a slot that the given count leaves out is one of no bytes. So no
// reference's address is ever printed (it differs between the host and the image) and no value is
// ever read through.
struct FormatInput {
  runs::FormatCall Call;
  std::size_t FormatCut = 0; // format bytes cut off: the conversion past the last slot onwards
};
FormatInput DecodeFormat(std::span<const std::uint8_t> Input);

// A run of the early-init module's script runner or of a module's PM-timer delay, for the library
// target. Any bytes make a run. Layout, little-endian, every field read as zero past the input's
// end:
//   head       u8: bit 0 a delay rather than a script; for a delay bit 1 the driver's copy rather
//              than the early-init module's, bit 2 microseconds rather than ticks
//   script     u8 row count (taken modulo MaxScriptRows + 1), then per row u16 port, u8 and-mask,
//              u8 or-value, as the module's table holds it
//   delay      the count: u64 for the driver's microseconds, u32 for the rest (the early-init
//              module's words, and the ticks both copies take)
//   timer      u32 where the PM timer's counter starts (bits above 24 are dropped by the board)
//   answers    the rest of the input: every read's value, in order at its width (a merge's port
//              read, each timer reading 4 bytes), then the board's models answer
// Each run has the step budget StepBudget: a delay whose readings the answers leave to the
// counter spins until the budget ends it, and the longest delay ends within it when the answers
// end each of its 1,024 passes at once (two readings a pass).
inline constexpr std::size_t MaxScriptRows = 64;
// A library input holds the readings of the longest delay: 1,024 passes of two readings of 4 bytes,
// and the fields before them.
inline constexpr std::size_t MaxLibraryInputBytes = 9 * 1024;

struct LibraryInput {
  bool Delay = false;
  std::vector<sim::ScriptTableRow> Rows; // a script's
  runs::DelayCall Call;                  // a delay's
  sim::Scenario Settings;                // the PM timer's start and the step budget
  std::span<const std::uint8_t> Answers; // a part of the input: it must outlive the run
};
LibraryInput DecodeLibrary(std::span<const std::uint8_t> Input);

// The inputs of the library comparison cases; rows past MaxScriptRows are left out.
std::vector<std::uint8_t> EncodeLibrary(const comparison::ScriptCase &Each);
std::vector<std::uint8_t> EncodeLibrary(const comparison::DelayCase &Each);

// The most bytes an input of the target is given (libFuzzer's -max_len): MaxInputBytes, or
// MaxLibraryInputBytes for the library target.
std::size_t InputLimit(Target For);

// The input of a call: a reference's bytes go as they are (an 8-bit text's NUL and a 16-bit
// text's zero unit with them), a value as its 8 bytes without the high zero bytes. Bytes past
// what a slot holds (31) and slots past runs::FormatSlots are left out.
std::vector<std::uint8_t> EncodeFormat(const runs::FormatCall &Call);

// The comparison cases a target's seeds come from: the cases of its runs (each entry on every
// named scenario it reads, the boards those leave out, the request tables), but for those that
// replace the module's tables, which the layout cannot hold. None for the format target: its
// seeds are the format comparison cases (comparison::FormatComparisonCases); none for the library
// target either, whose seeds are the script and delay cases (comparison::ScriptCases and
// DelayCases) that its layout holds: at most MaxScriptRows rows, at most MaxLibraryInputBytes.
std::vector<comparison::Case> SeedCases(Target For);

// The target's program, also the name of its seed folder in Fuzz/Corpus: "ImagePeiFuzz".
const char *TargetProgram(Target For);

// The file name a seed of the case named Name takes: "dxe SMM inside" is "dxe-smm-inside". Lower
// case, so that no file system that ignores case takes two seeds for one file.
std::string SeedFileName(std::string Name);

// One committed seed: a distinct input of the target, kept in a file named after the first case
// that makes it. Cases the layout cannot tell apart (it holds no step budget) share one seed.
struct Seed {
  std::string FileName;
  std::vector<std::uint8_t> Bytes;
  std::vector<std::string> Cases; // the cases it is the input of, in case order
};
std::vector<Seed> Seeds(Target For);

} // namespace fuzzruns
