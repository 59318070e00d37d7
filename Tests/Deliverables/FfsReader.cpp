#include "FfsReader.h"

#include "FileRead.h"

#include <cstdio>
#include <stdexcept>

namespace ffstest {

namespace {

std::uint32_t Le(const std::vector<std::uint8_t> &B, std::size_t At, unsigned Count) {
  std::uint32_t Value = 0;
  for (unsigned I = 0; I < Count; ++I) {
    Value |= static_cast<std::uint32_t>(B.at(At + I)) << (8 * I);
  }
  return Value;
}

} // namespace

File ReadFile(const std::vector<std::uint8_t> &Bytes) {
  if (Bytes.size() < 24) {
    throw std::runtime_error("shorter than a file header");
  }
  File Out;
  char Text[40];
  std::snprintf(Text, sizeof Text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                Le(Bytes, 0, 4), Le(Bytes, 4, 2), Le(Bytes, 6, 2), Bytes[8], Bytes[9], Bytes[10],
                Bytes[11], Bytes[12], Bytes[13], Bytes[14], Bytes[15]);
  Out.Name = Text;
  Out.HeaderChecksum = Bytes[16];
  Out.FileChecksum = Bytes[17];
  Out.Type = Bytes[18];
  Out.Attributes = Bytes[19];
  Out.Size = Le(Bytes, 20, 3);
  Out.State = Bytes[23];
  unsigned Sum = 0;
  for (std::size_t I = 0; I < 24; ++I) {
    Sum += (I == 17 || I == 23) ? 0 : Bytes[I];
  }
  Out.HeaderSumsToZero = (Sum & 0xFF) == 0;
  Sum = Out.FileChecksum;
  for (std::size_t I = 24; I < Bytes.size(); ++I) {
    Sum += Bytes[I];
  }
  Out.DataSumsToZero = (Sum & 0xFF) == 0;
  if (Out.Size != Bytes.size()) {
    throw std::runtime_error("size field " + std::to_string(Out.Size) + " but the file has " +
                             std::to_string(Bytes.size()) + " bytes");
  }
  std::size_t At = 24;
  while (At < Bytes.size()) {
    At = 24 + ((At - 24 + 3) & ~std::size_t{3});
    if (At + 4 > Bytes.size()) {
      throw std::runtime_error("trailing bytes after the last section");
    }
    Section Each;
    Each.Offset = At;
    Each.Size = Le(Bytes, At, 3);
    Each.Type = Bytes[At + 3];
    if (Each.Size < 4 || At + Each.Size > Bytes.size()) {
      throw std::runtime_error("section at " + std::to_string(At) + " overruns the file");
    }
    Each.Body.assign(Bytes.begin() + static_cast<long>(At) + 4,
                     Bytes.begin() + static_cast<long>(At + Each.Size));
    At += Each.Size;
    Out.Sections.push_back(std::move(Each));
  }
  return Out;
}

std::vector<std::uint8_t> Slurp(const std::string &Path) {
  constexpr std::uint64_t MaxFileBytes = std::uint64_t{64} << 20; // far above any module's file
  try {
    return formats::ReadFileBytes(Path, MaxFileBytes);
  } catch (const formats::FileError &Error) {
    throw std::runtime_error("cannot read " + Path + ": " + Error.what());
  }
}

std::string Ucs2ToAscii(const std::vector<std::uint8_t> &Body) {
  std::string Out;
  for (std::size_t I = 0; I + 1 < Body.size(); I += 2) {
    const unsigned Unit = Body[I] | (Body[I + 1] << 8);
    if (Unit == 0) {
      break;
    }
    Out.push_back(Unit < 0x80 ? static_cast<char>(Unit) : '?');
  }
  return Out;
}

} // namespace ffstest
