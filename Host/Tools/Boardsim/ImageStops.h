// What a run of a shipped image tells of where it stopped: the instruction and calls a hung run
// stood at, the faulting instruction and registers of a CPU fault; as text lines and as JSON.
#pragma once

#include "ModuleRuns.h"
#include "Trace.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace boardsim {

// "stopped at 0x004003A2 SendByte+0x9 (BoardInitDxe/Serial.cpp:40), in BoardInitDxeEntry+0x2A >
// SerialPrint+0x51 > SendByte+0x9"; empty for a run that did not hang.
std::vector<std::string> StoppedLines(const runs::ImageFacts &Facts);
// "faulting instruction: 0x... (file:line): movl (%eax), %ecx", then the registers, a few a line;
// empty for a run without a CPU fault.
std::vector<std::string> FaultLines(const runs::ImageFacts &Facts);

// {address, address_hex, at, file, line, caller}: file, line and caller null where not known.
nlohmann::ordered_json SiteJson(const sim::AccessSite &Site);
// The image facts' stopped_at, stopped_chain and fault keys.
void AddStopsJson(nlohmann::ordered_json &Image, const runs::ImageFacts &Facts);

} // namespace boardsim
