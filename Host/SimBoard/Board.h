// The simulated board behind the hardware-access primitives on the host: scenario settings go in;
// every access is answered by a device model and recorded in the trace; what the devices were sent
// and the register state come out.
#pragma once

#include "BoardRegions.h"
#include "BoardState.h"
#include "CallRecord.h"
#include "LegacyController.h"
#include "LpcBridgeDevice.h"
#include "PciHostBridge.h"
#include "PcrWindow.h"
#include "PmTimerDevice.h"
#include "Processor.h"
#include "RegisterSpace.h"
#include "Scenario.h"
#include "SpiController.h"
#include "SuperIoChip.h"
#include "Trace.h"
#include "Uart16550.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace sim {

// Thrown out of an access when the run has used up its step budget.
class StepBudgetExceeded : public std::runtime_error {
public:
  StepBudgetExceeded() : std::runtime_error("step budget exceeded") {}
};

// Sees every record of a run as it is made, whether or not the board keeps the trace.
using TraceObserver = std::function<void(const TraceRecord &)>;

// How many accesses a hung run reports.
inline constexpr std::size_t LastAccessCount = 16;

// The bridge registers as BoardInitPei leaves them on the default board, each with its mirror,
// which holds the same value: where the driver's phase finds the bridge when the early phase ran
// before it. Offsets and widths are the board model's; a test checks the values against a run of
// the early module.
struct MirroredRegister {
  std::uint32_t Register; // in the bridge's configuration space
  std::uint32_t Mirror;   // in the private-configuration window
  unsigned Width;         // bytes
  std::uint32_t Value;
};
extern const std::array<MirroredRegister, 6> EarlyInitBridgeState;

class Board {
public:
  explicit Board(const Scenario &Settings = {});
  // The devices refer to each other (the host bridge forwards to the LPC bridge): a board stays
  // where it was made.
  Board(const Board &) = delete;
  Board &operator=(const Board &) = delete;
  // The board as Board(Settings) makes it, keeping the memory this one holds (its register spaces
  // and trace): for many runs in a row. Observers and answers are dropped.
  void reset(const Scenario &Settings);

  // The driver's phase on its own: before the run's first access, puts the bridge and its mirrors
  // as BoardInitPei leaves the default board (EarlyInitBridgeState), then the scenario's presets
  // over them. Does nothing once the board has made an access: the early phase ran on it, and its
  // bridge is what that run left.
  void startAfterEarlyInit();

  // A new phase of a boot on this board: the step budget counts again from here, and the state at
  // the phase's start is taken at its first access.
  void startPhase() {
    PhaseStart_ = Steps_;
    AtStart_.reset();
  }

  // The primitives' view: widths are in bytes.
  std::uint32_t portRead(std::uint16_t Port, unsigned Width);
  void portWrite(std::uint16_t Port, unsigned Width, std::uint32_t Value);
  std::uint32_t memRead(std::uint64_t Address, unsigned Width);
  void memWrite(std::uint64_t Address, unsigned Width, std::uint32_t Value);
  std::uintptr_t readFlags();
  void disableInterrupts();
  void enableInterrupts();
  void pause();
  std::uint64_t readTimeStampCounter();

  // An annotation line in the trace.
  void annotate(std::string Text);
  // A call into firmware code: `# Name(arguments)` on entry and `# Name(arguments) -> STATUS` on
  // return. enterCall returns the handle that returnCall takes.
  std::size_t enterCall(Operation Made);
  void returnCall(std::size_t Call, std::uint64_t Status);
  // A call into a firmware service that makes no access of its own: one line,
  // `# Name(arguments) -> STATUS; what it did`.
  void serviceCall(Operation Made, std::uint64_t Status);

  // The trace's name of the register at a port or memory address, from the device the board's
  // address map puts there ("UART line status"); empty when it has none.
  std::string name(AddressSpace Space, std::uint64_t Address) const;

  // Where the access being recorded is made, for a run that can tell (a shipped image: its
  // instruction); nullptr otherwise. Observers ask while they see the access; the site stays valid
  // as long as the run's machine.
  using AccessSource = std::function<const AccessSite *()>;
  void setAccessSource(AccessSource Source) { Source_ = std::move(Source); }
  const AccessSite *accessSource() const { return Source_ ? Source_() : nullptr; }

  // Returns the handle removeObserver takes: an observer that outlives its run (one phase of a
  // boot) must be removed before it goes.
  std::size_t addObserver(TraceObserver Observer) {
    Observers_.push_back(std::move(Observer));
    return Observers_.size() - 1;
  }
  void removeObserver(std::size_t Handle) { Observers_.at(Handle) = nullptr; }

  // Hardware answers chosen from outside (a fuzzer's input): every port and device-window read
  // takes its value from these bytes, in order, little-endian at the access's width, instead of
  // from the device models; once fewer bytes are left than a read needs, the models answer again
  // (the rest is dropped), so the PM timer advances and every bounded run ends. Writes still reach
  // the models. The bytes must outlive the run; an empty span leaves the models answering.
  void answerReadsFrom(std::span<const std::uint8_t> Answers) {
    Answers_ = Answers;
    AnswersUsed_ = 0;
  }
  // How many of those bytes the run has used.
  std::size_t answersUsed() const { return AnswersUsed_; }

