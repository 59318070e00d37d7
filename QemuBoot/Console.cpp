// 16550 UART at 0x3F8: the port the emulator's "-serial" option connects, and the one the
// modules print on. Programmed here as a platform firmware would leave it: 115200 baud, 8N1.
#include "Console.h"

#include "HwAccess.h"

namespace Uart {
inline constexpr std::uint16_t Base = 0x03F8;
inline constexpr std::uint16_t Data = Base + 0;
inline constexpr std::uint16_t InterruptEnable = Base + 1;
inline constexpr std::uint16_t DivisorLow = Base + 0; // while the divisor latch is selected
inline constexpr std::uint16_t DivisorHigh = Base + 1;
inline constexpr std::uint16_t FifoControl = Base + 2;
inline constexpr std::uint16_t LineControl = Base + 3;
inline constexpr std::uint16_t ModemControl = Base + 4;
inline constexpr std::uint16_t LineStatus = Base + 5;

inline constexpr std::uint8_t InterruptsOff = 0x00;
inline constexpr std::uint8_t LineControlDivisorLatch = 0x80;
inline constexpr std::uint8_t LineControl8N1 = 0x03;
inline constexpr std::uint8_t FifoEnableAndClear = 0x07;
inline constexpr std::uint8_t ModemControlDtrRts = 0x03;
inline constexpr std::uint8_t LineStatusTransmitterEmpty = 0x20;
inline constexpr std::uint16_t Divisor115200 = 1; // 1.8432 MHz / 16 / 115200
} // namespace Uart

void ConsoleInit() {
  PortWrite8(Uart::InterruptEnable, Uart::InterruptsOff);
  PortWrite8(Uart::LineControl, Uart::LineControlDivisorLatch);
  PortWrite8(Uart::DivisorLow, static_cast<std::uint8_t>(Uart::Divisor115200));
  PortWrite8(Uart::DivisorHigh, static_cast<std::uint8_t>(Uart::Divisor115200 >> 8));
  PortWrite8(Uart::LineControl, Uart::LineControl8N1);
  PortWrite8(Uart::FifoControl, Uart::FifoEnableAndClear);
  PortWrite8(Uart::ModemControl, Uart::ModemControlDtrRts);
}

namespace {

void ConsoleWriteByte(char Byte) {
  while ((PortRead8(Uart::LineStatus) & Uart::LineStatusTransmitterEmpty) == 0) {
    CpuPause();
  }
  PortWrite8(Uart::Data, static_cast<std::uint8_t>(Byte));
}

} // namespace

void ConsoleWrite(const char *Text) {
  for (; *Text != '\0'; ++Text) {
    if (*Text == '\n') {
      ConsoleWriteByte('\r');
    }
    ConsoleWriteByte(*Text);
  }
}

void ConsoleWriteHex(std::uint64_t Value, unsigned Digits) {
  constexpr char HexDigits[] = "0123456789ABCDEF";
  constexpr unsigned BitsPerDigit = 4;
  constexpr unsigned DigitMask = 0xF;
  ConsoleWrite("0x");
  for (unsigned Digit = Digits; Digit > 0; --Digit) {
    ConsoleWriteByte(HexDigits[(Value >> ((Digit - 1) * BitsPerDigit)) & DigitMask]);
  }
}

bool CheckTrue(const char *What, bool Passed) {
  ConsoleWrite(Passed ? "QemuBoot: PASS " : "QemuBoot: FAIL ");
  ConsoleWrite(What);
  ConsoleWrite("\n");
  return Passed;
}

bool CheckValue(const char *What, std::uint64_t Value, std::uint64_t Expected, unsigned Digits) {
  const bool Passed = Value == Expected;
  ConsoleWrite(Passed ? "QemuBoot: PASS " : "QemuBoot: FAIL ");
  ConsoleWrite(What);
  ConsoleWrite(" ");
  ConsoleWriteHex(Value, Digits);
  if (!Passed) {
    ConsoleWrite(", expected ");
    ConsoleWriteHex(Expected, Digits);
  }
  ConsoleWrite("\n");
  return Passed;
}

void ExitEmulator(bool AllPassed) {
  ConsoleWrite(AllPassed ? "QemuBoot: all checks passed\n" : "QemuBoot: some checks failed\n");
  PortWrite8(DebugExit::Port, AllPassed ? DebugExit::AllChecksPassed : DebugExit::SomeCheckFailed);
  // Only reached without the exit device: stop here and let the caller's timeout end the run.
  DisableInterrupts();
  for (;;) {
    CpuPause();
  }
}

void FailAndExit(const char *Subject, const char *Reason) {
  ConsoleWrite("QemuBoot: FAIL ");
  ConsoleWrite(Subject);
  ConsoleWrite(": ");
  ConsoleWrite(Reason);
  ConsoleWrite("\n");
  ExitEmulator(false);
}
