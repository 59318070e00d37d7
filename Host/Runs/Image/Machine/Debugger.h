// A debugger over the runs of an image: the machine asks it before each instruction of the image
// it follows in full, and tells it of a CPU fault before the run stops on it. It may read and
// write the registers and RAM through the core, and may end the run by throwing: the machine keeps
// the exception and rethrows it once the emulator has stopped, out of the run.
#pragma once

#include "EmulatorCore.h"

#include <cstdint>
#include <string>

namespace imagerun {

class Debugger {
public:
  virtual ~Debugger() = default;
  // The instruction at Address is about to run.
  virtual void instruction(EmulatorCore &Core, std::uint64_t Address) = 0;
  // The instruction at Address faulted (Why names the fault); the run stops after this returns.
  virtual void faulted(EmulatorCore &Core, std::uint64_t Address, const std::string &Why) = 0;
};

} // namespace imagerun
