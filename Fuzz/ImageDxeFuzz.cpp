// Fuzz target: the driver image's entry, with the HOB list, configuration table and SMM chosen by
// the input, on hardware answers from the input, against the host build. Options: ImageTarget.h.
#include "ImageTarget.h"

extern "C" int LLVMFuzzerInitialize(int *Argc, char ***Argv) {
  imagefuzz::Initialize(fuzzruns::Target::Dxe, Argc, Argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *Data, std::size_t Size) {
  return imagefuzz::TestOneInput(fuzzruns::Target::Dxe, Data, Size);
}
