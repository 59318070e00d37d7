// Fuzz target: the early-init image's script runner over rows from the input, and each module's
// PM-timer delays through its own image, against the host build. Options: ImageTarget.h.
#include "ImageTarget.h"

extern "C" int LLVMFuzzerInitialize(int *Argc, char ***Argv) {
  imagefuzz::Initialize(fuzzruns::Target::Library, Argc, Argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *Data, std::size_t Size) {
  return imagefuzz::TestOneInput(fuzzruns::Target::Library, Data, Size);
}
