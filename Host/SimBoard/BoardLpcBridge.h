// The board's LPC/eSPI bridge as the hardware presents it: PCI function 0:31.0, whose
// configuration registers route legacy I/O cycles to the LPC bus or to an eSPI chip select.
// Written apart from the firmware's description on purpose: the board model must not take its
// facts from the code it checks.
#pragma once

#include "BoardPcr.h"
#include "BoardRegister.h"

#include <array>
#include <cstdint>
#include <span>

namespace sim::hw::LpcBridge {

// Bus 0, device 31, function 0: its place in the enhanced configuration window and on the
// address port (bits 23:8 of the latch).
inline constexpr std::uint64_t EcamOffset = 0xF8000;
inline constexpr std::uint32_t LatchFunction = 0x0000F800;
inline constexpr std::uint64_t ConfigSize = 0x1000;

inline constexpr std::uint32_t VendorDeviceId = 0x000;
inline constexpr std::uint32_t IoDecodeRanges = 0x080;
inline constexpr std::uint32_t IoEnables = 0x082;
inline constexpr std::uint32_t GenericIoRange1 = 0x084; // four, 4 bytes apart
inline constexpr std::uint32_t EspiCs1IoEnables = 0x0A0;
inline constexpr std::uint32_t EspiCs1GenericIoRange = 0x0A4;
inline constexpr std::uint32_t EspiCs2IoEnables = 0x200;
inline constexpr std::uint32_t EspiCs2GenericIoRange = 0x204;
inline constexpr std::uint32_t EspiCs3IoEnables = 0x240;
inline constexpr std::uint32_t EspiCs3GenericIoRange = 0x244;
inline constexpr std::uint32_t GenericIoRangeStride = 4;

inline constexpr std::array Registers = {
    NamedRegister{VendorDeviceId, 4, "bridge vendor/device ID"},
    NamedRegister{IoDecodeRanges, 2, "I/O Decode Ranges"},
    NamedRegister{IoEnables, 2, "I/O Enables"},
    NamedRegister{GenericIoRange1, 4, "Generic I/O Range 1"},
    NamedRegister{GenericIoRange1 + GenericIoRangeStride, 4, "Generic I/O Range 2"},
    NamedRegister{GenericIoRange1 + 2 * GenericIoRangeStride, 4, "Generic I/O Range 3"},
    NamedRegister{GenericIoRange1 + 3 * GenericIoRangeStride, 4, "Generic I/O Range 4"},
    NamedRegister{EspiCs1IoEnables, 2, "eSPI CS1 I/O Enables"},
    NamedRegister{EspiCs1GenericIoRange, 4, "eSPI CS1 Generic I/O Range"},
    NamedRegister{EspiCs2IoEnables, 2, "eSPI CS2 I/O Enables"},
    NamedRegister{EspiCs2GenericIoRange, 4, "eSPI CS2 Generic I/O Range"},
    NamedRegister{EspiCs3IoEnables, 2, "eSPI CS3 I/O Enables"},
    NamedRegister{EspiCs3GenericIoRange, 4, "eSPI CS3 Generic I/O Range"},
};

// I/O Decode Ranges: each range field holds the position of the device's base in its port list.
struct RangeField {
  unsigned High;
  unsigned Low;
};
inline constexpr RangeField ComA{2, 0};
inline constexpr RangeField ComB{6, 4};
inline constexpr RangeField Parallel{9, 8};
inline constexpr RangeField Floppy{12, 12};

inline constexpr std::uint16_t SerialPorts[] = {0x3F8, 0x2F8, 0x220, 0x228,
                                                0x238, 0x2E8, 0x338, 0x3E8};
inline constexpr std::uint16_t ParallelPorts[] = {0x378, 0x278, 0x3BC};
inline constexpr std::uint16_t FloppyPorts[] = {0x3F0, 0x370};

// A run of ports one decoder claims, as offsets from its base (or as ports, for fixed decoders).
struct PortSpan {
  std::uint16_t First;
  std::uint16_t Last;
};

// The ports a range-field decoder claims from the base its field selects: a UART's eight
// registers; a parallel port's eight (four at 0x3BC, the monochrome adapter's port, which has no
// extended registers); the floppy controller's registers, without 0x3F6/0x376 (the disk
// controller's).
inline constexpr PortSpan SerialSpans[] = {{0, 7}};
inline constexpr PortSpan ParallelSpans[] = {{0, 7}};
inline constexpr std::uint16_t ParallelShortPort = 0x3BC;
inline constexpr PortSpan ParallelShortSpans[] = {{0, 3}};
inline constexpr PortSpan FloppySpans[] = {{0, 5}, {7, 7}};

// The four standard PC COM ports (COM1-COM4).
inline constexpr std::uint16_t StandardComPorts[] = {0x3F8, 0x2F8, 0x3E8, 0x2E8};

// I/O Enables (the primary register and each chip select's): one bit a decoder.
namespace Enable {
inline constexpr std::uint16_t ComA = 1u << 0;
inline constexpr std::uint16_t ComB = 1u << 1;
inline constexpr std::uint16_t Parallel = 1u << 2;
inline constexpr std::uint16_t Floppy = 1u << 3;
inline constexpr std::uint16_t GamePort200 = 1u << 8;
inline constexpr std::uint16_t GamePort208 = 1u << 9;
inline constexpr std::uint16_t Keyboard = 1u << 10;           // 0x60/0x64
inline constexpr std::uint16_t EmbeddedController = 1u << 11; // 0x62/0x66
inline constexpr std::uint16_t SuperIo2E = 1u << 12;          // 0x2E/0x2F
inline constexpr std::uint16_t SuperIo4E = 1u << 13;          // 0x4E/0x4F
} // namespace Enable

// The devices of the I/O Decode Ranges register: each one's range field, the ports it selects
// from, its bit in I/O Enables and the ports it claims from its base.
struct RangeDevice {
  const char *Name;
  RangeField Field;
  std::span<const std::uint16_t> Ports;
  std::uint16_t Enable;
  std::span<const PortSpan> Spans;
};
inline constexpr RangeDevice RangeDevices[] = {
    {"COM A", ComA, SerialPorts, Enable::ComA, SerialSpans},
    {"COM B", ComB, SerialPorts, Enable::ComB, SerialSpans},
    {"parallel", Parallel, ParallelPorts, Enable::Parallel, ParallelSpans},
    {"floppy", Floppy, FloppyPorts, Enable::Floppy, FloppySpans},
};

// The decoders of I/O Enables whose ports are fixed: the enable bit, the decoder's name and its
// ports (at most two spans).
struct FixedDecoder {
  std::uint16_t Enable;
  const char *Name;
  PortSpan Spans[2];
  unsigned SpanCount;
};
inline constexpr FixedDecoder FixedDecoders[] = {
    {Enable::GamePort200, "game port 0x200", {{0x200, 0x207}}, 1},
    {Enable::GamePort208, "game port 0x208", {{0x208, 0x20F}}, 1},
    {Enable::Keyboard, "keyboard controller", {{0x60, 0x60}, {0x64, 0x64}}, 2},
    {Enable::EmbeddedController, "embedded controller", {{0x62, 0x62}, {0x66, 0x66}}, 2},
    {Enable::SuperIo2E, "configuration ports 0x2E/0x2F", {{0x2E, 0x2F}}, 1},
    {Enable::SuperIo4E, "configuration ports 0x4E/0x4F", {{0x4E, 0x4F}}, 1},
};

// A Generic I/O Range register: bit 0 enables the window, bits 15:2 hold its base, bits 23:18
// mask port-address bits 7:2 out of the compare. The other bits are reserved.
namespace GenericRange {
inline constexpr std::uint32_t Enable = 1u << 0;
inline constexpr std::uint32_t BaseMask = 0x0000FFFC;
inline constexpr std::uint32_t AddressMaskField = 0x00FC0000;
inline constexpr unsigned AddressMaskShift = 18;
inline constexpr unsigned AddressMaskPortShift = 2; // the field's lowest bit masks port bit 2
} // namespace GenericRange

// The Generic I/O Range slots of each decode target, with their private-configuration mirrors
// (BoardPcr.h): four on LPC / the primary target, one on each eSPI chip select.
struct SlotBank {
  const char *Name; // "LPC range" (numbered) or "eSPI CS1"
  std::uint32_t FirstRegister;
  std::uint32_t FirstMirror;
  unsigned Count;
};

// In decode-target order: LPC / primary, then eSPI chip selects 1-3.
inline constexpr std::array<SlotBank, 4> SlotBanks = {{
    {"LPC range", GenericIoRange1, Pcr::GenericIoRange1Mirror, 4},
    {"eSPI CS1", EspiCs1GenericIoRange, Pcr::EspiCs1GenericIoRangeMirror, 1},
    {"eSPI CS2", EspiCs2GenericIoRange, Pcr::EspiCs2GenericIoRangeMirror, 1},
    {"eSPI CS3", EspiCs3GenericIoRange, Pcr::EspiCs3GenericIoRangeMirror, 1},
}};

// The bases of two of the windows the early-init module opens on this board: a 4-byte window and
// a whole 256-byte one. The board after that phase holds them, and boardsim's help gives them as
// its examples of a request.
inline constexpr std::uint16_t EarlyFourByteWindow = 0x006C;
inline constexpr std::uint16_t EarlyWholeWindow = 0x0A00;

// Each chip select's I/O Enables register, chip selects 1-3.
inline constexpr std::array<std::uint32_t, 3> ChipSelectIoEnables = {
    EspiCs1IoEnables, EspiCs2IoEnables, EspiCs3IoEnables};

} // namespace sim::hw::LpcBridge
