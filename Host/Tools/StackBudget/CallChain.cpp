#include "CallChain.h"

#include "SymbolName.h"
#include "UniqueMatch.h"

#include <algorithm>
#include <memory>
#include <optional>

namespace stack {

namespace {

// IA-32 objects write C names with a leading underscore.
constexpr unsigned Ia32PointerSize = 4;

// A symbol as a person reads it in a message: C++ names demangled, C names undecorated.
std::string Readable(const ObjectCode &Object, const std::string &Symbol) {
  return formats::ReadableSymbolName(Symbol, Object.PointerSize == Ia32PointerSize);
}

} // namespace

void Program::addObject(ObjectCode Code, const std::map<std::string, UsageRecord> &Usage) {
  Objects.push_back(std::make_unique<ObjectCode>(std::move(Code)));
  const ObjectCode &Object = *Objects.back();
  for (const Function &Each : Object.Functions) {
    if (Each.Code.empty()) {
      continue; // a label with no code of its own
    }
    auto Record = Usage.find(Each.Symbol);
    if (Record == Usage.end() && Object.PointerSize == Ia32PointerSize && !Each.Symbol.empty() &&
        Each.Symbol[0] == '_') {
      Record = Usage.find(Each.Symbol.substr(1));
    }
    auto Built = std::make_unique<Node>();
    Built->Object = &Object;
    Built->Code = &Each;
    // The name a person writes for the function: the identifier of a decorated C++ name, or a C
    // name without the IA-32 leading underscore.
    Built->Short = formats::ShortSymbolName(Each.Symbol, Object.PointerSize == Ia32PointerSize);
    Built->Readable = Readable(Object, Each.Symbol);
    // Records are checked when a chain reaches the function, so code the entry never reaches
    // needs none.
    Built->Frame = Record == Usage.end() ? UINT64_MAX : Record->second.Bytes;
    if (Record != Usage.end() && Record->second.Qualifier != "static") {
      throw AnalysisError(Object.Path + ": " + Built->Readable + " has a " +
                          Record->second.Qualifier + " frame, whose size is not known");
    }
    BySymbol[Each.Symbol].push_back(Built.get());
    Nodes.push_back(std::move(Built));
  }
}

std::vector<const Program::Node *> Program::resolve(const Node &Caller,
                                                    const std::string &Symbol) const {
  const auto Found = BySymbol.find(Symbol);
  if (Found == BySymbol.end()) {
    throw AnalysisError(Caller.Object->Path + ": " + Caller.Readable + " calls " +
                        Readable(*Caller.Object, Symbol) +
                        ", which none of the module's objects defines");
  }
  for (const Node *Each : Found->second) {
    if (Each->Object == Caller.Object) {
      return {Each}; // the caller's own object wins for names local to it
    }
  }
  return Found->second; // the same inline function kept by several objects: take the worst
}

struct Program::Search {
  const Program &Owner;
  const Rules &Limits;
  std::map<const Node *, FrameFacts> Walked;
  std::map<const Node *, ChainResult> Settled; // results that do not depend on the path
  std::vector<const Node *> Path;
  std::set<std::string> Notes;

  const FrameFacts &facts(const Node &Each) {
    auto Known = Walked.find(&Each);
    if (Known == Walked.end()) {
      if (Each.Frame == UINT64_MAX) {
        throw AnalysisError(Each.Object->Path + ": no stack-usage record for " + Each.Readable);
      }
      // Every definition must release the same bytes at its return, a first one that pops
      // nothing included: the caller's depth after the call depends on it.
      const CalleePops Pops = [&](const std::string &Symbol) {
        std::optional<std::uint64_t> Agreed;
        for (const Node *Callee : Owner.resolve(Each, Symbol)) {
          const std::uint64_t These = ReturnPops(*Callee->Object, *Callee->Code);
          if (Agreed && These != *Agreed) {
            throw AnalysisError("the definitions of " + Readable(*Each.Object, Symbol) +
                                " pop different argument sizes");
          }
          Agreed = These;
        }
        return Agreed.value_or(0);
      };
      FrameFacts Facts = WalkFrame(*Each.Object, *Each.Code, Pops);
      Facts.Peak = std::max(Facts.Peak, Each.Frame);
      Known = Walked.emplace(&Each, std::move(Facts)).first;
    }
    return Known->second;
  }

  unsigned activeCount(const Node &Each) const {
    return static_cast<unsigned>(std::count(Path.begin(), Path.end(), &Each));
  }

