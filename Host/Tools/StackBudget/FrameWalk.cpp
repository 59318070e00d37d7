#include "FrameWalk.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <set>

namespace stack {

namespace {

using formats::Flow;
using formats::StackEffect;

class Walker {
public:
  Walker(const ObjectCode &Object, const Function &Code, const CalleePops &Pops)
      : Object(Object), Code(Code), Pops(Pops) {
    for (std::size_t I = 0; I < Code.Code.size(); ++I) {
      Index[Code.Code[I].Address] = I;
    }
  }

  FrameFacts run() {
    if (Code.Code.empty()) {
      fail(Code.Start, "has no code");
    }
    visit(0, 0);
    drain();
    // Jump-table targets are not printed with the table; every block not reached otherwise is
    // entered from a table at the depth of the table's jump.
    if (!TableDepths.empty()) {
      if (TableDepths.size() > 1) {
        fail(Code.Start, "dispatches through jump tables at different stack depths");
      }
      const std::uint64_t Depth = *TableDepths.begin();
      for (std::size_t I = 0; I < Code.Code.size(); ++I) {
        if (!DepthAt.count(I)) {
          visit(I, Depth);
          drain();
        }
      }
    }
    return Facts;
  }

private:
  [[noreturn]] void fail(std::uint64_t Address, const std::string &Why) const {
    char At[32];
    std::snprintf(At, sizeof At, "0x%llx", static_cast<unsigned long long>(Address));
    throw AnalysisError(Object.Path + ": " + Code.Symbol + " at " + At + " " + Why);
  }

  // Records the depth the instruction at At is reached with; false when it was reached before.
  bool reach(std::size_t At, std::uint64_t Depth) {
    const auto [Known, Fresh] = DepthAt.emplace(At, Depth);
    if (!Fresh && Known->second != Depth) {
      fail(Code.Code[At].Address, "is reached with the stack at two different depths");
    }
    return Fresh;
  }

  void visit(std::size_t At, std::uint64_t Depth) {
    if (reach(At, Depth)) {
      Pending.push_back(At);
    }
  }

  void drain() {
    while (!Pending.empty()) {
      const std::size_t At = Pending.back();
      Pending.pop_back();
      step(At);
    }
  }

  void branchTo(const Instruction &Insn, std::uint64_t Depth) {
    if (!Insn.Facts.Target) {
      fail(Insn.Address, "branches to an operand it cannot follow: " + Insn.Operands);
    }
    const auto Found = Index.find(*Insn.Facts.Target);
    if (Found == Index.end()) {
      fail(Insn.Address, "branches outside its own code");
    }
    visit(Found->second, Depth);
  }

  void step(std::size_t At) {
    std::uint64_t Depth = DepthAt[At];
    for (;;) {
      const Instruction &Insn = Code.Code[At];
      const formats::InstructionFacts &Does = Insn.Facts;
      bool Continues = true;
      if (Does.Opcode.empty()) {
        fail(Insn.Address,
             "holds bytes that are no instruction: " + formats::InstructionText(Insn));
      }
      if (Does.Stack.How == StackEffect::Kind::Unknown) {
        fail(Insn.Address, "changes the stack pointer in a way that cannot be followed: " +
                               formats::InstructionText(Insn));
      }
      switch (Does.Control) {
      case Flow::Call: {
        // The return address the call pushes is the callee's to count.
        const CallSite &Site = call(Insn, Depth, false);
        if (Site.Kind == CallKind::Direct) {
          Depth = pop(Insn, Depth, Pops(Site.Target));
        }
        break;
      }
      case Flow::Return:
        if (Depth != 0) {
          fail(Insn.Address, "returns with its frame not released");
        }
        Continues = false;
        break;
      case Flow::Jump:
        Continues = false;
        if (!Does.Target) {
          indirectJump(Insn, Depth);
        } else if (Insn.Relocation) {
          call(Insn, Depth, true);
        } else {
          branchTo(Insn, Depth);
        }
        break;
      case Flow::ConditionalJump:
        if (Insn.Relocation) {
          fail(Insn.Address, "branches conditionally to another function");
        }
        branchTo(Insn, Depth);
        break;
      case Flow::Stop:
        Continues = false; // the path stops here
        break;
      case Flow::Next:
        Depth = move(Insn, Depth);
        break;
      }
      Facts.Peak = std::max(Facts.Peak, Depth);
      if (!Continues) {
        return;
      }
      if (At + 1 >= Code.Code.size()) {
        fail(Insn.Address, "runs off the end of its code");
      }
      if (!reach(++At, Depth)) {
        return;
      }
    }
  }

