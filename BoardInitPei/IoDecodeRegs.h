// Fields of the bridge's I/O Decode Ranges register and bits of its I/O Enables registers.
#pragma once

#include "Register.h"

#include <cstdint>

// Each range field holds the position of the device's base port in its port list.
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
