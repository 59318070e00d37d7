#include "Q35Comparison.h"

#include "Board.h"
#include "RunRecord.h"

#include <algorithm>
#include <functional>

namespace q35 {

namespace {

// Records shown on each side of the first difference.
constexpr std::size_t ContextRecords = 4;
constexpr unsigned BitsPerByte = 8;
constexpr std::uint64_t ByteMask = 0xFF;

sim::TraceRecord AsRecord(const LoggedAccess &Access) {
  sim::TraceRecord Record;
  Record.Kind = Access.Kind;
  Record.Width = Access.Width;
  Record.Address = Access.Address;
  Record.Value = Access.Value;
  return Record;
}

std::string Q35Line(const LoggedAccess &Access) {
  std::string Line = sim::FormatRecord(AsRecord(Access), false);
  if (!Access.ValueLogged) {
    Line += "  ; no region claims it: value not logged";
  } else if (!Access.Region.empty()) {
    Line += "  ; '" + Access.Region + "'";
  }
  return Line + "  (log line " + std::to_string(Access.Line) + ")";
}

const char *ModuleName(sim::RunKind Which) {
  return Which == sim::RunKind::Dxe ? "BoardInitDxe" : "BoardInitPei";
}

void AppendSide(std::string &Text, const char *Side, std::size_t From, std::size_t To,
                std::size_t Mark, std::size_t Count,
                const std::function<std::string(std::size_t)> &Line) {
  Text += std::string("  ") + Side + ":\n";
  for (std::size_t Index = From; Index < std::min(To, Count); ++Index) {
    Text += (Index == Mark ? "  > " : "    ") + std::to_string(Index) + ": " + Line(Index) + "\n";
  }
  if (Mark >= Count) {
    Text += "  > " + std::to_string(Mark) + ": (no more accesses)\n";
  }
}

} // namespace

std::vector<std::uint8_t> ReadAnswers(const std::vector<LoggedAccess> &Accesses) {
  std::vector<std::uint8_t> Bytes;
  for (const LoggedAccess &Access : Accesses) {
    if (Access.Kind != sim::AccessKind::PortIn && Access.Kind != sim::AccessKind::MemRead) {
      continue;
    }
    for (unsigned Byte = 0; Byte < Access.Width; ++Byte) {
      Bytes.push_back(static_cast<std::uint8_t>((Access.Value >> (Byte * BitsPerByte)) & ByteMask));
    }
  }
  return Bytes;
}

bool SameAccess(const LoggedAccess &OnQ35, const sim::TraceRecord &OnBoard) {
  return OnQ35.Kind == OnBoard.Kind && OnQ35.Width == OnBoard.Width &&
         OnQ35.Address == OnBoard.Address && (!OnQ35.ValueLogged || OnQ35.Value == OnBoard.Value);
}

std::optional<std::size_t> FirstDifference(const std::vector<LoggedAccess> &OnQ35,
                                           const std::vector<sim::TraceRecord> &OnBoard) {
  const std::size_t Common = std::min(OnQ35.size(), OnBoard.size());
  for (std::size_t Index = 0; Index < Common; ++Index) {
    if (!SameAccess(OnQ35[Index], OnBoard[Index])) {
      return Index;
    }
  }
  if (OnQ35.size() != OnBoard.size()) {
    return Common;
  }
  return std::nullopt;
}

std::size_t PhaseComparison::valuesNotLogged() const {
  return static_cast<std::size_t>(std::count_if(
      Q35.begin(), Q35.end(), [](const LoggedAccess &Access) { return !Access.ValueLogged; }));
}

PhaseComparison ComparePhase(const runs::ModuleRuns &Runs, sim::RunKind What,
                             const sim::Scenario &Settings, std::vector<LoggedAccess> Q35,
                             Answers Given) {
  PhaseComparison Compared;
  Compared.Which = What;
  Compared.Q35 = std::move(Q35);
  const std::vector<std::uint8_t> Bytes =
      Given == Answers::FromQ35 ? ReadAnswers(Compared.Q35) : std::vector<std::uint8_t>{};
  sim::Scenario Kept = Settings;
  Kept.RecordTrace = true;
  sim::Board Board(Kept);
  Board.answerReadsFrom(Bytes);
  const runs::RunRecord Record = runs::RecordRun(Runs, Board, What);
  for (const sim::TraceRecord &Each : Record.Trace) {
    if (sim::IsBusAccess(Each.Kind)) {
      Compared.HostBuild.push_back(Each);
    }
  }
  Compared.AnswerBytes = Bytes.size();
  Compared.AnswerBytesUsed = Board.answersUsed();
  Compared.HostHung = Record.Result.Hung;
  Compared.HostStatus = Record.Result.EntryStatus;
  Compared.Differs = FirstDifference(Compared.Q35, Compared.HostBuild);
  return Compared;
}

std::string ReportText(const PhaseComparison &Compared) {
  const std::string Name = ModuleName(Compared.Which);
  std::string Text = Name + ": " + std::to_string(Compared.Q35.size()) + " accesses on q35, " +
                     std::to_string(Compared.HostBuild.size()) + " on the host build";
  Text += Compared.same() ? "; they agree record for record\n" : "; they differ\n";
  Text +=
      "  compared: direction, width, address and value of every port and device-memory "
      "access; " +
      std::to_string(Compared.valuesNotLogged()) +
      " of them reached no q35 region and are compared without their value (the log has none)\n";
  Text += "  answers: " + std::to_string(Compared.AnswerBytes) + " bytes from q35's reads, " +
          std::to_string(Compared.AnswerBytesUsed) + " taken by the host build";
  Text += Compared.HostHung ? "; the host build's run hung\n" : "\n";
  if (Compared.HostStatus) {
    Text += "  host build entry status: " + sim::HexText(*Compared.HostStatus, 8) + "\n";
  }
  if (!Compared.Differs) {
    return Text;
  }
  const std::size_t At = *Compared.Differs;
  const std::size_t From = At > ContextRecords ? At - ContextRecords : 0;
  const std::size_t To = At + ContextRecords + 1;
  Text += "  first difference at access " + std::to_string(At) + ":\n";
  AppendSide(Text, "q35", From, To, At, Compared.Q35.size(),
             [&](std::size_t Index) { return Q35Line(Compared.Q35[Index]); });
  AppendSide(Text, "host build", From, To, At, Compared.HostBuild.size(),
             [&](std::size_t Index) { return sim::FormatRecord(Compared.HostBuild[Index]); });
  return Text;
}

} // namespace q35
