// The compiler may emit calls to memset and memcpy for structure copies and clears even in
// freestanding code; the images have no C library, so they get these two, built with
// -fno-builtin so that the loops are not turned back into calls to themselves.
#include <cstddef>

extern "C" void *memset(void *Destination, int Value, std::size_t Count) {
  auto *Bytes = static_cast<unsigned char *>(Destination);
  for (std::size_t Index = 0; Index < Count; ++Index) {
    Bytes[Index] = static_cast<unsigned char>(Value);
  }
  return Destination;
}

extern "C" void *memcpy(void *Destination, const void *Source, std::size_t Count) {
  auto *To = static_cast<unsigned char *>(Destination);
  const auto *From = static_cast<const unsigned char *>(Source);
  for (std::size_t Index = 0; Index < Count; ++Index) {
    To[Index] = From[Index];
  }
  return Destination;
}
