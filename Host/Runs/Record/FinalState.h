// What a run left on the board, as named facts in text: where the bridge decodes, each bridge
// register and mirror, the Super I/O chip's configuration, what the serial console received, what
// the SPI peripheral was sent. Two runs that leave the same board give the same facts; compare
// sets them side by side.
#pragma once

#include "RunRecord.h"

#include <string>
#include <vector>

namespace runs {

struct NamedFact {
  std::string What; // "I/O Enables", "decode map", "serial output"
  std::string Text; // "0x3F0F"; empty for nothing
};

std::vector<NamedFact> FinalState(const RunRecord &Record);

// The items one after the other, Separator between each two: how a fact lists several things.
std::string Joined(const std::vector<std::string> &Items, const char *Separator);

} // namespace runs
