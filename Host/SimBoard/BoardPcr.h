// The PCH's private-configuration window for the DMI port as the board presents it. The DMI side
// keeps its own copy of the bridge's decode registers here: the mirrors.
#pragma once

#include "BoardRegister.h"

#include <array>
#include <cstdint>

namespace sim::hw::Pcr {

inline constexpr std::uint64_t Base = 0xFD880000;
inline constexpr std::uint64_t Size = 0x10000;

inline constexpr std::uint32_t GenericIoRange1Mirror = 0x2730; // four, 4 bytes apart
inline constexpr std::uint32_t IoDecodeRangesMirror = 0x2770;
inline constexpr std::uint32_t IoEnablesMirror = 0x2774; // one for every decode target
inline constexpr std::uint32_t EspiCs1GenericIoRangeMirror = 0x27BC;
inline constexpr std::uint32_t EspiCs2GenericIoRangeMirror = 0x27CC;
inline constexpr std::uint32_t EspiCs3GenericIoRangeMirror = 0x27D4;
inline constexpr std::uint32_t MirrorStride = 4;

inline constexpr std::array Registers = {
    NamedRegister{GenericIoRange1Mirror, 4, "Generic I/O Range 1 mirror"},
    NamedRegister{GenericIoRange1Mirror + MirrorStride, 4, "Generic I/O Range 2 mirror"},
    NamedRegister{GenericIoRange1Mirror + 2 * MirrorStride, 4, "Generic I/O Range 3 mirror"},
    NamedRegister{GenericIoRange1Mirror + 3 * MirrorStride, 4, "Generic I/O Range 4 mirror"},
    NamedRegister{IoDecodeRangesMirror, 2, "I/O Decode Ranges mirror"},
    NamedRegister{IoEnablesMirror, 2, "I/O Enables mirror"},
    NamedRegister{EspiCs1GenericIoRangeMirror, 4, "eSPI CS1 Generic I/O Range mirror"},
    NamedRegister{EspiCs2GenericIoRangeMirror, 4, "eSPI CS2 Generic I/O Range mirror"},
    NamedRegister{EspiCs3GenericIoRangeMirror, 4, "eSPI CS3 Generic I/O Range mirror"},
};

} // namespace sim::hw::Pcr
