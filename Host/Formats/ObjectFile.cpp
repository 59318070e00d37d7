#include "ObjectFile.h"

#include "CoffReader.h"
#include "FileRead.h"

#include <llvm/BinaryFormat/Magic.h>

namespace formats {

std::string NameOrEmpty(llvm::Expected<llvm::StringRef> Name) {
  if (!Name) {
    llvm::consumeError(Name.takeError());
    return {};
  }
  return Name->str();
}

std::unique_ptr<CoffReader> OpenCoffObject(const std::string &Path) {
  auto Reader = std::make_unique<CoffReader>();
  try {
    Reader->Bytes = ReadFileBytes(Path, MaxObjectFileBytes);
  } catch (const FileError &Error) {
    throw ObjectError("cannot open " + Path + ": " + Error.what());
  }
  const llvm::StringRef Data(reinterpret_cast<const char *>(Reader->Bytes.data()),
                             Reader->Bytes.size());
  const std::string NotCoff = Path + ": not an i386 or x86-64 COFF object";
  if (llvm::identify_magic(Data) != llvm::file_magic::coff_object) {
    throw ObjectError(NotCoff);
  }
  auto Object = llvm::object::ObjectFile::createObjectFile(llvm::MemoryBufferRef(Data, Path));
  if (!Object) {
    llvm::consumeError(Object.takeError());
    throw ObjectError(Path + ": truncated or malformed COFF object");
  }
  Reader->Object = std::move(*Object);
  Reader->Coff = llvm::dyn_cast<llvm::object::COFFObjectFile>(Reader->Object.get());
  const std::uint16_t Machine = Reader->Coff ? Reader->Coff->getMachine() : 0;
  if (Machine != llvm::COFF::IMAGE_FILE_MACHINE_I386 &&
      Machine != llvm::COFF::IMAGE_FILE_MACHINE_AMD64) {
    throw ObjectError(NotCoff);
  }
  return Reader;
}

std::vector<std::string> ObjectSectionNames(const std::string &Path) {
  const std::unique_ptr<CoffReader> Reader = OpenCoffObject(Path);
  std::vector<std::string> Names;
  for (const llvm::object::SectionRef &Section : Reader->Coff->sections()) {
    Names.push_back(NameOrEmpty(Section.getName()));
  }
  return Names;
}

} // namespace formats
