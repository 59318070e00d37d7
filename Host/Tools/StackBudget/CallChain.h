// The worst call chain from a module's entry over the module's own objects, each function's
// frame taken from the deeper of the compiler's record and the walk of its code.
#pragma once

#include "FrameWalk.h"
#include "StackUsage.h"

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace stack {

struct Rules {
  // Functions that recurse through each other a bounded number of times: the most activations
  // of the function one chain may hold.
  std::map<std::string, unsigned> MaxNesting;
  // Functions whose calls through pointers go to firmware services outside the module; those
  // services' frames are the caller's firmware's and are not counted.
  std::set<std::string> ServiceCallers;
};

struct ChainStep {
  std::string Function;
  std::uint64_t Bytes = 0; // stack this step adds: return address and frame down to the next call
  std::string Note;
};

struct ChainResult {
  std::uint64_t Total = 0;
  std::vector<ChainStep> Steps;
  std::vector<std::string> Notes; // bounded nesting and service calls, as met
};

class Program {
public:
  void addObject(ObjectCode Code, const std::map<std::string, UsageRecord> &Usage);
  // Throws AnalysisError on recursion without a bound, calls that leave the objects, calls
  // through pointers from functions not declared as service callers, or missing records.
  ChainResult worstChain(const std::string &Entry, const Rules &Limits) const;

private:
  struct Node {
    const ObjectCode *Object = nullptr;
    const Function *Code = nullptr;
    std::string Short;
    std::string Readable; // its scopes and identifier, for messages: "BoardTables::DecodeTable"
    std::uint64_t Frame = 0;
    std::vector<CallSite> Calls;
  };
  struct Search;
  std::vector<const Node *> resolve(const Node &Caller, const std::string &Symbol) const;

  std::vector<std::unique_ptr<ObjectCode>> Objects;
  std::vector<std::unique_ptr<Node>> Nodes;
  std::map<std::string, std::vector<const Node *>> BySymbol;
};

} // namespace stack
