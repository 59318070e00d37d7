// Fuzz target: the early-init image's entry, as the PEI core enters it, on
// hardware answers from the input, against the host build. Options: ImageTarget.h.
#include "ImageTarget.h"

extern "C" int LLVMFuzzerInitialize(int *Argc, char ***Argv) {
  imagefuzz::Initialize(fuzzruns::Target::Pei, Argc, Argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *Data, std::size_t Size) {
  return imagefuzz::TestOneInput(fuzzruns::Target::Pei, Data, Size);
}
