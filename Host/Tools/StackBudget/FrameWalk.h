// Follows a function's control flow and tracks how far below its return address the stack
// pointer goes, and at what depth each call leaves it.
#pragma once

#include "Disassembly.h"

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace stack {

using formats::Function;
using formats::Instruction;
using formats::ObjectCode;

// The refusal of code whose stack cannot be bounded.
class AnalysisError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

enum class CallKind {
  Direct,       // call to a named function: the call pushes a return address
  Tail,         // jump to a named function that returns to this function's caller
  Indirect,     // call through a pointer
  IndirectTail, // jump through a pointer out of the function
};

struct CallSite {
  CallKind Kind = CallKind::Direct;
  std::uint64_t Depth = 0; // bytes below the return address when the call is made
  std::uint64_t Address = 0;
  std::string Target; // symbol, for Direct and Tail
};

struct FrameFacts {
  std::uint64_t Peak = 0; // deepest point of the function's own frame
  std::vector<CallSite> Calls;
};

// Bytes of arguments a function removes from the stack on return (IA-32 callee-pops helpers
// such as the 64-bit division routines end with `ret $16`).
std::uint64_t ReturnPops(const ObjectCode &Object, const Function &Code);

// Arguments popped by the named callee of a direct call or jump.
using CalleePops = std::function<std::uint64_t(const std::string &Symbol)>;

// Throws AnalysisError for any stack-pointer change it cannot follow, so a frame is never
// undercounted.
FrameFacts WalkFrame(const ObjectCode &Object, const Function &Code, const CalleePops &Pops);

} // namespace stack
