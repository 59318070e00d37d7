#include "QemuTraceLog.h"

#include "PhaseMarker.h"

#include <charconv>
#include <utility>

namespace q35 {

namespace {

using sim::AccessKind;

constexpr std::string_view ReadEvent = "memory_region_ops_read ";
constexpr std::string_view WriteEvent = "memory_region_ops_write ";
constexpr std::string_view InvalidRead = "Invalid read at addr ";
constexpr std::string_view InvalidWrite = "Invalid write at addr ";
// The processor number QEMU prints for an access no processor made.
constexpr std::string_view NoProcessor = "-1";
constexpr unsigned Hexadecimal = 16;
constexpr unsigned Decimal = 10;
constexpr unsigned WidestAccess = 8;

[[noreturn]] void Malformed(std::size_t LineNumber, const std::string &What) {
  throw LogError("line " + std::to_string(LineNumber) + ": " + What);
}

// "PID@SECONDS.MICROSECONDS:" in front of a trace event.
std::string_view WithoutTimestamp(std::string_view Line) {
  const std::size_t At = Line.find('@');
  const std::size_t Colon = Line.find(':');
  if (At == std::string_view::npos || Colon == std::string_view::npos || At > Colon) {
    return Line;
  }
  for (std::size_t Index = 0; Index < Colon; ++Index) {
    const char Character = Line[Index];
    if (Index != At && Character != '.' && (Character < '0' || Character > '9')) {
      return Line;
    }
  }
  return Line.substr(Colon + 1);
}

std::optional<std::uint64_t> Number(std::string_view Text, unsigned Base) {
  if (Base == Hexadecimal) {
    if (Text.size() < 2 || Text[0] != '0' || (Text[1] != 'x' && Text[1] != 'X')) {
      return std::nullopt;
    }
    Text.remove_prefix(2);
  }
  std::uint64_t Value = 0;
  const auto [End, Error] = std::from_chars(Text.data(), Text.data() + Text.size(), Value, Base);
  if (Error != std::errc() || End != Text.data() + Text.size() || Text.empty()) {
    return std::nullopt;
  }
  return Value;
}

// The word after Key in Fields ("addr 0x80" gives "0x80"), up to the next space or comma.
std::optional<std::string_view> After(std::string_view Fields, std::string_view Key) {
  const std::size_t Start = Fields.find(Key);
  if (Start == std::string_view::npos) {
    return std::nullopt;
  }
  std::string_view Rest = Fields.substr(Start + Key.size());
  return Rest.substr(0, Rest.find_first_of(" ,"));
}

std::string QuotedName(std::string_view Fields, std::string_view Key) {
  const std::size_t Start = Fields.find(Key);
  if (Start == std::string_view::npos) {
    return {};
  }
  std::string_view Rest = Fields.substr(Start + Key.size());
  return std::string(Rest.substr(0, Rest.find('\'')));
}

unsigned CheckedWidth(std::optional<std::string_view> Text, std::size_t LineNumber) {
  const std::optional<std::uint64_t> Width = Text ? Number(*Text, Decimal) : std::nullopt;
  if (!Width || *Width == 0 || *Width > WidestAccess) {
    Malformed(LineNumber, "no access size from 1 to 8 bytes");
  }
  return static_cast<unsigned>(*Width);
}

std::uint64_t HexField(std::string_view Fields, std::string_view Key, std::size_t LineNumber) {
  const std::optional<std::string_view> Text = After(Fields, Key);
  const std::optional<std::uint64_t> Value = Text ? Number(*Text, Hexadecimal) : std::nullopt;
  if (!Value) {
    Malformed(LineNumber, "no hexadecimal " + std::string(Key.substr(0, Key.size() - 1)));
  }
  return Value.value_or(0);
}

AccessKind KindAt(std::uint64_t Address, bool Write) {
  if (Address < PortSpaceEnd) {
    return Write ? AccessKind::PortOut : AccessKind::PortIn;
  }
  return Write ? AccessKind::MemWrite : AccessKind::MemRead;
}

std::optional<LoggedAccess> OpsLine(std::string_view Fields, bool Write, std::size_t LineNumber) {
  const std::optional<std::string_view> Processor = After(Fields, "cpu ");
  if (!Processor) {
    Malformed(LineNumber, "no processor number");
  }
  if (*Processor == NoProcessor) {
    return std::nullopt;
  }
  const std::uint64_t Address = HexField(Fields, "addr ", LineNumber);
  const std::uint64_t Value = HexField(Fields, "value ", LineNumber);
  LoggedAccess Access;
  Access.Kind = KindAt(Address, Write);
  Access.Width = CheckedWidth(After(Fields, "size "), LineNumber);
  Access.Address = Address;
  Access.Value = Value;
  Access.Region = QuotedName(Fields, "name '");
  Access.Line = LineNumber;
  return Access;
}

LoggedAccess UnclaimedLine(std::string_view Fields, bool Write, std::size_t LineNumber) {
  const std::optional<std::uint64_t> Parsed =
      Number(Fields.substr(0, Fields.find(',')), Hexadecimal);
  if (!Parsed) {
    Malformed(LineNumber, "no hexadecimal address");
  }
  const std::uint64_t Address = Parsed.value_or(0);
  LoggedAccess Access;
  Access.Kind = KindAt(Address, Write);
  Access.Width = CheckedWidth(After(Fields, "size "), LineNumber);
  Access.Address = Address;
  Access.Value = Write ? 0 : UnclaimedReadValue;
  Access.ValueLogged = false;
  Access.Line = LineNumber;
  return Access;
}

bool IsMarker(const LoggedAccess &Access, std::uint8_t Marker) {
  return Access.Kind == AccessKind::PortOut && Access.Address == PhaseMarker::Port &&
         Access.Width == 1 && Access.Value == Marker;
}

std::string MarkerText(std::uint8_t Marker) {
  return "marker " + sim::HexText(Marker, 2) + " (an 8-bit write to port " +
         sim::HexText(PhaseMarker::Port, 2) + ")";
}

// The index of the one marker access in Log.
std::size_t FindMarker(const std::vector<LoggedAccess> &Log, std::uint8_t Marker) {
  std::optional<std::size_t> Found;
  for (std::size_t Index = 0; Index < Log.size(); ++Index) {
    if (!IsMarker(Log[Index], Marker)) {
      continue;
    }
    if (Found) {
      throw LogError(MarkerText(Marker) + " appears twice, at lines " +
                     std::to_string(Log[*Found].Line) + " and " + std::to_string(Log[Index].Line));
    }
    Found = Index;
  }
  if (!Found) {
    throw LogError(MarkerText(Marker) +
                   " is not in the log (a boot program without phase markers, or a run that "
                   "stopped before it)");
  }
  return *Found;
}

std::vector<LoggedAccess> Between(const std::vector<LoggedAccess> &Log, std::uint8_t Start,
                                  std::uint8_t End) {
  const std::size_t From = FindMarker(Log, Start);
  const std::size_t To = FindMarker(Log, End);
  if (To < From) {
    throw LogError(MarkerText(End) + " comes before " + MarkerText(Start));
  }
  return {Log.begin() + static_cast<std::ptrdiff_t>(From + 1),
          Log.begin() + static_cast<std::ptrdiff_t>(To)};
}

} // namespace

std::optional<LoggedAccess> ParseLogLine(std::string_view Line, std::size_t LineNumber) {
  Line = WithoutTimestamp(Line);
  if (Line.starts_with(ReadEvent) || Line.starts_with(WriteEvent)) {
    const bool Write = Line.starts_with(WriteEvent);
    return OpsLine(Line.substr((Write ? WriteEvent : ReadEvent).size()), Write, LineNumber);
  }
  if (Line.starts_with(InvalidRead) || Line.starts_with(InvalidWrite)) {
    const bool Write = Line.starts_with(InvalidWrite);
    return UnclaimedLine(Line.substr((Write ? InvalidWrite : InvalidRead).size()), Write,
                         LineNumber);
  }
  return std::nullopt;
}

std::vector<LoggedAccess> ParseLog(std::string_view Text) {
  std::vector<LoggedAccess> Accesses;
  std::size_t LineNumber = 0;
  while (!Text.empty()) {
    const std::size_t End = Text.find('\n');
    const std::string_view Line = Text.substr(0, End);
    Text.remove_prefix(End == std::string_view::npos ? Text.size() : End + 1);
    if (auto Access = ParseLogLine(Line, ++LineNumber)) {
      Accesses.push_back(std::move(*Access));
    }
  }
  return Accesses;
}

ModuleAccesses CutByMarkers(const std::vector<LoggedAccess> &Log) {
  ModuleAccesses Cut;
  Cut.Pei = Between(Log, PhaseMarker::PeiStart, PhaseMarker::PeiEnd);
  Cut.Dxe = Between(Log, PhaseMarker::DxeStart, PhaseMarker::DxeEnd);
  if (FindMarker(Log, PhaseMarker::DxeStart) < FindMarker(Log, PhaseMarker::PeiEnd)) {
    throw LogError(MarkerText(PhaseMarker::DxeStart) + " comes before " +
                   MarkerText(PhaseMarker::PeiEnd));
  }
  return Cut;
}

} // namespace q35
