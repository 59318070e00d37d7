// One emulated IA-32 machine around the early-init image: the image mapped as flash at its base,
// the PEI services table, and the board, stack and processor events of BoardMachine. Calls into
// the image are made as the PEI core makes them (cdecl, arguments on the stack, return to an
// address the machine controls), and every call of SetIoDecode and SetGenericIoRange inside the
// image is annotated on the board as the host build annotates it.
#pragma once

#include "BoardMachine.h"
#include "Images.h"

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace imagerun {

class PeiMachine : public BoardMachine {
public:
  PeiMachine(const PeiImage &Image, sim::Board &Target);

  // Calls the function at Address with 32-bit stack arguments and returns what it left in EAX;
  // nullopt when the run stopped instead (hung or breach). Rethrows what a hook could not pass
  // through the emulator.
  std::optional<std::uint32_t> call(std::uint32_t Address,
                                    std::initializer_list<std::uint32_t> Arguments);

private:
  struct PendingReturn {
    std::uint32_t Function;      // its first instruction
    std::size_t Call;            // board handle
    std::uint32_t ReturnAddress; // where the caller resumes
    std::uint32_t EntryEsp;      // the stack pointer at the function's first instruction
  };

  std::string describe(std::uint64_t Address) const override;
  std::string functionAt(std::uint64_t Address) const override;
  bool instruction(std::uint64_t Address, std::uint64_t StackPointer) override;
  bool namedInvalid(uc_mem_type Type, std::uint64_t Address, const std::string &Bytes,
                    const std::string &Where) override;

  void enterCall(sim::Operation Made, std::uint32_t Esp);
  void returnCalls(std::uint32_t Address, std::uint32_t Esp);

  const PeiImage &Image_;
  std::vector<PendingReturn> Pending_;
};

} // namespace imagerun
