// Base ports of the fixed decoders. A port's position in its list (PortPosition) is the value
// the bridge expects in the device's range field.
#pragma once

#include <cstdint>

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
