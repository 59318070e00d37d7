// The boot program's own serial console on the first UART, its check reporting and the way it
// ends the emulator. Shared by the 32-bit and the 64-bit part.
#pragma once

#include <cstdint>

namespace DebugExit {
// The emulator's isa-debug-exit device: writing V ends the run with exit status (V << 1) | 1.
inline constexpr std::uint16_t Port = 0x00F4;
inline constexpr std::uint8_t AllChecksPassed = 0x10; // exit status 33
inline constexpr std::uint8_t SomeCheckFailed = 0x11; // exit status 35
} // namespace DebugExit

// Digits printed for the kinds of values the boot program reports.
namespace HexWidth {
inline constexpr unsigned Count = 1;
inline constexpr unsigned Address = 8;
inline constexpr unsigned Status32 = 8;
inline constexpr unsigned Status64 = 16;
inline constexpr unsigned PerByte = 2;
} // namespace HexWidth

void ConsoleInit();
void ConsoleWrite(const char *Text);
void ConsoleWriteHex(std::uint64_t Value, unsigned Digits);

// Each prints one "QemuBoot: PASS ..." or "QemuBoot: FAIL ..." line and returns whether it passed.
bool CheckTrue(const char *What, bool Passed);
bool CheckValue(const char *What, std::uint64_t Value, std::uint64_t Expected, unsigned Digits);

[[noreturn]] void ExitEmulator(bool AllPassed);
// A fault that makes it pointless or unsafe to go on: report it and end the run as failed.
[[noreturn]] void FailAndExit(const char *Subject, const char *Reason);
