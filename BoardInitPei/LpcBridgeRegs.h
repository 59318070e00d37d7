// The PCH's LPC/eSPI bridge (bus 0, device 31, function 0): the configuration registers that
// route legacy I/O cycles to the LPC bus or to an eSPI chip select, their fields, and the base
// ports its fixed decoders can take.
#pragma once

#include "PciConfig.h"
#include "Register.h"

#include <cstdint>

namespace LpcBridge {

inline constexpr std::uint32_t Bus = 0;
inline constexpr std::uint32_t Device = 31;
inline constexpr std::uint32_t Function = 0;

constexpr std::uint32_t ConfigAddress(std::uint32_t Register) {
  return PciAddress(Bus, Device, Function, Register);
}

namespace Reg {
inline constexpr Register32 VendorDeviceId{0x000};
inline constexpr Register16 IoDecodeRanges{0x080};  // shared by all targets
inline constexpr Register16 IoEnables{0x082};       // LPC / primary
inline constexpr Register32 GenericIoRange1{0x084}; // ranges 1-4 follow
inline constexpr Register16 EspiCs1IoEnables{0x0A0};
inline constexpr Register32 EspiCs1GenericIoRange{0x0A4};
// Chip selects 2 and 3 lie above the 256-byte legacy configuration space.
inline constexpr Register16 EspiCs2IoEnables{0x200};
inline constexpr Register32 EspiCs2GenericIoRange{0x204};
inline constexpr Register16 EspiCs3IoEnables{0x240};
inline constexpr Register32 EspiCs3GenericIoRange{0x244};
} // namespace Reg

inline constexpr std::uint32_t GenericIoRangeStride = 4;
// The LPC / primary target has four Generic I/O Range registers; each eSPI chip select has one.
inline constexpr std::uint32_t PrimaryGenericIoRanges = 4;
inline constexpr std::uint32_t ChipSelectGenericIoRanges = 1;

} // namespace LpcBridge

// Fields of the I/O Decode Ranges register and bits of the I/O Enables registers.
namespace IoDecodeRanges {
inline constexpr RegisterField Floppy{12, 12};
inline constexpr RegisterField Parallel{9, 8};
inline constexpr RegisterField ComB{6, 4};
inline constexpr RegisterField ComA{2, 0};
} // namespace IoDecodeRanges

namespace IoEnables {
inline constexpr std::uint16_t SuperIo4E = BitMask(13);          // configuration ports 0x4E/0x4F
inline constexpr std::uint16_t SuperIo2E = BitMask(12);          // configuration ports 0x2E/0x2F
inline constexpr std::uint16_t EmbeddedController = BitMask(11); // 0x62/0x66
inline constexpr std::uint16_t Keyboard = BitMask(10);           // 0x60/0x64
inline constexpr std::uint16_t GamePort208 = BitMask(9);
inline constexpr std::uint16_t GamePort200 = BitMask(8);
inline constexpr std::uint16_t Floppy = BitMask(3);
inline constexpr std::uint16_t Parallel = BitMask(2);
inline constexpr std::uint16_t ComB = BitMask(1);
inline constexpr std::uint16_t ComA = BitMask(0);
} // namespace IoEnables

// Generic I/O Range registers (the mirrors share the layout).
namespace GenericIoRange {
// Bits 7:2 of (window size - 1): a set bit leaves that port-address bit out of the compare.
inline constexpr RegisterField AddressMask{23, 18};
// Bits 15:2 of the window base; bits 1:0 are implied by the 4-byte minimum window.
inline constexpr RegisterField Base{15, 2};
inline constexpr std::uint32_t Enable = BitMask(0);

// The smallest window the register can express is 4 bytes, the largest 256.
inline constexpr std::uint32_t MinimumWindow = 4;
} // namespace GenericIoRange

// Base ports of the fixed decoders. A port's position in its list (PortPosition) is the value
// the bridge expects in the device's range field.
namespace IoDecodePorts {

inline constexpr std::uint16_t Floppy[] = {0x3F0, 0x370};
inline constexpr std::uint16_t Parallel[] = {0x378, 0x278, 0x3BC};
// Two further serial bases, 0x2F0 and 0x2E0, would follow at positions 8 and 9. The COM range
// fields are three bits wide and cannot hold those positions, so both are refused like any
// unlisted port.
inline constexpr std::uint16_t Serial[] = {0x3F8, 0x2F8, 0x220, 0x228, 0x238, 0x2E8, 0x338, 0x3E8};

// The four standard COM ports are opened together: 0x3F8 and 0x3E8 on the COM decoders, 0x2F8
// and 0x2E8 through one 256-byte generic window at 0x200.
inline constexpr std::uint16_t StandardSerial[] = {0x3F8, 0x3E8, 0x2F8, 0x2E8};
inline constexpr std::uint16_t StandardComA = 0x3F8;
inline constexpr std::uint16_t StandardComB = 0x3E8;
inline constexpr std::uint16_t StandardSerialWindow = 0x200;

inline constexpr std::uint16_t GamePort200 = 0x200;
inline constexpr std::uint16_t GamePort208 = 0x208;

inline constexpr std::uint16_t SuperIo2E = 0x2E;
inline constexpr std::uint16_t SuperIo4E = 0x4E;
// 0x62 (data) through 0x66 (command/status) go to the embedded controller as one block.
inline constexpr std::uint16_t EmbeddedControllerFirst = 0x62;
inline constexpr std::uint16_t EmbeddedControllerLast = 0x66;

} // namespace IoDecodePorts
