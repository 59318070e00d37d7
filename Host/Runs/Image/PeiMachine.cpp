#include "PeiMachine.h"

#include "EmulatedMachine.h"
#include "ImageTables.h"
#include "PeiStandIn.h"
#include "ScratchMemory.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace imagerun {
namespace {

using namespace machine;

constexpr const modules::Module &PeiModule = modules::ModuleOf(modules::ModuleId::BoardInitPei);

// The functions the runs call in the module take their arguments on the stack (cdecl) or, for the
// library functions, the first three in registers (regparm(3)).
constexpr std::size_t RegisterArguments = 3;
constexpr int ArgumentRegisters[RegisterArguments] = {UC_X86_REG_EAX, UC_X86_REG_EDX,
                                                      UC_X86_REG_ECX};
constexpr std::size_t MostArguments = [] {
  std::size_t Most = 0;
  for (const modules::Function &Each : PeiModule.Calls) {
    if (Each.Called == modules::Convention::Regparm32 &&
        Each.Parameters.size() > RegisterArguments) {
      throw std::logic_error("a regparm call of the early-init module with stack arguments");
    }
    if (Each.Called != modules::Convention::Cdecl32 &&
        Each.Called != modules::Convention::Regparm32) {
      throw std::logic_error("the early-init module's functions are called cdecl or regparm");
    }
    Most = std::max(Most, Each.Parameters.size());
  }
  return Most;
}();

constexpr std::uint32_t StackSlot = modules::PointerBytes(PeiModule);

const char *ServiceAt(std::uint64_t Address) {
  if (Address < ServiceTrapBase || (Address - ServiceTrapBase) % ServiceTrapStride != 0) {
    return nullptr;
  }
  const std::uint64_t Index = (Address - ServiceTrapBase) / ServiceTrapStride;
  return Index < standin::pei::ServiceCount ? standin::pei::ServiceNames[Index] : nullptr;
}

} // namespace

PeiMachine::PeiMachine(const PeiImage &Image, sim::Board &Target, Tracking Follow)
    : BoardMachine(Target, {CpuMode::Bits32, StackBase, StackSize, ExitTrap, Image.Base,
                            PageRoundUp(Image.Size), Image.Bytes, Follow, Image.Bytes, Image.Code}),
      Image_(Image) {
  // The entry is the run's own call; the two decode operations are annotated where they begin.
  watch(Image.SetIoDecode);
  watch(Image.SetGenericIoRange);
  // Flash: readable and executable, never writable.
  check(uc_mem_map(engine(), Image.Base, PageRoundUp(Image.Size), UC_PROT_READ | UC_PROT_EXEC),
        "map the image");
  check(uc_mem_write(engine(), Image.Base, Image.Bytes.data(), Image.Bytes.size()),
        "place the image");
  // The services table is the PEI core's: the module reads it and writes nothing outside its
  // stack, so a write here faults and is named.
  check(uc_mem_map(engine(), ServicesPage, PageSize, UC_PROT_READ), "map the PEI services table");
  writeServices();
  // Rows handed to the module's script runner: read-only, as its own script in flash.
  check(uc_mem_map(engine(), ScriptRowsBase, ScriptRowsSize, UC_PROT_READ), "map the script rows");
  placeTables(Target);
}

// The services table needs no rewriting: the module cannot write it.
void PeiMachine::reuse(sim::Board &Target) {
  restart(Target);
  Pending_.clear();
  placeTables(Target);
}

// Written only when the rows change, so the default runs keep the code the emulator translated.
void PeiMachine::placeTables(const sim::Board &Target) {
  const sim::TableRows &Rows = Target.scenario().Tables;
  if (!Rows.replaces() && !TablesReplaced_) {
    return;
  }
  const std::vector<std::uint8_t> Flash =
      Rows.replaces() ? BytesWithTables(Image_, Rows) : Image_.Bytes;
  check(uc_mem_write(engine(), Image_.Base, Flash.data(), Flash.size()), "place the tables");
  TablesReplaced_ = Rows.replaces();
}

// The services page as mapped (zeroes), with the table and the pointer to it.
void PeiMachine::writeServices() {
  std::uint8_t Page[PageSize] = {};
  standin::pei::BuildServicesTable(Page + (ServicesTable - ServicesPage), ServiceTrapBase,
                                   ServiceTrapStride);
  const std::uint32_t TableAddress = ServicesTable;
  std::memcpy(Page + (ServicesPointer - ServicesPage), &TableAddress, sizeof TableAddress);
  check(uc_mem_write(engine(), ServicesPage, Page, sizeof Page), "write the PEI services table");
}

std::string PeiMachine::describe(std::uint64_t Address) const {
  return Image_.describe(Address);
}

std::string PeiMachine::functionAt(std::uint64_t Address) const {
  return Image_.Map.describe(Address);
}

