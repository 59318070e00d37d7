// The early-init module's machine.
#pragma once

#include "BoardMachine.h"

#include <initializer_list>
#include <optional>
#include <vector>

namespace imagerun {

// The IA-32 machine around the early-init image, mapped as flash at its base, with the PEI services
// table. Calls into the image are made as the PEI core makes them (cdecl); every call of
// SetIoDecode and SetGenericIoRange inside it is annotated as the host build annotates it.
class PeiMachine : public BoardMachine {
public:
  // The board tables in flash are those of Target's scenario: the image's own, or the rows it
  // gives written over them (ImageRejected when they do not fill a table).
  PeiMachine(const PeiImage &Image, sim::Board &Target, Tracking Follow = Tracking::Full);
  // The machine as built, for a new run on Target (the image never writes its flash; only the
  // tables change, with the scenario's).
  void reuse(sim::Board &Target);

  // Calls the module's function with its arguments in 32-bit stack slots (cdecl) and returns what
  // it left in EAX; nullopt when the run stopped instead (hung or breach). Rethrows what a hook
  // could not pass through the emulator.
  std::optional<std::uint32_t> call(modules::Call Called,
                                    std::initializer_list<std::uint32_t> Arguments);
  // Bytes placed in the machine's RAM outside the run (its script rows); false when unmapped.
  bool write(std::uint32_t Address, const void *From, std::size_t Size) {
    return writeRam(Address, From, Size);
  }

private:
  struct PendingReturn {
    std::uint32_t Function;      // its first instruction
    std::size_t Call;            // board handle
    std::uint32_t ReturnAddress; // where the caller resumes
    std::uint32_t EntryEsp;      // the stack pointer at the function's first instruction
  };

  std::string describe(std::uint64_t Address) const override;
  std::string functionAt(std::uint64_t Address) const override;
  std::optional<formats::SourceLine> lineAt(std::uint64_t Address) const override {
    return Image_.lineAt(Address);
  }
  bool instruction(std::uint64_t Address, std::uint64_t StackPointer) override;
  void entered(std::uint64_t Address) override;
  bool namedInvalid(uc_mem_type Type, std::uint64_t Address, const std::string &Bytes,
                    const std::string &Where) override;

  void writeServices();
  // Flash holds the image as loaded, with the rows of Target's scenario over its tables.
  void placeTables(const sim::Board &Target);
  void enterCall(sim::Operation Made, std::uint32_t Esp);
  void returnCalls(std::uint32_t Address, std::uint32_t Esp);

  const PeiImage &Image_;
  std::vector<PendingReturn> Pending_;
  bool TablesReplaced_ = false; // flash holds rows other than the image's own
};

} // namespace imagerun
