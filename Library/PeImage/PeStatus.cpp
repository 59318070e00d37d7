// The message for each PE image fault.
#include "PeImage.h"

const char *PeStatusMessage(PeStatus Status) {
  switch (Status) {
  case PeStatus::Ok:
    return "no fault";
  case PeStatus::FileTooSmall:
    return "file is too small for a DOS header";
  case PeStatus::NoMzSignature:
    return "not a PE image: no MZ signature";
  case PeStatus::PeHeaderOutsideFile:
    return "PE header lies outside the file";
  case PeStatus::NoPeSignature:
    return "not a PE image: no PE signature at the header offset";
  case PeStatus::OptionalHeaderOutsideFile:
    return "optional header lies outside the file";
  case PeStatus::UnknownOptionalHeaderMagic:
    return "optional header is neither PE32 nor PE32+";
  case PeStatus::OptionalHeaderTooShort:
    return "optional header is too short";
  case PeStatus::TooManyDataDirectories:
    return "more than 16 data directories";
  case PeStatus::DataDirectoriesOutsideOptionalHeader:
    return "data directories reach past the optional header";
  case PeStatus::SectionTableOutsideFile:
    return "section table lies outside the file";
  case PeStatus::HeadersDoNotFit:
    return "headers do not fit the image";
  case PeStatus::RelocationDirectoryOutsideImage:
    return "relocation directory lies outside the image";
  case PeStatus::SectionDataOutsideFile:
    return "section data lies outside the file";
  case PeStatus::SectionOutsideImage:
    return "section lies outside the image";
  case PeStatus::EntryPointNotInCode:
    return "entry point is not in a code section";
  case PeStatus::WrongMachine:
    return "machine type is not the one required";
  case PeStatus::MagicNotOfMachine:
    return "optional header is not of the format of the machine";
  case PeStatus::AlignmentsDiffer:
    return "section alignment differs from file alignment: the image cannot run in place";
  case PeStatus::SectionNotInPlace:
    return "a section's file offset or size differs from its memory layout: the image cannot run "
           "in place";
  case PeStatus::MemoryTooSmall:
    return "memory is smaller than the image";
  case PeStatus::RelocationsStripped:
    return "relocations were stripped, the image cannot move";
  case PeStatus::RelocationBlockOutsideTable:
    return "relocation block header lies outside the relocation directory";
  case PeStatus::RelocationBlockSizeInvalid:
    return "relocation block size is out of bounds";
  case PeStatus::UnsupportedRelocation:
    return "unsupported relocation type";
  case PeStatus::RelocationTargetOutsideImage:
    return "relocation target lies outside the image";
  case PeStatus::RelocationTargetInTable:
    return "relocation target lies inside the relocation table";
  }
  return "unknown fault";
}