  // The depth after a push, a pop or an adjustment of the stack pointer by a constant: the stack
  // grows down, so a negative move takes more of it.
  std::uint64_t move(const Instruction &Insn, std::uint64_t Depth) const {
    const StackEffect &Stack = Insn.Facts.Stack;
    if (Stack.How != StackEffect::Kind::Moves) {
      return Depth;
    }
    return Stack.Delta < 0 ? Depth + static_cast<std::uint64_t>(-Stack.Delta)
                           : pop(Insn, Depth, static_cast<std::uint64_t>(Stack.Delta));
  }

  std::uint64_t pop(const Instruction &Insn, std::uint64_t Depth, std::uint64_t Bytes) const {
    if (Bytes > Depth) {
      fail(Insn.Address, "releases more stack than it took");
    }
    return Depth - Bytes;
  }

  const CallSite &call(const Instruction &Insn, std::uint64_t Depth, bool Tail) {
    CallSite Site;
    Site.Depth = Depth;
    Site.Address = Insn.Address;
    if (!Insn.Facts.Target) {
      Site.Kind = Tail ? CallKind::IndirectTail : CallKind::Indirect;
    } else {
      Site.Kind = Tail ? CallKind::Tail : CallKind::Direct;
      if (Insn.Relocation) {
        Site.Target = *Insn.Relocation;
      } else {
        const std::uint64_t Target = *Insn.Facts.Target;
        const Function *Callee = Object.containing(Code.Section, Target);
        if (!Callee || Callee->Start != Target) {
          fail(Insn.Address, "calls an address that is no function's start: " + Insn.Operands);
        }
        Site.Target = Callee->Symbol;
      }
      if (!Site.Target.empty() && Site.Target[0] == '.') {
        fail(Insn.Address, "calls through a section symbol, which names no function");
      }
    }
    Facts.Calls.push_back(Site);
    return Facts.Calls.back();
  }

  // A jump through a table in memory, or through a register while the frame is still held,
  // stays inside the function; a jump through a pointer with the frame released leaves it.
  void indirectJump(const Instruction &Insn, std::uint64_t Depth) {
    const bool ThroughTable =
        Insn.Relocation && (*Insn.Relocation)[0] == '.' && Insn.Facts.TargetFromMemory;
    if (ThroughTable || Depth > 0) {
      TableDepths.insert(Depth);
    } else {
      call(Insn, Depth, true);
    }
  }

  const ObjectCode &Object;
  const Function &Code;
  const CalleePops &Pops;
  std::map<std::uint64_t, std::size_t> Index;
  std::map<std::size_t, std::uint64_t> DepthAt;
  std::vector<std::size_t> Pending;
  std::set<std::uint64_t> TableDepths;
  FrameFacts Facts;
};

} // namespace

std::uint64_t ReturnPops(const ObjectCode &Object, const Function &Code) {
  std::optional<std::uint64_t> Pops;
  for (const Instruction &Insn : Code.Code) {
    if (Insn.Facts.Control != Flow::Return || Insn.Facts.Stack.How != StackEffect::Kind::Moves) {
      continue; // a far return moves the stack in a way the walk refuses
    }
    // `ret $N` releases N bytes of arguments beside the return address.
    const std::vector<std::int64_t> Released = Insn.Facts.immediates();
    const std::uint64_t These = Released.empty() ? 0 : static_cast<std::uint64_t>(Released.front());
    if (Pops && *Pops != These) {
      throw AnalysisError(Object.Path + ": " + Code.Symbol +
                          " returns popping different argument sizes");
    }
    Pops = These;
  }
  return Pops.value_or(0);
}

FrameFacts WalkFrame(const ObjectCode &Object, const Function &Code, const CalleePops &Pops) {
  return Walker(Object, Code, Pops).run();
}

} // namespace stack
