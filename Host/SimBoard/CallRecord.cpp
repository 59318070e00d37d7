#include "CallRecord.h"

#include "BoardInitDxe/StatusCodeName.h"
#include "Trace.h"

#include <cstdio>

namespace sim {
namespace {

// {F4CCBFB7-F6E0-47FD-9DD4-10A8F150C191}
std::string GuidText(const EFI_GUID &Guid) {
  char Text[40];
  std::snprintf(Text, sizeof Text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", Guid.Data1,
                Guid.Data2, Guid.Data3, Guid.Data4[0], Guid.Data4[1], Guid.Data4[2], Guid.Data4[3],
                Guid.Data4[4], Guid.Data4[5], Guid.Data4[6], Guid.Data4[7]);
  return Text;
}

// "FileHandle, PeiServices": an entry's arguments are pointers, named by their parameters.
std::string ParameterNames(modules::Call Called) {
  std::string Text;
  for (const char *Name : modules::FunctionOf(Called).Parameters) {
    Text += (Text.empty() ? "" : ", ") + std::string(Name);
  }
  return Text;
}

std::string ArgumentText(const Operation &Made) {
  if (std::holds_alternative<PeiEntryCall>(Made) || std::holds_alternative<DxeEntryCall>(Made)) {
    return ParameterNames(*FunctionCalled(Made));
  }
  if (const auto *Decode = std::get_if<SetIoDecodeCall>(&Made)) {
    return HexText(Decode->Port, 4) + ", " + HexText(Decode->Size, 2) + ", " +
           HexText(Decode->Attributes, 8);
  }
  if (const auto *Window = std::get_if<SetGenericIoRangeCall>(&Made)) {
    return HexText(Window->Port, 4) + ", " + HexText(Window->SizeWord, 4);
  }
  if (const auto *Locate = std::get_if<LocateProtocolCall>(&Made)) {
    return (Locate->Protocol ? GuidText(*Locate->Protocol) : "NULL") + ", " +
           (Locate->RegistrationGiven ? "Registration" : "NULL") + ", " +
           (Locate->InterfaceGiven ? "Interface" : "NULL");
  }
  const auto &Smm = std::get<InSmmCall>(Made);
  const char *This = Smm.This == InSmmCall::Instance::SmmBase2 ? "SmmBase2"
                     : Smm.This == InSmmCall::Instance::Null   ? "NULL"
                                                               : "This";
  return std::string(This) + ", " + (Smm.InSmramGiven ? "InSmram" : "NULL");
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

std::optional<modules::Call> FunctionCalled(const Operation &Made) {
  return std::visit(
      [](const auto &Each) -> std::optional<modules::Call> {
        if constexpr (requires { Each.Function; }) {
          return Each.Function;
        } else {
          return std::nullopt;
        }
      },
      Made);
}

const char *OperationName(const Operation &Made) {
  if (const std::optional<modules::Call> Called = FunctionCalled(Made)) {
    return modules::FunctionOf(*Called).Name;
  }
  return std::holds_alternative<LocateProtocolCall>(Made) ? "LocateProtocol" : "InSmm";
}

const modules::Module &ModuleOf(const Operation &Made) {
  const std::optional<modules::Call> Called = FunctionCalled(Made);
  return Called ? modules::ModuleCalled(*Called)
                : modules::ModuleOf(modules::ModuleId::BoardInitDxe);
}

unsigned StatusBits(const Operation &Made) {
  return modules::WordBits(ModuleOf(Made));
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

} // namespace sim
