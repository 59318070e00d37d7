#include "CallRecord.h"

#include "BoardInitDxe/StatusCodeName.h"
#include "Trace.h"

#include <cstdio>

namespace sim {
namespace {

template <typename... Handlers> struct Overloaded : Handlers... { using Handlers::operator()...; };

std::string ArgumentText(const Operation &Made) {
  return std::visit(
      Overloaded{
          [](const PeiEntryCall &) -> std::string { return "FileHandle, PeiServices"; },
          [](const DxeEntryCall &) -> std::string { return "ImageHandle, SystemTable"; },
          [](const SetIoDecodeCall &Call) {
            return HexText(Call.Port, 4) + ", " + HexText(Call.Size, 2) + ", " +
                   HexText(Call.Attributes, 8);
          },
          [](const SetGenericIoRangeCall &Call) {
            return HexText(Call.Port, 4) + ", " + HexText(Call.SizeWord, 4);
          },
          [](const LocateProtocolCall &Call) {
            return (Call.Protocol ? GuidText(*Call.Protocol) : "NULL") + ", " +
                   (Call.RegistrationGiven ? "Registration" : "NULL") + ", " +
                   (Call.InterfaceGiven ? "Interface" : "NULL");
          },
          [](const InSmmCall &Call) {
            const char *This = Call.This == InSmmCall::Instance::SmmBase2 ? "SmmBase2"
                               : Call.This == InSmmCall::Instance::Null   ? "NULL"
                                                                          : "This";
            return std::string(This) + ", " + (Call.InSmramGiven ? "InSmram" : "NULL");
          },
      },
      Made);
}

// What a service did besides returning its status.
std::string Consequence(const Operation &Made) {
  if (const auto *Locate = std::get_if<LocateProtocolCall>(&Made);
      Locate && Locate->HandsBackNull) {
    return "; hands back NULL";
  }
  if (const auto *Smm = std::get_if<InSmmCall>(&Made); Smm && Smm->Stored) {
    return std::string("; stores ") + (*Smm->Stored ? "TRUE" : "FALSE");
  }
  return "";
}

} // namespace

const char *OperationName(const Operation &Made) {
  static constexpr const char *Names[] = {"BoardInitPeiEntry", "SetIoDecode",
                                          "SetGenericIoRange", "BoardInitDxeEntry",
                                          "LocateProtocol",    "InSmm"};
  static_assert(std::size(Names) == std::variant_size_v<Operation>);
  return Names[Made.index()];
}

unsigned StatusBits(const Operation &Made) {
  const bool EarlyInit = std::holds_alternative<PeiEntryCall>(Made) ||
                         std::holds_alternative<SetIoDecodeCall>(Made) ||
                         std::holds_alternative<SetGenericIoRangeCall>(Made);
  return EarlyInit ? 32 : 64;
}

std::string CallText(const CallRecord &Call) {
  return std::string(OperationName(Call.Made)) + "(" + ArgumentText(Call.Made) + ")";
}

std::string ResultText(const CallRecord &Call) {
  if (!Call.Status) {
    return "";
  }
  return StatusText(*Call.Status, StatusBits(Call.Made)) + Consequence(Call.Made);
}

const char *StatusName(std::uint64_t Status, unsigned Bits) {
  // The top bit of the native width marks an error; the class bits below it and the code keep
  // their places.
  const std::uint64_t ErrorBit = std::uint64_t{1} << (Bits - 1);
  const std::uint64_t Native = Bits < 64 ? Status & ((ErrorBit << 1) - 1) : Status;
  if (Native != Status) {
    return nullptr;
  }
  const std::uint64_t Wide =
      (Native & ErrorBit) != 0 ? (Native & ~ErrorBit) | (std::uint64_t{1} << 63) : Native;
  return GetStatusCodeName(Wide);
}

std::string StatusText(std::uint64_t Status, unsigned Bits) {
  const char *Name = StatusName(Status, Bits);
  return std::string(Name != nullptr ? Name : "status") + " (" +
         HexText(Status, static_cast<int>(Bits / 4)) + ")";
}

std::string GuidText(const EFI_GUID &Guid) {
  char Text[40];
  std::snprintf(Text, sizeof Text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", Guid.Data1,
                Guid.Data2, Guid.Data3, Guid.Data4[0], Guid.Data4[1], Guid.Data4[2], Guid.Data4[3],
                Guid.Data4[4], Guid.Data4[5], Guid.Data4[6], Guid.Data4[7]);
  return Text;
}

} // namespace sim
