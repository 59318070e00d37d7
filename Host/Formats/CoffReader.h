// Inside Host/Formats: an i386 or x86-64 COFF object opened with LLVM's object reader over bytes
// read with the bounded file read. The readers above it use it; the tools see none of LLVM.
#pragma once

#include <llvm/Object/COFF.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace formats {

struct CoffReader {
  std::vector<std::uint8_t> Bytes; // what Object reads; it must outlive Object
  std::unique_ptr<llvm::object::ObjectFile> Object;
  const llvm::object::COFFObjectFile *Coff = nullptr;
};

// Throws ObjectError naming the path when the file cannot be read or is not such an object.
std::unique_ptr<CoffReader> OpenCoffObject(const std::string &Path);

// The text of a name the reader hands back; an empty string when it reports an error.
std::string NameOrEmpty(llvm::Expected<llvm::StringRef> Name);

} // namespace formats
