#include "TableText.h"

#include "Arguments.h"
#include "FileRead.h"
#include "HostBuildRuns.h"
#include "ImageTables.h"
#include "TableFit.h"
#include "Trace.h"

#include <optional>
#include <sstream>
#include <vector>

namespace boardsim {

const char *const DecodeTableHelp =
    "run the entry with these rows in place of its decode table, PORT,SIZE,ATTRIBUTES each, "
    "separated by ';' (as many rows as the table has; see Tables below)";
const char *const SuperIoScriptHelp =
    "run the entry with these rows in place of its Super I/O script, PORT,AND,OR each, separated "
    "by ';' (as many rows as the script has)";
const char *const TablesFileHelp =
    "run the entry with the tables FILE gives ([decode], [script] or both) in place of its own";
const char *const PrintTablesHelp =
    "print the tables the run would read (its own, with --image the image's, with any rows "
    "given over them) in the form --tables reads, and run nothing";
const char *const TablesFormHelp =
    "Tables: the decode table and the Super I/O script of the build or the image, one row a\n"
    "  line; '#' starts a comment. A file for --tables gives either table or both:\n"
    "    [decode]\n"
    "    0x002E,2,0x000000FF  # PORT,SIZE,ATTRIBUTES: one SetIoDecode request, as decode takes it\n"
    "    [script]\n"
    "    0x002E,0x00,0x87     # PORT,AND,OR: one byte write to PORT; AND 0 writes OR, any other\n"
    "                         # reads the port first and writes (value & AND) | OR\n"
    "  With --image the rows are written over the tables in the loaded copy of the image (found\n"
    "  by the map's symbols); the file is not changed. The rows given must be as many as the\n"
    "  table holds, and the image's table whole rows of 8 or 4 bytes. Example: boardsim pei\n"
    "  --print-tables >t.txt, edit t.txt, boardsim pei --tables=t.txt.\n";

namespace {

// A tables file is a few kilobytes; anything near this is some other file.
constexpr std::uint64_t MaxTablesFileBytes = std::uint64_t{1} << 20;

constexpr char CommentStart = '#';
constexpr char RowSeparator = ';';

// The widths in bits of each row's fields, in the order the text gives them.
const std::vector<unsigned> DecodeFieldBits = {16, 8, 32}; // port, size, attributes
const std::vector<unsigned> ScriptFieldBits = {16, 8, 8};  // port, and-mask, or-value

const char *Form(sim::BoardTable Which) {
  return Which == sim::BoardTable::Decode ? "PORT,SIZE,ATTRIBUTES" : "PORT,AND,OR";
}

// The section header a file gives the table's rows under: "[decode]", "[script]".
std::string Section(sim::BoardTable Which) {
  return Which == sim::BoardTable::Decode ? "[decode]" : "[script]";
}

void AddRow(sim::TableRows &Rows, sim::BoardTable Which, const std::string &Row,
            const std::string &What) {
  if (Which == sim::BoardTable::Decode) {
    const auto Fields = ParseRequest(Row, DecodeFieldBits, Form(Which), What);
    Rows.Decode->push_back({static_cast<std::uint16_t>(Fields[0]),
                            static_cast<std::uint8_t>(Fields[1]),
                            static_cast<std::uint32_t>(Fields[2])});
  } else {
    const auto Fields = ParseRequest(Row, ScriptFieldBits, Form(Which), What);
    Rows.Script->push_back({static_cast<std::uint16_t>(Fields[0]),
                            static_cast<std::uint8_t>(Fields[1]),
                            static_cast<std::uint8_t>(Fields[2])});
  }
}

std::string Trimmed(const std::string &Text) {
  constexpr const char *Blanks = " \t\r";
  const std::string::size_type First = Text.find_first_not_of(Blanks);
  if (First == std::string::npos) {
    return {};
  }
  return Text.substr(First, Text.find_last_not_of(Blanks) - First + 1);
}

// The line up to its comment, without the blanks around it.
std::string WithoutComment(const std::string &Line) {
  return Trimmed(Line.substr(0, Line.find(CommentStart)));
}

// The rows of one line, as ';' separates them.
std::vector<std::string> RowsOf(const std::string &Line) {
  std::vector<std::string> Rows;
  std::istringstream Parts(Line);
  for (std::string Part; std::getline(Parts, Part, RowSeparator);) {
    if (const std::string Row = Trimmed(Part); !Row.empty()) {
      Rows.push_back(Row);
    }
  }
  return Rows;
}

// The table's rows start empty; a table given twice would silently lose one set of rows.
void Start(sim::TableRows &Rows, sim::BoardTable Which, const std::string &What) {
  const bool Given =
      Which == sim::BoardTable::Decode ? Rows.Decode.has_value() : Rows.Script.has_value();
  if (Given) {
    throw UsageError(What + ": rows for " + sim::TableName(Which) + " are given twice");
  }
  if (Which == sim::BoardTable::Decode) {
    Rows.Decode.emplace();
  } else {
    Rows.Script.emplace();
  }
}

} // namespace

void SetRowsFromOption(sim::TableRows &Rows, sim::BoardTable Which, const std::string &Text,
                       const std::string &Option) {
  Start(Rows, Which, Option);
  std::istringstream Lines(Text);
  std::size_t Number = 0;
  for (std::string Line; std::getline(Lines, Line);) {
    for (const std::string &Row : RowsOf(WithoutComment(Line))) {
      AddRow(Rows, Which, Row, Option + " row " + std::to_string(++Number) + " '" + Row + "'");
    }
  }
}

void SetRowsFromFile(sim::TableRows &Rows, const std::string &Path, const std::string &Option) {
  std::string Text;
  try {
    Text = formats::ReadFileText(Path, MaxTablesFileBytes);
  } catch (const formats::FileError &Error) {
    throw UsageError(Option + ": cannot read '" + Path + "': " + Error.what());
  }
  std::istringstream Lines(Text);
  std::optional<sim::BoardTable> Current;
  std::size_t LineNumber = 0;
  for (std::string Line; std::getline(Lines, Line);) {
    const std::string What = "'" + Path + "' line " + std::to_string(++LineNumber);
    const std::string Content = WithoutComment(Line);
    if (Content.empty()) {
      continue;
    }
    if (Content.front() == '[') {
      if (Content != Section(sim::BoardTable::Decode) &&
          Content != Section(sim::BoardTable::Script)) {
        throw UsageError(What + ": '" + Content + "' is not [decode] or [script]");
      }
      Current = Content == Section(sim::BoardTable::Decode) ? sim::BoardTable::Decode
                                                            : sim::BoardTable::Script;
      Start(Rows, *Current, What);
      continue;
    }
    if (!Current) {
      throw UsageError(What + ": a row before [decode] or [script]");
    }
    for (const std::string &Row : RowsOf(Content)) {
      AddRow(Rows, *Current, Row, What + " '" + Row + "'");
    }
  }
  if (!Current) {
    throw UsageError(Option + ": '" + Path + "' gives neither [decode] nor [script]");
  }
}

std::string TablesText(const sim::TableRows &Rows, const std::string &Source) {
  std::ostringstream Out;
  Out << "# The board tables of BoardInitPei, " << Source
      << ". boardsim pei --tables=FILE reads them.\n"
      << Section(sim::BoardTable::Decode) << "\n"
      << "# " << Form(sim::BoardTable::Decode) << ": one SetIoDecode request a row, in order\n";
  for (const sim::DecodeTableRow &Row : Rows.Decode.value()) {
    Out << sim::HexText(Row.Port, 4) << "," << unsigned{Row.Size} << ","
        << sim::HexText(Row.Attributes, 8) << "\n";
  }
  Out << Section(sim::BoardTable::Script) << "\n"
      << "# " << Form(sim::BoardTable::Script)
      << ": one byte write a row, in order; AND 0 writes OR, any other (value & AND) | OR\n";
  for (const sim::ScriptTableRow &Row : Rows.Script.value()) {
    Out << sim::HexText(Row.Port, 4) << "," << sim::HexText(Row.AndMask, 2) << ","
        << sim::HexText(Row.OrValue, 2) << "\n";
  }
  return Out.str();
}

void CheckTablesGiven(const sim::TableRows &Given, const imagerun::PeiImage *Image) {
  try {
    if (Image != nullptr) {
      imagerun::BytesWithTables(*Image, Given);
    } else {
      runs::CheckHostBuildTables(Given);
    }
  } catch (const imagerun::ImageRejected &Error) {
    throw UsageError(Error.what());
  } catch (const runs::TableMismatch &Error) {
    throw UsageError(Error.what());
  }
}

sim::TableRows TablesToRun(const sim::TableRows &Given, const imagerun::PeiImage *Image) {
  CheckTablesGiven(Given, Image);
  sim::TableRows Own;
  try {
    Own = Image != nullptr ? imagerun::TablesIn(*Image) : runs::HostBuildTables();
  } catch (const imagerun::ImageRejected &Error) {
    throw UsageError(Error.what());
  }
  if (Given.Decode) {
    Own.Decode = Given.Decode;
  }
  if (Given.Script) {
    Own.Script = Given.Script;
  }
  return Own;
}

} // namespace boardsim
