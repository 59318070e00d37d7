// CRC-32 (the IEEE 802.3 polynomial, reflected), as UEFI table headers carry it; the boot program
// also uses it to notice any change to a placed module image.
#pragma once

#include <cstddef>
#include <cstdint>

std::uint32_t Crc32(const void *Data, std::size_t Size);
