// A reference model of the bridge's decode programming, written from the register rules rather
// than from the module: the fuzz target runs both and compares.
#pragma once

#include <cstdint>

namespace model {

inline constexpr std::uint32_t Success = 0;
inline constexpr std::uint32_t InvalidParameter = 0x80000002;
inline constexpr std::uint32_t Unsupported = 0x80000003;
inline constexpr std::uint32_t OutOfResources = 0x80000009;

inline constexpr unsigned EnableRegisters = 4; // primary, eSPI chip selects 1-3
inline constexpr unsigned GenericSlots = 7;    // primary 1-4, then one per chip select

// The registers the decode programming may change, bridge side and mirror side.
struct Registers {
  std::uint16_t Decode = 0;
  std::uint16_t DecodeMirror = 0;
  std::uint16_t Enables[EnableRegisters] = {};
  std::uint16_t EnablesMirror = 0;
  std::uint32_t Generic[GenericSlots] = {};
  std::uint32_t GenericMirror[GenericSlots] = {};
  bool operator==(const Registers &) const = default;
};

// Bridge configuration offsets and mirror offsets (from the private-configuration window base).
inline constexpr std::uint32_t DecodeOffset = 0x80;
inline constexpr std::uint32_t DecodeMirrorOffset = 0x2770;
inline constexpr std::uint32_t EnablesOffset[EnableRegisters] = {0x82, 0xA0, 0x200, 0x240};
inline constexpr std::uint32_t EnablesMirrorOffset = 0x2774;
inline constexpr std::uint32_t GenericOffset[GenericSlots] = {0x84, 0x88,  0x8C, 0x90,
                                                              0xA4, 0x204, 0x244};
inline constexpr std::uint32_t GenericMirrorOffset[GenericSlots] = {0x2730, 0x2734, 0x2738, 0x273C,
                                                                    0x27BC, 0x27CC, 0x27D4};

struct DecodeResult {
  std::uint32_t Status = Success;
  bool Refused = false; // refused before any register was touched
};

std::uint32_t ApplyWindow(Registers &State, std::uint16_t Port, std::uint16_t SizeWord);
DecodeResult ApplyDecode(Registers &State, std::uint16_t Port, std::uint8_t Size,
                         std::uint32_t Attributes);

} // namespace model
