// Bring-up of the peripheral behind the PCH's SPI controller.
#pragma once

#include "HwAccess.h"

#include <cstdint>

// True when the controller's configuration window answers with the expected device ID.
bool SpiPeripheralPresent();

// Configures the controller for 16-bit SPI frames, drains it and sends the peripheral its five
// initialisation frames. Every wait is bounded; nothing is reported.
void SpiPeripheralBringUp();

// Sends one frame and returns the word read back from the data register.
BOARD_REGCALL std::uint32_t SpiSendFrame(PhysicalAddress Window, std::uint16_t Frame);
