// The project's own minimal UEFI and PI definitions: only what the two modules and their
// simulated firmware environment touch, laid out as the published UEFI 2.x and PI 1.x tables.
#pragma once

#include <cstddef>
#include <cstdint>

// Calling convention of firmware interfaces: the Microsoft x64 convention on x86-64 (also when the
// code runs on a Linux host against the simulated board), the C convention on IA-32.
#if defined(__x86_64__)
#define EFIAPI __attribute__((ms_abi))
#else
#define EFIAPI
#endif

using EFI_STATUS = std::uintptr_t;
using EFI_HANDLE = void *;
using BOOLEAN = std::uint8_t;
using CHAR16 = std::uint16_t;

struct EFI_GUID {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];
};
static_assert(sizeof(EFI_GUID) == 16);

// Native-width status values of the 64-bit driver. The top bit marks an error.
inline constexpr EFI_STATUS EFI_ERROR_BIT = EFI_STATUS{1} << (sizeof(EFI_STATUS) * 8 - 1);
inline constexpr EFI_STATUS EFI_SUCCESS = 0;
inline constexpr EFI_STATUS EFI_INVALID_PARAMETER = EFI_ERROR_BIT | 2;
inline constexpr EFI_STATUS EFI_NOT_FOUND = EFI_ERROR_BIT | 14;

constexpr bool EfiIsError(EFI_STATUS Status) {
  return (Status & EFI_ERROR_BIT) != 0;
}

struct EFI_TABLE_HEADER {
  std::uint64_t Signature;
  std::uint32_t Revision;
  std::uint32_t HeaderSize;
  std::uint32_t CRC32;
  std::uint32_t Reserved;
};
static_assert(sizeof(EFI_TABLE_HEADER) == 24);

using EFI_LOCATE_PROTOCOL = EFI_STATUS(EFIAPI *)(const EFI_GUID *Protocol, void *Registration,
                                                 void **Interface);

// Boot services: only LocateProtocol is called; the services before it keep their slots.
inline constexpr std::size_t EfiBootServicesSlotsBeforeLocateProtocol = 37;
inline constexpr std::size_t EfiBootServicesSlotsAfterLocateProtocol = 6;

struct EFI_BOOT_SERVICES {
  EFI_TABLE_HEADER Hdr;
  void *ServicesBeforeLocateProtocol[EfiBootServicesSlotsBeforeLocateProtocol];
  EFI_LOCATE_PROTOCOL LocateProtocol;
  void *ServicesAfterLocateProtocol[EfiBootServicesSlotsAfterLocateProtocol];
};

struct EFI_CONFIGURATION_TABLE {
  EFI_GUID VendorGuid;
  void *VendorTable;
};

struct EFI_SYSTEM_TABLE {
  EFI_TABLE_HEADER Hdr;
  CHAR16 *FirmwareVendor;
  std::uint32_t FirmwareRevision;
  EFI_HANDLE ConsoleInHandle;
  void *ConIn;
  EFI_HANDLE ConsoleOutHandle;
  void *ConOut;
  EFI_HANDLE StandardErrorHandle;
  void *StdErr;
  void *RuntimeServices;
  EFI_BOOT_SERVICES *BootServices;
  std::uintptr_t NumberOfTableEntries;
  EFI_CONFIGURATION_TABLE *ConfigurationTable;
};

struct EFI_SMM_BASE2_PROTOCOL;
using EFI_SMM_INSIDE_OUT2 = EFI_STATUS(EFIAPI *)(const EFI_SMM_BASE2_PROTOCOL *This,
                                                 BOOLEAN *InSmram);
struct EFI_SMM_BASE2_PROTOCOL {
  EFI_SMM_INSIDE_OUT2 InSmm;
  void *GetSmstLocation;
};

// Hand-off blocks (PI, volume 3).
struct EFI_HOB_GENERIC_HEADER {
  std::uint16_t HobType;
  std::uint16_t HobLength;
  std::uint32_t Reserved;
};
static_assert(sizeof(EFI_HOB_GENERIC_HEADER) == 8);

struct EFI_HOB_GUID_TYPE {
  EFI_HOB_GENERIC_HEADER Header;
  EFI_GUID Name;
};
static_assert(offsetof(EFI_HOB_GUID_TYPE, Name) == 8);

// Phase hand-off information table: the first HOB of every list.
struct EFI_HOB_HANDOFF_INFO_TABLE {
  EFI_HOB_GENERIC_HEADER Header;
  std::uint32_t Version;
  std::uint32_t BootMode;
  std::uint64_t EfiMemoryTop;
  std::uint64_t EfiMemoryBottom;
  std::uint64_t EfiFreeMemoryTop;
  std::uint64_t EfiFreeMemoryBottom;
  std::uint64_t EfiEndOfHobList;
};
static_assert(sizeof(EFI_HOB_HANDOFF_INFO_TABLE) == 56);

inline constexpr std::uint16_t EFI_HOB_TYPE_HANDOFF = 0x0001;
inline constexpr std::uint16_t EFI_HOB_TYPE_GUID_EXTENSION = 0x0004;
inline constexpr std::uint16_t EFI_HOB_TYPE_END_OF_HOB_LIST = 0xFFFF;

// PEI module entry: file handle and PEI services table, neither used by this board's module.
using EFI_PEI_FILE_HANDLE = const void *;
struct EFI_PEI_SERVICES;

// The 64-bit table layouts the driver relies on.
#if defined(__x86_64__)
static_assert(offsetof(EFI_SYSTEM_TABLE, BootServices) == 96);
static_assert(offsetof(EFI_SYSTEM_TABLE, NumberOfTableEntries) == 104);
static_assert(offsetof(EFI_SYSTEM_TABLE, ConfigurationTable) == 112);
static_assert(offsetof(EFI_BOOT_SERVICES, LocateProtocol) == 0x140);
static_assert(sizeof(EFI_BOOT_SERVICES) == 0x178);
static_assert(sizeof(EFI_CONFIGURATION_TABLE) == 24);
static_assert(offsetof(EFI_SMM_BASE2_PROTOCOL, InSmm) == 0);
#endif
