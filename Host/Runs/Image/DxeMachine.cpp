#include "DxeMachine.h"

#include "DxeServiceCalls.h"
#include "EmulatedMachine.h"
#include "ScratchMemory.h"
#include "Uefi/Uefi.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <stdexcept>

namespace imagerun {
namespace {

// The boot services table as a 64-bit driver sees it: after the table header, one pointer per
// service in this order. The driver may call LocateProtocol only; the name of any other slot it
// reaches goes into the report.
constexpr std::array<const char *, 44> BootServiceNames = {
    "RaiseTPL",
    "RestoreTPL",
    "AllocatePages",
    "FreePages",
    "GetMemoryMap",
    "AllocatePool",
    "FreePool",
    "CreateEvent",
    "SetTimer",
    "WaitForEvent",
    "SignalEvent",
    "CloseEvent",
    "CheckEvent",
    "InstallProtocolInterface",
    "ReinstallProtocolInterface",
    "UninstallProtocolInterface",
    "HandleProtocol",
    "Reserved",
    "RegisterProtocolNotify",
    "LocateHandle",
    "LocateDevicePath",
    "InstallConfigurationTable",
    "LoadImage",
    "StartImage",
    "Exit",
    "UnloadImage",
    "ExitBootServices",
    "GetNextMonotonicCount",
    "Stall",
    "SetWatchdogTimer",
    "ConnectController",
    "DisconnectController",
    "OpenProtocol",
    "CloseProtocol",
    "OpenProtocolInformation",
    "ProtocolsPerHandle",
    "LocateHandleBuffer",
    "LocateProtocol",
    "InstallMultipleProtocolInterfaces",
    "UninstallMultipleProtocolInterfaces",
    "CalculateCrc32",
    "CopyMem",
    "SetMem",
    "CreateEventEx",
};

using namespace machine::dxe;

constexpr std::size_t RegisterArguments = 4;
constexpr int ArgumentRegisters[RegisterArguments] = {UC_X86_REG_RCX, UC_X86_REG_RDX, UC_X86_REG_R8,
                                                      UC_X86_REG_R9};

// Every function the runs call in the driver is called Microsoft x64, its arguments in registers.
static_assert([] {
  for (const modules::Function &Each : modules::ModuleOf(modules::ModuleId::BoardInitDxe).Calls) {
    if (Each.Called != modules::Convention::MsX64 || Each.Parameters.size() > RegisterArguments) {
      return false;
    }
  }
  return true;
}());
constexpr std::size_t BootServiceSlots =
    (sizeof(EFI_BOOT_SERVICES) - sizeof(EFI_TABLE_HEADER)) / sizeof(std::uint64_t);
static_assert(BootServiceSlots == BootServiceNames.size());
static_assert(UnexpectedEntries + BootServiceSlots * EntryStride <=
              ServicePage + machine::PageSize);

} // namespace

DxeMachine::DxeMachine(const DxeImage &Image, sim::Board &Target, Tracking Follow)
    : BoardMachine(Target, {CpuMode::Bits64,
                            StackBase,
                            StackSize,
                            ExitTrap,
                            Image.Base,
                            machine::PageRoundUp(Image.Size),
                            {},
                            Follow,
                            Image.Memory,
                            Image.Code}),
      Image_(Image) {
  // Boot-services code memory: readable, writable and executable.
  mapRam(Image.Base, machine::PageRoundUp(Image.Size), UC_PROT_ALL);
  check(uc_mem_write(engine(), Image.Base, Image.Memory.data(), Image.Memory.size()),
        "place the image");
  mapRam(FirmwareBase, FirmwareRamSize, UC_PROT_READ | UC_PROT_WRITE);
  mapRam(ScratchBase, ScratchSize, UC_PROT_READ | UC_PROT_WRITE);
  buildFirmware();
  mapServices();
}

void DxeMachine::reuse(sim::Board &Target) {
  restart(Target);
  restoreImage();
  buildFirmware();
}

// The image's memory as loaded, page by page. A write into a page drops the code the emulator
// translated from it, so only the pages the last run changed (its data) are written back.
void DxeMachine::restoreImage() {
  const std::uint64_t Span = machine::PageRoundUp(Image_.Size);
  std::vector<std::uint8_t> Loaded(Span, 0);
  std::copy(Image_.Memory.begin(), Image_.Memory.end(), Loaded.begin());
  std::vector<std::uint8_t> Now(Span);
  if (!readRam(Image_.Base, Now.data(), Span)) {
    check(UC_ERR_READ_UNMAPPED, "read the image");
  }
  for (std::uint64_t Page = 0; Page < Span; Page += machine::PageSize) {
    if (!std::equal(Loaded.begin() + Page, Loaded.begin() + Page + machine::PageSize,
                    Now.begin() + Page)) {
      check(uc_mem_write(engine(), Image_.Base + Page, Loaded.data() + Page, machine::PageSize),
            "put back the image");
    }
  }
}

void DxeMachine::buildFirmware() {
  const standin::Settings &Settings = target().scenario().Firmware;
  const std::size_t Size = standin::MemorySize(Settings);
  // 64-bit words keep every table and HOB 8-byte aligned in host memory too.
  std::vector<std::uint64_t> Words(Size / sizeof(std::uint64_t), 0);
  // Every other boot service gets an entry of its own, so a call names the service.
  const standin::ServiceAddresses Services{LocateProtocolEntry, InSmmEntry, UnexpectedEntries,
                                           EntryStride};
  Firmware_ = standin::Firmware{};
  if (Size > FirmwareRamSize ||
      !standin::Build(Firmware_, Settings, Words.data(), Size, FirmwareBase, Services)) {
    throw std::runtime_error("emulator: the firmware stand-in does not fit its memory");
  }
  // The whole memory, so that nothing the last run wrote is left beyond the tables.
  Words.resize(FirmwareRamSize / sizeof(std::uint64_t), 0);
  if (!writeRam(FirmwareBase, Words.data(), FirmwareRamSize)) {
    check(UC_ERR_WRITE_UNMAPPED, "write the firmware's tables");
  }
}

void DxeMachine::mapServices() {
  check(uc_mem_map(engine(), ServicePage, machine::PageSize, UC_PROT_READ | UC_PROT_EXEC),
        "map the service entries");
  std::vector<std::uint64_t> Entries{LocateProtocolEntry, InSmmEntry};
  for (std::size_t Slot = 0; Slot < BootServiceSlots; ++Slot) {
    Entries.push_back(UnexpectedEntries + Slot * EntryStride);
  }
  for (const std::uint64_t Entry : Entries) {
    check(uc_mem_write(engine(), Entry, &Ret, sizeof Ret), "write a service entry");
  }
  uc_hook Hook;
  check(uc_hook_add(engine(), &Hook, UC_HOOK_CODE, reinterpret_cast<void *>(OnService), this,
                    ServicePage, ServicePage + machine::PageSize - 1),
        "hook the service entries");
}

std::string DxeMachine::describe(std::uint64_t Address) const {
  return Image_.describe(Address);
}

std::string DxeMachine::functionAt(std::uint64_t Address) const {
  return Image_.functionAt(Address);
}

std::vector<std::uint8_t> DxeMachine::read(std::uint64_t Address, std::size_t Size) const {
  std::vector<std::uint8_t> Bytes(Size);
  if (!readRam(Address, Bytes.data(), Size)) {
    return {};
  }
  return Bytes;
}

std::optional<std::uint64_t> DxeMachine::call(modules::Call Called,
                                              std::initializer_list<std::uint64_t> Arguments) {
  const modules::Function &Function = modules::FunctionOf(Called);
  if (Arguments.size() != Function.Parameters.size()) {
    throw std::logic_error(std::string("DxeMachine::call: not the arguments of ") + Function.Name);
  }
  const std::uint64_t Address = Image_.address(Called);
  if (stopped() != Stop::None) {
    return std::nullopt;
  }
  std::size_t Index = 0;
  for (const std::uint64_t Argument : Arguments) {
    setReg(ArgumentRegisters[Index++], Argument);
  }
  // At the call: 16-byte aligned, the shadow space above; the call pushes the return address.
  const std::uint64_t CallerRsp = (StackTop - ShadowSpace) & ~(CallAlignment - 1);
  const std::uint64_t Rsp = CallerRsp - ReturnAddressSize;
  const std::uint64_t ReturnAddress = ExitTrap;
  if (!writeRam(Rsp, &ReturnAddress, sizeof ReturnAddress)) {
    check(UC_ERR_WRITE_UNMAPPED, "push the return address");
  }
  if (!run(Address, Rsp, CallerRsp)) {
    return std::nullopt;
  }
  return reg(accumulator());
}

void DxeMachine::OnService(uc_engine *, std::uint64_t Address, std::uint32_t, void *Self) {
  auto &Machine = *static_cast<DxeMachine *>(Self);
  if (Machine.stopped() != Stop::None) {
    uc_emu_stop(Machine.engine());
    return;
  }
  Machine.guarded([&] { Machine.service(Address); });
}

void DxeMachine::service(std::uint64_t Address) {
  if (Address == LocateProtocolEntry) {
    locateProtocol();
    return;
  }
  if (Address == InSmmEntry) {
    inSmm();
    return;
  }
  const std::size_t Slot = (Address - UnexpectedEntries) / EntryStride;
  breach(std::string("the image called the boot service ") + BootServiceNames[Slot] + " (slot " +
         std::to_string(Slot) + ") from " + describe(pc()) +
         "; the driver may call no boot service but LocateProtocol");
}

// EFI_STATUS LocateProtocol(EFI_GUID *Protocol, VOID *Registration, VOID **Interface)
void DxeMachine::locateProtocol() {
  const std::uint64_t Protocol = reg(UC_X86_REG_RCX);
  const bool RegistrationGiven = reg(UC_X86_REG_RDX) != 0;
  const std::uint64_t Interface = reg(UC_X86_REG_R8);
  EFI_GUID Guid{};
  if (Protocol != 0 && !readRam(Protocol, &Guid, sizeof Guid)) {
    breach("CPU fault: LocateProtocol was given a protocol GUID at " + HexText(Protocol) +
           ", outside anything mapped, from " + describe(pc()));
    return;
  }
  const standin::LocateAnswer Answer = standin::LocateProtocol(
      Firmware_, Protocol != 0 ? &Guid : nullptr, RegistrationGiven, Interface != 0);
  if (Answer.InterfaceWritten && !writeRam(Interface, &Answer.Interface, sizeof Answer.Interface)) {
    breach("CPU fault: LocateProtocol was given an interface pointer at " + HexText(Interface) +
           ", not writable, from " + describe(pc()));
    return;
  }
  setReg(UC_X86_REG_RAX, Answer.Status);
  sim::AnnotateLocateProtocol(target(), Protocol != 0 ? &Guid : nullptr, RegistrationGiven,
                              Interface != 0, Answer);
}

// EFI_STATUS InSmm(EFI_SMM_BASE2_PROTOCOL *This, BOOLEAN *InSmram)
void DxeMachine::inSmm() {
  const std::uint64_t This = reg(UC_X86_REG_RCX);
  const std::uint64_t InSmram = reg(UC_X86_REG_RDX);
  const standin::InSmmAnswer Answer = standin::InSmm(Firmware_, This, InSmram != 0);
  if (Answer.InSmramWritten && !writeRam(InSmram, &Answer.InSmram, sizeof Answer.InSmram)) {
    breach("CPU fault: InSmm was given a BOOLEAN pointer at " + HexText(InSmram) +
           ", not writable, from " + describe(pc()));
    return;
  }
  setReg(UC_X86_REG_RAX, Answer.Status);
  sim::AnnotateInSmm(target(), Firmware_, This, InSmram != 0, Answer);
}

} // namespace imagerun
