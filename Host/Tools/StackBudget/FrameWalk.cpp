#include "FrameWalk.h"

#include <cstring>
#include <map>
#include <optional>
#include <regex>
#include <set>

namespace stack {

namespace {

bool EndsWithStackPointer(const std::string &Operands) {
  static const std::regex Sp(R"((^|,)\s*%(esp|rsp|sp|spl)$)");
  return std::regex_search(Operands, Sp);
}

bool StartsWith(const std::string &Text, const char *Prefix) {
  return Text.rfind(Prefix, 0) == 0;
}

// Bytes a push or pop moves: from the size suffix, or the pointer size without one. Anything
// else (pusha, popa) is refused rather than guessed.
std::optional<std::uint64_t> OperandSize(const std::string &Suffix, unsigned PointerSize) {
  const std::map<std::string, std::uint64_t> Sizes = {
      {"", PointerSize}, {"w", 2}, {"l", 4}, {"d", 4}, {"q", 8}};
  const auto Found = Sizes.find(Suffix);
  return Found == Sizes.end() ? std::nullopt : std::optional(Found->second);
}

// "$N, %esp" → N, for add and sub of an immediate.
bool ImmediateToStackPointer(const std::string &Operands, std::uint64_t &Value) {
  static const std::regex Form(R"(^\$(0x[0-9a-fA-F]+|-?[0-9]+),\s*%(esp|rsp)$)");
  std::smatch Match;
  if (!std::regex_match(Operands, Match, Form)) {
    return false;
  }
  const long long Signed = std::stoll(Match[1], nullptr, 0);
  if (Signed < 0) {
    return false;
  }
  Value = static_cast<std::uint64_t>(Signed);
  return true;
}

bool IsConditionalJump(const std::string &Mnemonic) {
  return Mnemonic.size() > 1 && Mnemonic[0] == 'j' && !StartsWith(Mnemonic, "jmp");
}

// Target address of a direct branch: "0x1f <Name+0x1f>".
bool BranchTarget(const std::string &Operands, std::uint64_t &Address) {
  static const std::regex Form(R"(^(0x[0-9a-f]+)( <.*>)?$)");
  std::smatch Match;
  if (!std::regex_match(Operands, Match, Form)) {
    return false;
  }
  Address = std::stoull(Match[1], nullptr, 16);
  return true;
}

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
    std::uint64_t Target = 0;
    if (!BranchTarget(Insn.Operands, Target)) {
      fail(Insn.Address, "branches to an operand it cannot follow: " + Insn.Operands);
    }
    const auto Found = Index.find(Target);
    if (Found == Index.end()) {
      fail(Insn.Address, "branches outside its own code");
    }
    visit(Found->second, Depth);
  }

  void step(std::size_t At) {
    std::uint64_t Depth = DepthAt[At];
    for (;;) {
      const Instruction &Insn = Code.Code[At];
      const std::string &M = Insn.Mnemonic;
      const unsigned Ptr = Object.PointerSize;
      std::uint64_t Immediate = 0;
      bool Continues = true;
      const char *Base = StartsWith(M, "popcnt")  ? nullptr // a bit count, not a pop
                         : StartsWith(M, "pushf") ? "pushf"
                         : StartsWith(M, "popf")  ? "popf"
                         : StartsWith(M, "push")  ? "push"
                         : StartsWith(M, "pop")   ? "pop"
                                                  : nullptr;
      const auto Moved = Base ? OperandSize(M.substr(std::strlen(Base)), Ptr) : std::nullopt;
      if (Base && !Moved) {
        fail(Insn.Address, "moves the stack by an amount that cannot be followed: " + M);
      }
      if (Base && Base[1] == 'u') {
        Depth += *Moved;
      } else if (Base) {
        Depth = pop(Insn, Depth, *Moved);
      } else if ((M == "subl" || M == "subq") &&
                 ImmediateToStackPointer(Insn.Operands, Immediate)) {
        Depth += Immediate;
      } else if ((M == "addl" || M == "addq") &&
                 ImmediateToStackPointer(Insn.Operands, Immediate)) {
        Depth = pop(Insn, Depth, Immediate);
      } else if (StartsWith(M, "call")) {
        const CallSite &Site = call(Insn, Depth, false);
        if (Site.Kind == CallKind::Direct) {
          Depth = pop(Insn, Depth, Pops(Site.Target));
        }
      } else if (StartsWith(M, "ret")) {
        if (Depth != 0) {
          fail(Insn.Address, "returns with its frame not released");
        }
        Continues = false;
      } else if (StartsWith(M, "jmp")) {
        Continues = false;
        if (!Insn.Operands.empty() && Insn.Operands[0] == '*') {
          indirectJump(Insn, Depth);
        } else if (Insn.Relocation) {
          call(Insn, Depth, true);
        } else {
          branchTo(Insn, Depth);
        }
      } else if (IsConditionalJump(M)) {
        if (Insn.Relocation) {
          fail(Insn.Address, "branches conditionally to another function");
        }
        branchTo(Insn, Depth);
      } else if (M == "ud2" || M == "int3" || M == "hlt") {
        Continues = false; // the path stops here
      } else if (EndsWithStackPointer(Insn.Operands)) {
        fail(Insn.Address, "changes the stack pointer in a way that cannot be followed: " + M +
                               " " + Insn.Operands);
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
    if (!Insn.Operands.empty() && Insn.Operands[0] == '*') {
      Site.Kind = Tail ? CallKind::IndirectTail : CallKind::Indirect;
    } else {
      Site.Kind = Tail ? CallKind::Tail : CallKind::Direct;
      if (Insn.Relocation) {
        Site.Target = *Insn.Relocation;
      } else {
        std::uint64_t Target = 0;
        const Function *Callee =
            BranchTarget(Insn.Operands, Target) ? Object.containing(Code.Section, Target) : nullptr;
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
    const bool ThroughTable = Insn.Relocation && (*Insn.Relocation)[0] == '.' &&
                              Insn.Operands.find('(') != std::string::npos;
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
  static const std::regex Form(R"(^\$(0x[0-9a-fA-F]+|[0-9]+)$)");
  std::optional<std::uint64_t> Pops;
  for (const Instruction &Insn : Code.Code) {
    if (!StartsWith(Insn.Mnemonic, "ret")) {
      continue;
    }
    std::smatch Match;
    std::uint64_t These = 0;
    if (std::regex_match(Insn.Operands, Match, Form)) {
      These = std::stoull(Match[1], nullptr, 0);
    } else if (!Insn.Operands.empty()) {
      throw AnalysisError(Object.Path + ": " + Code.Symbol +
                          " returns with an operand it cannot read: " + Insn.Operands);
    }
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
