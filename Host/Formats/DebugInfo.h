// The DWARF of a debug file linked beside a firmware image: for an address of the image, the
// function, source file and line it came from; and the code the debug information covers. Read
// through LLVM's DWARF libraries; no LLVM wording reaches a tool's user.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace formats {

class DebugInfoError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

struct SourceLine {
  std::string Function; // the function of the image it is in: "SpiPeripheralBringUp", the
                        // identifier the map's readable name ends in
  std::string Inlined;  // the function inlined there whose line it is ("ReadReg"); "" for none
  std::string File;     // relative to the source tree: "Library/SpiPeripheral/SpiPeripheral.cpp"
  unsigned Line = 0;    // 0: compiler-made code with no line of its own
};

// [First, End) of addresses the debug information describes.
struct AddressRange {
  std::uint64_t First = 0;
  std::uint64_t End = 0;
};

class DebugInfo {
public:
  // The debug file at Path; DebugInfoError naming it when it cannot be read or has no DWARF.
  static DebugInfo ReadFile(const std::string &Path);

  DebugInfo(DebugInfo &&) noexcept;
  DebugInfo &operator=(DebugInfo &&) noexcept;
  ~DebugInfo();

  // Where the instruction at Address came from; nullopt for an address no line table holds.
  std::optional<SourceLine> lineAt(std::uint64_t Address) const;
  // Every compilation unit's address ranges in the image, in address order (the ranges of code
  // the link dropped left out).
  std::vector<AddressRange> coveredRanges() const;

private:
  struct Loaded;
  explicit DebugInfo(std::unique_ptr<Loaded> Self);
  std::unique_ptr<Loaded> Self_;
};

} // namespace formats
