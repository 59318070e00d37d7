// Fields of the bridge's I/O Decode Ranges register and bits of its I/O Enables registers.
#pragma once

#include "RegisterField.h"

#include <cstdint>

// Each range field holds the position of the device's base port in its port list.
namespace IoDecodeRanges {
inline constexpr RegisterField Floppy{12, 1};
inline constexpr RegisterField Parallel{8, 2};
inline constexpr RegisterField ComB{4, 3};
inline constexpr RegisterField ComA{0, 3};
} // namespace IoDecodeRanges

namespace IoEnables {
inline constexpr std::uint16_t SuperIo4E = 1u << 13;          // configuration ports 0x4E/0x4F
inline constexpr std::uint16_t SuperIo2E = 1u << 12;          // configuration ports 0x2E/0x2F
inline constexpr std::uint16_t EmbeddedController = 1u << 11; // 0x62/0x66
inline constexpr std::uint16_t Keyboard = 1u << 10;           // 0x60/0x64
inline constexpr std::uint16_t GamePort208 = 1u << 9;
inline constexpr std::uint16_t GamePort200 = 1u << 8;
inline constexpr std::uint16_t Floppy = 1u << 3;
inline constexpr std::uint16_t Parallel = 1u << 2;
inline constexpr std::uint16_t ComB = 1u << 1;
inline constexpr std::uint16_t ComA = 1u << 0;
} // namespace IoEnables
