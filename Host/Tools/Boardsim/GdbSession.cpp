#include "GdbSession.h"

#include "Arguments.h"
#include "EmulatedMachine.h"
#include "ImageDebug.h"
#include "ToolOutput.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include <fmt/format.h>
#include <iterator>

namespace boardsim {
namespace {

using gdbremote::RegisterId;

// Console lines shown between two stops; a long run past them is told, not flooded.
constexpr std::size_t ConsoleLines = 1000;

// The emulator's register for each register gdb asks of, at each width.
struct RegisterPair {
  RegisterId Id;
  int Narrow, Wide; // -1: none in that mode
};
constexpr RegisterPair Registers[] = {
    {RegisterId::Rax, UC_X86_REG_EAX, UC_X86_REG_RAX},
    {RegisterId::Rbx, UC_X86_REG_EBX, UC_X86_REG_RBX},
    {RegisterId::Rcx, UC_X86_REG_ECX, UC_X86_REG_RCX},
    {RegisterId::Rdx, UC_X86_REG_EDX, UC_X86_REG_RDX},
    {RegisterId::Rsi, UC_X86_REG_ESI, UC_X86_REG_RSI},
    {RegisterId::Rdi, UC_X86_REG_EDI, UC_X86_REG_RDI},
    {RegisterId::Rbp, UC_X86_REG_EBP, UC_X86_REG_RBP},
    {RegisterId::Rsp, UC_X86_REG_ESP, UC_X86_REG_RSP},
    {RegisterId::R8, -1, UC_X86_REG_R8},
    {RegisterId::R9, -1, UC_X86_REG_R9},
    {RegisterId::R10, -1, UC_X86_REG_R10},
    {RegisterId::R11, -1, UC_X86_REG_R11},
    {RegisterId::R12, -1, UC_X86_REG_R12},
    {RegisterId::R13, -1, UC_X86_REG_R13},
    {RegisterId::R14, -1, UC_X86_REG_R14},
    {RegisterId::R15, -1, UC_X86_REG_R15},
    {RegisterId::Rip, UC_X86_REG_EIP, UC_X86_REG_RIP},
    {RegisterId::Eflags, UC_X86_REG_EFLAGS, UC_X86_REG_EFLAGS},
    {RegisterId::Cs, UC_X86_REG_CS, UC_X86_REG_CS},
    {RegisterId::Ss, UC_X86_REG_SS, UC_X86_REG_SS},
    {RegisterId::Ds, UC_X86_REG_DS, UC_X86_REG_DS},
    {RegisterId::Es, UC_X86_REG_ES, UC_X86_REG_ES},
    {RegisterId::Fs, UC_X86_REG_FS, UC_X86_REG_FS},
    {RegisterId::Gs, UC_X86_REG_GS, UC_X86_REG_GS},
};

int EmulatorRegister(RegisterId Id, bool Wide) {
  for (const RegisterPair &Each : Registers) {
    if (Each.Id == Id) {
      return Wide ? Each.Wide : Each.Narrow;
    }
  }
  return -1;
}

bool InDeviceWindow(std::uint64_t Address, std::size_t Size) {
  return std::any_of(imagerun::machine::DeviceWindows.begin(),
                     imagerun::machine::DeviceWindows.end(), [&](const auto &Window) {
                       return imagerun::machine::Overlaps(Address, Size, Window.Base, Window.Size);
                     });
}

// The stopped machine as gdb sees it: registers at the processor's width, and RAM and flash; a
// device window is never read for gdb, as a read of a device register changes the device.
class CoreTarget final : public gdbremote::Target {
public:
  explicit CoreTarget(imagerun::EmulatorCore &Core) : Core_(Core) {}
  gdbremote::Architecture architecture() const override {
    return Core_.wide() ? gdbremote::Architecture::X86_64 : gdbremote::Architecture::I386;
  }
  std::uint64_t reg(RegisterId Id) const override {
    const int Register = EmulatorRegister(Id, Core_.wide());
    return Register < 0 ? 0 : Core_.reg(Register);
  }
  bool setReg(RegisterId Id, std::uint64_t Value) override {
    const int Register = EmulatorRegister(Id, Core_.wide());
    if (Register < 0) {
      return false;
    }
    Core_.setReg(Register, Value);
    return true;
  }
  bool readMemory(std::uint64_t Address, std::span<std::uint8_t> Into) override {
    return !InDeviceWindow(Address, Into.size()) &&
           Core_.readRam(Address, Into.data(), Into.size());
  }
  bool writeMemory(std::uint64_t Address, std::span<const std::uint8_t> From) override {
    return !InDeviceWindow(Address, From.size()) &&
           Core_.writeRam(Address, From.data(), From.size());
  }

private:
  imagerun::EmulatorCore &Core_;
};

gdbremote::Server Listen(std::uint16_t Port) {
  try {
    return gdbremote::Server(Port);
  } catch (const gdbremote::ServerError &Error) {
    throw UsageError(std::string("--gdb: ") + Error.what());
  }
}

} // namespace

GdbSession::GdbSession(std::uint16_t Port) : Server_(Listen(Port)) {}

void GdbSession::waitForGdb(const std::string &What, const std::string &Symbols) {
  tooloutput::PrintError("boardsim: {} waits for gdb on 127.0.0.1:{}; in gdb, from the source "
                         "tree:\n  {}\n  target remote 127.0.0.1:{}\n",
                         What, port(), Symbols, port());
  Server_.accept();
}

std::string GdbSymbols(const std::string &ImagePath, std::int64_t Offset) {
  namespace fs = std::filesystem;
  const std::string Debug = imagerun::DebugPathFor(ImagePath);
  if (Offset == 0) {
    // A 32-bit image runs where it was linked; gdb reads its debug information as ELF.
    const std::string Elf = Debug + ".elf";
    std::error_code Error;
    return fs::exists(Elf, Error) ? "file " + Elf
                                  : "(no " + Elf + " beside the image: gdb has no symbols)";
  }
  std::error_code Error;
  if (!fs::exists(Debug, Error)) {
    return "(no " + Debug + " beside the image: gdb has no symbols)";
  }
  return fmt::format("add-symbol-file {} -o {}0x{:X}", Debug, Offset < 0 ? "-" : "",
                     Offset < 0 ? -static_cast<std::uint64_t>(Offset)
                                : static_cast<std::uint64_t>(Offset));
}

void GdbSession::beginPass() {
  Count_ = 0;
  Records_ = 0;
}

bool GdbSession::observe(const sim::TraceRecord &Record) {
  const bool New = Records_++ >= RecordsGiven_;
  const std::string Line = sim::FormatRecord(Record);
  // gdb sees every access as it happens, again after going back; the record keeps it once.
  if (Mode_ == Mode::Step || Mode_ == Mode::Continue) {
    show(Line);
  }
  if (!New) {
    return false;
  }
  RecordsGiven_ = Records_;
  if (Record.Kind != sim::AccessKind::Note) {
    Accesses_.emplace_back(Count_, Line);
  }
  return true;
}

void GdbSession::show(const std::string &Line) {
  if (Shown_ < ConsoleLines) {
    Server_.console(Line + "\n");
  } else if (Shown_ == ConsoleLines) {
    Server_.console("(the board's further accesses are not shown until the next stop)\n");
  }
  ++Shown_;
}

void GdbSession::showAccessesOf(std::uint64_t Count) {
  const auto First = std::lower_bound(Accesses_.begin(), Accesses_.end(), Count,
                                      [](const std::pair<std::uint64_t, std::string> &Each,
                                         std::uint64_t At) { return Each.first < At; });
  for (auto Each = First; Each != Accesses_.end() && Each->first == Count; ++Each) {
    Server_.console("this instruction made: " + Each->second + "\n");
  }
}

void GdbSession::finished(int Code) {
  if (Mode_ != Mode::Detached && Server_.connected()) {
    Server_.exited(Code);
  }
  Mode_ = Mode::Detached;
}

void GdbSession::instruction(imagerun::EmulatorCore &Core, std::uint64_t Address) {
  ++Count_;
  if (Count_ > History_.size()) {
    History_.push_back(Address);
  }
  if (!Wide_) {
    Wide_ = Core.wide();
    PhaseStart_ = Count_;
  } else if (*Wide_ != Core.wide() && Count_ > PhaseStart_) {
    // A boot's next phase, in the other mode: the first gdb's run has ended.
    if (Mode_ != Mode::Detached && Server_.connected()) {
      Server_.exited(0);
    }
    Wide_ = Core.wide();
    PhaseStart_ = Count_;
    Mode_ = Mode::Step;
    waitForGdb("the driver's phase", NextSymbols_);
  }
  switch (Mode_) {
  case Mode::Detached:
    return;
  case Mode::Replay:
    if (Count_ == ReplayTo_) {
      serve(Core,
            {ReplayFromStart_ ? gdbremote::StopKind::ReplayBegin : gdbremote::StopKind::Step});
    }
    return;
  case Mode::Step:
    serve(Core, {gdbremote::StopKind::Step});
    return;
  case Mode::Continue:
    if (Server_.breakpoints().count(Address) != 0) {
      serve(Core, {gdbremote::StopKind::Breakpoint});
    } else if (Server_.interruptRequested()) {
      serve(Core, {gdbremote::StopKind::Interrupt});
    }
    return;
  }
}

void GdbSession::faulted(imagerun::EmulatorCore &Core, std::uint64_t, const std::string &) {
  if (Mode_ != Mode::Detached && Mode_ != Mode::Replay) {
    serve(Core, {gdbremote::StopKind::Fault, gdbremote::Signal::SegmentationFault});
  }
}

void GdbSession::serve(imagerun::EmulatorCore &Core, gdbremote::StopReason Reason) {
  CoreTarget Machine(Core);
  for (;;) {
    showAccessesOf(Count_);
    const gdbremote::Resume Asked = Server_.stopped(Machine, Reason);
    Shown_ = 0;
    std::uint64_t Back = 0;
    switch (Asked) {
    case gdbremote::Resume::Continue:
      Mode_ = Mode::Continue;
      return;
    case gdbremote::Resume::Step:
      Mode_ = Mode::Step;
      return;
    case gdbremote::Resume::Kill:
    case gdbremote::Resume::Detach:
      Mode_ = Mode::Detached;
      return;
    case gdbremote::Resume::ReverseStep:
      Back = Count_ > PhaseStart_ ? Count_ - 1 : PhaseStart_;
      ReplayFromStart_ = Back == PhaseStart_ && Count_ == PhaseStart_;
      break;
    case gdbremote::Resume::ReverseContinue: {
      // The last instruction before this one at a breakpoint; none: the phase's first.
      Back = PhaseStart_;
      ReplayFromStart_ = true;
      for (std::uint64_t Count = Count_ - 1; Count > PhaseStart_; --Count) {
        if (Server_.breakpoints().count(History_[Count - 1]) != 0) {
          Back = Count;
          ReplayFromStart_ = false;
          break;
        }
      }
      break;
    }
    }
    if (Back == Count_) {
      // Nowhere to go back to: the stop is the phase's first instruction.
      Reason = {gdbremote::StopKind::ReplayBegin};
      continue;
    }
    ReplayTo_ = Back;
    Mode_ = Mode::Replay;
    throw Rewind{};
  }
}

void PassesUnderGdb(GdbSession &Session, std::span<imagerun::ImageRuns *const> Runs,
                    sim::Board &Board, const sim::Scenario &Settings,
                    std::span<const sim::TraceObserver> Sinks,
                    const std::function<int(std::span<const sim::TraceObserver>)> &Pass) {
  for (imagerun::ImageRuns *Each : Runs) {
    Each->debugWith(&Session);
  }
  for (;;) {
    Board.reset(Settings);
    Session.beginPass();
    bool Fresh = false;
    std::vector<sim::TraceObserver> Seen{
        [&](const sim::TraceRecord &Record) { Fresh = Session.observe(Record); }};
    for (const sim::TraceObserver &Sink : Sinks) {
      Seen.emplace_back([&Sink, &Fresh](const sim::TraceRecord &Record) {
        if (Fresh) {
          Sink(Record);
        }
      });
    }
    try {
      const int Code = Pass(Seen);
      for (imagerun::ImageRuns *Each : Runs) {
        Each->debugWith(nullptr);
      }
      Session.finished(Code);
      return;
    } catch (const Rewind &) {
      // gdb went back: the run starts again.
    }
  }
}

} // namespace boardsim
