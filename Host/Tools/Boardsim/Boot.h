// boardsim boot: BoardInitPei and then BoardInitDxe on one simulated board, each phase the host
// build or a shipped image, every device's state carried from the first phase to the second.
#pragma once

namespace boardsim {

int BootMain(int argc, const char *const *argv);

} // namespace boardsim
