#include "SerialPrint.h"

#include "FormatBuffer.h"
#include "HwAccess.h"
#include "UartRegs.h"

#include <cstdarg>

namespace {

// The platform left the UART configured; a byte may only go out once the holding register has
// drained. A port that is not decoded reads all ones and so never holds a byte back.
void SendByte(char Byte) {
  while ((PortRead8(Uart16550::LineStatusPort) & Uart16550::LineStatus::TransmitHoldingEmpty) ==
         0) {
  }
  PortWrite8(Uart16550::TransmitHoldingPort, static_cast<std::uint8_t>(Byte));
}

} // namespace

void SerialPrint(const char *Format, ...) {
  char Buffer[SerialPrintBufferSize];
  // A rejected call writes nothing; the empty text then sends nothing.
  Buffer[0] = '\0';
  va_list Arguments;
  va_start(Arguments, Format);
  // The buffer's own size bounds the engine, so no message can run past the stack buffer.
  (void)FormatBufferV(Buffer, SerialPrintBufferSize, Format, Arguments);
  va_end(Arguments);

  for (std::uint64_t Index = 0; Index < SerialPrintBufferSize && Buffer[Index] != '\0'; ++Index) {
    // Terminals expect CR LF; the messages carry bare line feeds.
    if (Buffer[Index] == Ascii::LineFeed) {
      SendByte(Ascii::CarriageReturn);
    }
    SendByte(Buffer[Index]);
  }
}