std::optional<std::uint32_t> PeiMachine::call(modules::Call Called,
                                              std::initializer_list<std::uint32_t> Arguments) {
  const modules::Function &Function = modules::FunctionOf(Called);
  if (Arguments.size() != Function.Parameters.size()) {
    throw std::logic_error(std::string("PeiMachine::call: not the arguments of ") + Function.Name);
  }
  const std::uint32_t Address = Image_.address(Called);
  if (stopped() != Stop::None) {
    return std::nullopt;
  }
  // cdecl: the arguments right to left above the return address; regparm: in registers.
  std::vector<std::uint32_t> Frame{ExitTrap};
  if (Function.Called == modules::Convention::Cdecl32) {
    Frame.insert(Frame.end(), Arguments.begin(), Arguments.end());
  } else {
    std::size_t Index = 0;
    for (const std::uint32_t Argument : Arguments) {
      setReg(ArgumentRegisters[Index++], Argument);
    }
  }
  const std::uint32_t Esp = StackTop - static_cast<std::uint32_t>(Frame.size()) * StackSlot;
  if (!writeRam(Esp, Frame.data(), Frame.size() * StackSlot)) {
    check(UC_ERR_WRITE_UNMAPPED, "push the arguments");
  }
  if (!run(Address, Esp, Esp + StackSlot)) {
    return std::nullopt;
  }
  const auto Eax = static_cast<std::uint32_t>(reg(accumulator()));
  // The runner's own call of an annotated function returns here, not to an address in the image.
  while (!Pending_.empty() && Pending_.back().ReturnAddress == ExitTrap) {
    target().returnCall(Pending_.back().Call, Eax);
    Pending_.pop_back();
  }
  return Eax;
}

void PeiMachine::enterCall(sim::Operation Made, std::uint32_t Esp) {
  std::uint32_t ReturnAddress = 0;
  if (!readRam(Esp, &ReturnAddress, sizeof ReturnAddress)) {
    breach("CPU fault: the return address of the call at " + Image_.describe(pc()) +
           " lies outside the stack");
    return;
  }
  const std::size_t Call = target().enterCall(std::move(Made));
  Pending_.push_back({static_cast<std::uint32_t>(pc()), Call, ReturnAddress, Esp});
}

void PeiMachine::returnCalls(std::uint32_t Address, std::uint32_t Esp) {
  // A call has returned when its caller resumes with the return address popped.
  while (!Pending_.empty() && Pending_.back().ReturnAddress == Address &&
         Esp > Pending_.back().EntryEsp) {
    const auto Eax = static_cast<std::uint32_t>(reg(accumulator()));
    target().returnCall(Pending_.back().Call, Eax);
    Pending_.pop_back();
  }
}

// A caller resumes at the start of a block: the return ends the block before it.
void PeiMachine::entered(std::uint64_t Address) {
  if (!Pending_.empty()) {
    returnCalls(static_cast<std::uint32_t>(Address),
                static_cast<std::uint32_t>(reg(stackPointer())));
  }
}

bool PeiMachine::instruction(std::uint64_t Address, std::uint64_t StackPointer) {
  const auto Pc = static_cast<std::uint32_t>(Address);
  const auto Esp = static_cast<std::uint32_t>(StackPointer);
  returnCalls(Pc, Esp);
  // A jump back to a function's first instruction with the same stack is no new call.
  const bool Reentered =
      !Pending_.empty() && Pending_.back().Function == Pc && Pending_.back().EntryEsp == Esp;
  if ((Pc != Image_.SetIoDecode && Pc != Image_.SetGenericIoRange) || Reentered) {
    return true;
  }
  // cdecl: return address at the stack pointer, the arguments above it, each in a 32-bit slot of
  // which the callee reads the parameter's own width.
  const bool Decode = Pc == Image_.SetIoDecode;
  std::uint32_t Slots[MostArguments] = {};
  const std::size_t Count =
      modules::FunctionOf(Decode ? modules::Call::SetIoDecode : modules::Call::SetGenericIoRange)
          .Parameters.size();
  if (!readRam(Esp + StackSlot, Slots, Count * StackSlot)) {
    breach("CPU fault: the arguments of the call at " + Image_.describe(Pc) +
           " lie outside the stack");
    return false;
  }
  const auto Port = static_cast<std::uint16_t>(Slots[0]);
  if (Decode) {
    const auto Size = static_cast<std::uint8_t>(Slots[1]);
    const std::uint32_t Attributes = Slots[2];
    enterCall(sim::SetIoDecodeCall{Port, Size, Attributes}, Esp);
  } else {
    const auto SizeWord = static_cast<std::uint16_t>(Slots[1]);
    enterCall(sim::SetGenericIoRangeCall{Port, SizeWord}, Esp);
  }
  return true;
}

bool PeiMachine::namedInvalid(uc_mem_type Type, std::uint64_t Address, const std::string &Bytes,
                              const std::string &Where) {
  const char *Service = ServiceAt(Address);
  if (Type == UC_MEM_FETCH_UNMAPPED && Service != nullptr) {
    breach(std::string("the image called the PEI service ") + Service + " from " + Where +
           "; the module may call no PEI service");
  } else if (Type == UC_MEM_WRITE_PROT && Image_.contains(Address)) {
    breach("the image wrote " + Bytes + " at " + Image_.describe(Address) + " inside itself from " +
           Where + ": it executes in place from flash, which is not writable");
  } else if (Type == UC_MEM_WRITE_PROT && Address >= ServicesPage &&
             Address < ServicesPage + PageSize) {
    breach("the image wrote " + Bytes + " at " + HexText(Address) +
           ", in the PEI services table, from " + Where +
           "; the module writes nothing outside its stack");
  } else if ((Type == UC_MEM_READ_UNMAPPED || Type == UC_MEM_WRITE_UNMAPPED) &&
             Service != nullptr) {
    breach(std::string("the image read the PEI service ") + Service + "'s entry from " + Where +
           "; the module may use no PEI service");
  } else {
    return false;
  }
  return true;
}

} // namespace imagerun
