// The x86 instructions whose effect belongs to the board's processor model rather than to the
// emulator: interrupt flag changes, flags reads, pause and time-stamp reads. The machine answers
// them from sim::Board and steps over them, so the trace and the values the module sees are the
// board's, exactly as on the host build. One table: the walk that finds them in the image's code
// before a lean run and the step that answers them both read it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace imagerun {

enum class ProcessorEventKind { Cli, Sti, Pushf, Pause, Rdtsc };

struct ProcessorEvent {
  ProcessorEventKind Kind;
  std::array<std::uint8_t, 2> Bytes; // the encoding, Length bytes of it
  std::size_t Length;
  const char *Name;
};

namespace x86 {
inline constexpr std::uint8_t Cli = 0xFA;
inline constexpr std::uint8_t Sti = 0xFB;
inline constexpr std::uint8_t Pushf = 0x9C;
// pause is rep nop.
inline constexpr std::uint8_t RepPrefix = 0xF3;
inline constexpr std::uint8_t Nop = 0x90;
// rdtsc is 0F 31.
inline constexpr std::uint8_t TwoByteEscape = 0x0F;
inline constexpr std::uint8_t Rdtsc = 0x31;
} // namespace x86

inline constexpr ProcessorEvent ProcessorEvents[] = {
    {ProcessorEventKind::Cli, {x86::Cli, 0}, 1, "cli"},
    {ProcessorEventKind::Sti, {x86::Sti, 0}, 1, "sti"},
    {ProcessorEventKind::Pushf, {x86::Pushf, 0}, 1, "pushf"},
    {ProcessorEventKind::Pause, {x86::RepPrefix, x86::Nop}, 2, "pause"},
    {ProcessorEventKind::Rdtsc, {x86::TwoByteEscape, x86::Rdtsc}, 2, "rdtsc"},
};

// The longest processor event, in bytes: an instruction longer than this is none of them.
inline constexpr std::size_t ProcessorEventBytes = 2;

// The event that the instruction of Length bytes at the start of Bytes is; nullptr when it is
// none. Length 0 (unknown) takes any event the bytes begin with.
const ProcessorEvent *ProcessorEventAt(std::span<const std::uint8_t> Bytes, std::size_t Length = 0);

} // namespace imagerun
