// What executes of an image: the machine tells each instruction of the image it runs. Followed in
// full, each instruction as it runs; followed lean, the instructions of each block as the block is
// entered (a block left early, by a fault or a stop, counts whole).
#pragma once

#include <cstdint>

namespace imagerun {

class Coverage {
public:
  virtual ~Coverage() = default;
  // The instruction at Address ran (or, lean, its block was entered).
  virtual void executed(std::uint64_t Address) = 0;
};

} // namespace imagerun
