// The text form of the early-init module's board tables, as `boardsim pei --print-tables` prints
// them and --tables, --decode-table and --superio-script read them:
//
//   [decode]              the rows after it are the decode table's
//   0x002E,2,0x000000FF   PORT,SIZE,ATTRIBUTES: one SetIoDecode request
//   [script]              the rows after it are the Super I/O script's
//   0x002E,0x00,0x87      PORT,AND,OR: one byte write
//
// One row a line ('#' starts a comment, blank lines are skipped); numbers are decimal or 0x
// hexadecimal. On the command line the rows of one table are separated by ';' or new lines.
#pragma once

#include "Images.h"
#include "TableRows.h"

#include <string>

namespace boardsim {

// The help of the options and of the form, for `boardsim pei --help`.
extern const char *const DecodeTableHelp;
extern const char *const SuperIoScriptHelp;
extern const char *const TablesFileHelp;
extern const char *const PrintTablesHelp;
extern const char *const TablesFormHelp;

// The rows of one table in Text (an option's value); UsageError naming Option and the row.
void SetRowsFromOption(sim::TableRows &Rows, sim::BoardTable Which, const std::string &Text,
                       const std::string &Option);
// The tables the file at Path gives (either or both); UsageError naming the file and the line.
void SetRowsFromFile(sim::TableRows &Rows, const std::string &Path, const std::string &Option);

// Both tables (Rows holds both) in the text form, headed by a comment naming Source.
std::string TablesText(const sim::TableRows &Rows, const std::string &Source);

// UsageError, one line, when the rows Given do not fill the tables of the host build, or of Image.
void CheckTablesGiven(const sim::TableRows &Given, const imagerun::PeiImage *Image);

// Both tables a pei run with the rows Given reads: the host build's own, or with Image the image's,
// with Given's rows over them; UsageError as CheckTablesGiven gives it, or when the image's own
// table is not whole rows.
sim::TableRows TablesToRun(const sim::TableRows &Given, const imagerun::PeiImage *Image);

} // namespace boardsim