  // The whole trace; empty when the scenario does not keep it.
  const std::vector<TraceRecord> &trace() const { return Trace_; }
  // The last accesses of the run (annotations left out), oldest first, kept whatever the scenario
  // says.
  std::vector<TraceRecord> lastAccesses() const;
  std::uint64_t count(AccessKind Kind) const { return Now_.count(Kind); }
  std::uint64_t accessCount() const { return Steps_; }
  const std::vector<CallRecord> &calls() const { return Calls_; }
  // The calls entered and not yet returned, outermost first: what a hung run was doing.
  std::vector<CallRecord> openCalls() const;
  // The same calls as indices into calls(), outermost first.
  const std::vector<std::size_t> &openCallIndices() const { return OpenCalls_; }
  // Every device now, and as the phase found them at its first access (the presets and any earlier
  // phase written; a write is taken after it is recorded): what a run's record keeps.
  BoardState state() const;
  BoardState stateAtStart() const { return AtStart_ ? *AtStart_ : state(); }
  // What the UART sent on its serial line: the console's text.
  const std::string &serialOutput() const { return Now_.serialOutput(); }
  const std::vector<std::uint32_t> &spiFrames() const { return Now_.spiFrames(); }
  const std::vector<std::pair<std::uint16_t, std::uint8_t>> &superIoWrites() const {
    return Now_.SuperIoWrites;
  }
  const SpiControllerModel &spi() const { return Now_.Spi; }
  const SuperIoChip &superIo() const { return Now_.SuperIo; }
  const LpcBridgeModel &bridge() const { return Now_.Bridge; }
  // Where the accesses meant for a device behind the bridge went.
  const Deliveries &deliveries(DeviceId Device) const { return Now_.deliveries(Device); }
  std::vector<std::uint32_t> namedRegisterValues() const { return Now_.namedRegisterValues(); }
  RegisterSpace &lpcConfig() { return Now_.Bridge.config(); }
  const RegisterSpace &lpcConfig() const { return Now_.Bridge.config(); }
  RegisterSpace &pcr() { return Now_.Pcr.registers(); }
  const RegisterSpace &pcr() const { return Now_.Pcr.registers(); }
  bool interruptsEnabled() const { return Now_.interruptsEnabled(); }
  std::uint32_t pciLatch() const { return PciHost_.latch(); }
  std::uint32_t pmTimerCount() const { return Now_.PmTimer.count(); }
  std::uint64_t steps() const { return Steps_; }
  const Scenario &scenario() const { return Settings_; }

private:
  void record(AccessKind Kind, unsigned Width, std::uint64_t Address, std::uint64_t Value,
              bool Lost = false);
  void keep(TraceRecord Record);
  // Every access starts here, before it reaches a device: the phase's first takes its start state.
  void beginAccess();
  // The next answer of Width bytes, or nullopt once the answers are used up.
  std::optional<std::uint32_t> nextAnswer(unsigned Width);
  void applyPresets();
  Device *device(DeviceId Which);
  const Device *device(DeviceId Which) const;
  // The device an access reaches (nullptr: it reaches none), counting where an access meant for
  // a device behind the bridge went; Lost is set when it was meant for one and missed it.
  Device *deliver(const Region *To, AddressSpace Space, std::uint64_t Address, bool Write,
                  bool &Lost);
  std::uint32_t busRead(AddressSpace Space, std::uint64_t Address, unsigned Width, bool &Lost);
  void busWrite(AddressSpace Space, std::uint64_t Address, unsigned Width, std::uint32_t Value,
                bool &Lost);

  Scenario Settings_;
  BoardState Now_;
  PciHostBridge PciHost_{Now_.Bridge};
  std::vector<TraceRecord> Trace_;
  // The last accesses, as a ring: the next one goes to LastNext_.
  std::array<TraceRecord, LastAccessCount> LastAccesses_{};
  std::size_t LastNext_ = 0;
  std::size_t LastKept_ = 0;
  std::vector<TraceObserver> Observers_;
  AccessSource Source_;
  std::vector<CallRecord> Calls_;
  std::vector<std::size_t> OpenCalls_;
  std::uint64_t Steps_ = 0;
  std::uint64_t PhaseStart_ = 0;
  std::optional<BoardState> AtStart_; // the devices at the phase's first access
  std::span<const std::uint8_t> Answers_{};
  std::size_t AnswersUsed_ = 0;
};

// The name of the register at a memory address, for trace comments ("SPI status").
std::string MemoryRegisterName(std::uint64_t Address);

// The board the primitives are bound to; aborts with a message when there is none.
Board &BoundBoard();

// How a run ended, whichever way it ran.
struct RunOutcome {
  bool Hung = false;
  std::vector<TraceRecord> LastAccesses; // the final accesses of a hung run
  std::vector<CallRecord> Running;       // the calls a hung run was in, outermost first
};

// The outcome of a run on Target that hung or not: a hung run's last accesses and open calls.
RunOutcome Outcome(const Board &Target, bool Hung);

// Runs Body with the primitives bound to Target (one board at a time); a run that exhausts the
// step budget is stopped and reported as hung.
RunOutcome RunOnBoard(Board &Target, const std::function<void()> &Body);

} // namespace sim
