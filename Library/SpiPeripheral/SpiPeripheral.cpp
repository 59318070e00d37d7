#include "SpiPeripheral.h"

#include "PmTimer.h"
#include "SpiRegs.h"

namespace {

using namespace SpiController;

std::uint32_t ReadReg(PhysicalAddress Window, Register32 Reg) {
  return MmioRead32(Window + Reg.Offset);
}

void WriteReg(PhysicalAddress Window, Register32 Reg, std::uint32_t Value) {
  MmioWrite32(Window + Reg.Offset, Value);
}

void ModifyReg(PhysicalAddress Window, Register32 Reg, std::uint32_t AndMask,
               std::uint32_t OrBits) {
  ModifyRegister<MmioRead32, MmioWrite32>(Window + Reg.Offset, AndMask, OrBits);
}

// The controller's status bits settle within a few register reads; a controller that never
// settles must not stop the boot, so every wait gives up silently after a fixed number of reads.
void WaitStatusClear(PhysicalAddress Window, std::uint32_t Bits) {
  for (unsigned Read = 0; Read < PollReads; ++Read) {
    if ((ReadReg(Window, Reg::Status) & Bits) == 0) {
      return;
    }
  }
}

void WaitStatusNotEqual(PhysicalAddress Window, std::uint32_t Mask, std::uint32_t Value) {
  for (unsigned Read = 0; Read < PollReads; ++Read) {
    if ((ReadReg(Window, Reg::Status) & Mask) != Value) {
      return;
    }
  }
}

void WaitStatusEqual(PhysicalAddress Window, std::uint32_t Mask, std::uint32_t Value) {
  for (unsigned Read = 0; Read < PollReads; ++Read) {
    if ((ReadReg(Window, Reg::Status) & Mask) == Value) {
      return;
    }
  }
}

// Transmit FIFO has room and the shifter is idle.
void WaitTransmitReady(PhysicalAddress Window) {
  WaitStatusEqual(Window, Status::TransmitNotFull | Status::Busy, Status::TransmitNotFull);
}

// Bits 7:5 of register 0x0C must read clear twice in a row before the controller is quiet: one
// clear reading can fall in the gap between two transfers, and only a second clear reading
// straight after it says the activity has ended. A set bit in either reading costs an attempt.
void WaitReg0CQuiet(PhysicalAddress Window) {
  for (unsigned Attempt = 0; Attempt < PollReads; ++Attempt) {
    if ((ReadReg(Window, Reg::Reg0C) & Reg0C::ActivityMask) != 0) {
      continue;
    }
    if ((ReadReg(Window, Reg::Reg0C) & Reg0C::ActivityMask) == 0) {
      return;
    }
  }
}

void SetClock(PhysicalAddress Window) {
  if (ReadReg(Window, Reg::Clock) == Clock::Target) {
    return;
  }
  // Enable first, then load the dividers, then pulse the update bit: the divider is latched on
  // the update bit's rising edge, so the bit is cleared before it is set even when it already
  // reads set. Each step is its own write, read back by the next.
  WriteReg(Window, Reg::Clock, Clock::Enable);
  ModifyReg(Window, Reg::Clock, AllOnes, Clock::Dividers);
  ModifyReg(Window, Reg::Clock, ~Clock::Update, 0);
  ModifyReg(Window, Reg::Clock, AllOnes, Clock::Update);
}

// Register 0x48 reads non-zero while stale data remain; each extra read pops one entry.
void Drain(PhysicalAddress Window) {
  unsigned ExtraReads = 0;
  while (ReadReg(Window, Reg::Reg48) != 0 && ExtraReads < PollRetries) {
    (void)ReadReg(Window, Reg::Reg48);
    ++ExtraReads;
  }
}

} // namespace

bool SpiPeripheralPresent() {
  return MmioRead16(AddressTable[ConfigWindowIndex] + ConfigDeviceId.Offset) == ExpectedDeviceId;
}

// SPI is full duplex: while the frame goes out a word comes in. Reading the data register takes
// that word out of the receive FIFO, so five frames never fill it; the word itself is not used.
std::uint32_t SpiSendFrame(PhysicalAddress Window, std::uint16_t Frame) {
  WriteReg(Window, Reg::Data, Frame);
  WaitTransmitReady(Window);
  DelayMicroseconds(FrameDelayMicroseconds);
  return ReadReg(Window, Reg::Data);
}

void SpiPeripheralBringUp() {
  const PhysicalAddress Window = AddressTable[RegisterWindowIndex];
  if (Window == 0 || Window == InvalidWindow) {
    return;
  }
  if (ReadReg(Window, Reg::Control0) == AllOnes) {
    return;
  }
  WriteReg(Window, Reg::Control0, Control0::BringUpValue);
  WriteReg(Window, Reg::Control1, 0);
  SetClock(Window);
  // One read of 0x0C whose value nothing uses, before the wait makes its own reads. The bring-up
  // has always made it; it is kept so that the controller sees the same accesses, in the same
  // order, as the sequence this board was brought up with.
  (void)ReadReg(Window, Reg::Reg0C);
  WaitReg0CQuiet(Window);
  WaitStatusClear(Window, Status::Busy);
  WaitTransmitReady(Window);
  Drain(Window);
  WaitStatusClear(Window, Status::Busy);
  for (const std::uint16_t Frame : SpiPeripheralFrames::InitSequence) {
    (void)SpiSendFrame(Window, Frame);
  }
  WaitStatusNotEqual(Window, Status::ReceiveNotEmpty | Status::Busy,
                     Status::ReceiveNotEmpty | Status::Busy);
  WaitStatusClear(Window, Status::Busy);
}
