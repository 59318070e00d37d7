// Fuzz target: the driver image's format engine over a format text, a capacity and argument slots
// from the input, against the host build. Options: ImageTarget.h.
#include "ImageTarget.h"

extern "C" int LLVMFuzzerInitialize(int *Argc, char ***Argv) {
  imagefuzz::Initialize(fuzzruns::Target::Format, Argc, Argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *Data, std::size_t Size) {
  return imagefuzz::TestOneInput(fuzzruns::Target::Format, Data, Size);
}
