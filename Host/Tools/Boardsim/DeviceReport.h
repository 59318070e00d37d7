// What the devices behind the LPC bridge took from a run: the Super I/O chip's configuration,
// and the accesses that were meant for a device but reached none (the bridge did not decode the
// port, or sent it to a target where nothing answers).
#pragma once

#include "Board.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <string>

namespace boardsim {

// "Super I/O chip (...)" block of the summary: empty when the run wrote nothing to its ports and
// the chip took nothing.
std::string SuperIoChipSummary(const sim::BoardState &Board);
// A warning line for bytes written to the UART that no UART received; empty when none.
std::string SerialLossSummary(const sim::BoardState &Board);

// The WARNING lines the two blocks above print for the board: the Super I/O chip's, the UART's.
std::size_t SuperIoWarningCount(const sim::BoardState &Board);
std::size_t SerialLossWarningCount(const sim::BoardState &Board);

// The JSON's `superio` (the chip's state after the run) and `devices` (deliveries per device
// behind the bridge).
nlohmann::ordered_json SuperIoJson(const sim::BoardState &Board);
nlohmann::ordered_json DevicesJson(const sim::BoardState &Board);

} // namespace boardsim