  // Bytes below Each's return address used by Each and the deepest chain under it.
  // PathDependent is set when the answer relied on what is already on the chain.
  ChainResult cost(const Node &Each, bool &PathDependent) {
    if (const auto Known = Settled.find(&Each); Known != Settled.end()) {
      return Known->second;
    }
    const FrameFacts &Facts = facts(Each);
    Path.push_back(&Each);
    ChainResult Best;
    Best.Total = Facts.Peak;
    Best.Steps = {{Each.Short, Facts.Peak, ""}};
    bool Dependent = false;
    const unsigned Ptr = Each.Object->PointerSize;
    for (const CallSite &Site : Facts.Calls) {
      if (Site.Kind == CallKind::Indirect || Site.Kind == CallKind::IndirectTail) {
        if (!Limits.ServiceCallers.count(Each.Short)) {
          char At[32];
          std::snprintf(At, sizeof At, "0x%llx", static_cast<unsigned long long>(Site.Address));
          throw AnalysisError(Each.Object->Path + ": " + Each.Readable + " at " + At +
                              " calls through a pointer, whose target's stack is unknown");
        }
        Notes.insert(Each.Short + " calls firmware services; their frames are not counted");
        const std::uint64_t Here = Site.Depth + (Site.Kind == CallKind::Indirect ? Ptr : 0);
        if (Here > Best.Total) {
          Best.Total = Here;
          Best.Steps = {{Each.Short, Here, "call into a firmware service"}};
        }
        continue;
      }
      for (const Node *Callee : Owner.resolve(Each, Site.Target)) {
        if (!enter(*Callee, Dependent)) {
          continue;
        }
        bool CalleeDependent = false;
        const ChainResult Below = cost(*Callee, CalleeDependent);
        Dependent = Dependent || CalleeDependent;
        const std::uint64_t Here = Site.Depth + (Site.Kind == CallKind::Direct ? Ptr : 0);
        if (Here + Below.Total > Best.Total) {
          Best.Total = Here + Below.Total;
          Best.Steps = {
              {Each.Short, Here, Site.Kind == CallKind::Tail ? "jumps to the next function" : ""}};
          Best.Steps.insert(Best.Steps.end(), Below.Steps.begin(), Below.Steps.end());
        }
      }
    }
    Path.pop_back();
    if (!Dependent) {
      Settled[&Each] = Best;
    }
    PathDependent = PathDependent || Dependent;
    return Best;
  }

  // Whether a call to Callee is followed. A declared nesting bound cuts the chain where the
  // program stops nesting; any other return to a function already on the chain is recursion.
  bool enter(const Node &Callee, bool &Dependent) {
    const unsigned Active = activeCount(Callee);
    const auto Bound = Limits.MaxNesting.find(Callee.Short);
    if (Bound != Limits.MaxNesting.end()) {
      Dependent = Dependent || Active > 0;
      if (Active >= Bound->second) {
        Notes.insert(Callee.Short + " nests at most " + std::to_string(Bound->second) +
                     " deep: counted to that depth");
        return false;
      }
      return true;
    }
    if (Active == 0) {
      return true;
    }
    const auto Last = std::find(Path.rbegin(), Path.rend(), &Callee);
    for (auto It = Path.rbegin(); It != Last; ++It) {
      if (Limits.MaxNesting.count((*It)->Short)) {
        Dependent = true;
        return true; // the cycle runs through a bounded function
      }
    }
    std::string Cycle;
    for (auto It = Last.base() - 1; It != Path.end(); ++It) {
      Cycle += (*It)->Short + " -> ";
    }
    throw AnalysisError("recursion without a declared bound: " + Cycle + Callee.Short);
  }
};

ChainResult Program::worstChain(const std::string &Entry, const Rules &Limits) const {
  const auto Match = formats::FindUnique(Nodes, [&](const std::unique_ptr<Node> &Each) {
    return Each->Short == Entry || Each->Code->Symbol == Entry;
  });
  if (Match.Found == nullptr) {
    throw AnalysisError(
        "entry " + Entry +
        (Match.Count == 0 ? " is defined by none of the objects" : " is defined more than once"));
  }
  const Node *EntryNode = Match.Found->get();
  Search Walk{*this, Limits, {}, {}, {}, {}};
  bool Dependent = false;
  ChainResult Result = Walk.cost(*EntryNode, Dependent);
  // The caller's call pushed the entry's return address.
  const std::uint64_t Return = EntryNode->Object->PointerSize;
  Result.Total += Return;
  Result.Steps.front().Bytes += Return;
  Result.Notes.assign(Walk.Notes.begin(), Walk.Notes.end());
  return Result;
}

} // namespace stack
