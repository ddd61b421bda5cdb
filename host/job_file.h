// Job files written by the program itself: the operation named in Polish or by a short English
// alias, the goods from a CSV price list, and VEXA_JOB.XML written so that a job a host left in
// a directory is never replaced unasked.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvel::host {

// One operation a job names: `operacja` as VEXA_JOB.XML writes it (UTF-8), its alias.
struct JobOperation {
  std::string operacja;
  std::string alias;    // "" when it has none
  bool takesGoods = false;  // the job carries goods (and must: --goods)
};

// The operation named `name`: an alias (check, send, prices, delete, delete-all, import, sales,
// clear-sales) or the operation's own name, except Konfiguracja (its form needs a terminal:
// `quorvel config` makes PROG_KOM.CFG). False with `error` naming the accepted names.
bool findJobOperation(const std::string& name, JobOperation& operation, std::string& error);

// The aliases with their operations, for help texts.
std::vector<JobOperation> jobOperations();

// One goods of a price list: its job fields (tag, value; DK once per further barcode), UTF-8.
using JobGoods = std::vector<std::pair<std::string, std::string>>;

// The columns a price list may have, in the order the job writes them.
inline constexpr const char* kPriceListColumns[] = {"Id", "Ty", "KP", "KK", "DK", "Na",
                                                    "Ce", "CO", "Va", "JM", "Gr", "KO"};

// Reads a CSV price list (`bytes`, UTF-8 or windows-1250, separated by ',', ';' or tabs as the
// header row has them, quoted as RFC 4180 quotes): a header row naming job fields (in any
// order, any letter case), then one goods per row. An empty cell leaves its field out. Prices
// take a decimal comma; DK holds further barcodes separated by blanks; CO takes 0/1, yes/no,
// tak/nie, true/false. False with `error` "NAME:LINE: why" (NAME the file's name) on an unknown
// or repeated column, a row with more cells than the header, a value its field cannot take, or
// no goods at all.
bool readPriceList(const std::string& bytes, const std::string& name, std::vector<JobGoods>& goods,
                   std::string& error);

// The job file (UTF-8 XML, CR LF lines, valid against Dane.xsd), with the program's mark in a
// comment: `model` empty leaves idModelu out.
std::string jobFileText(const std::string& operacja, const std::string& model, const std::vector<JobGoods>& goods);

// `text` as XML character data, or as an attribute value (quotes escaped too).
std::string xmlEscaped(std::string_view text, bool attribute);

// Whether the bytes of a job file carry the program's mark (it wrote the file).
bool writtenByProgram(const std::string& bytes);

// Writes `text` as the file `path`, whole or not at all. A file there that the program did not
// write (a host's job) is replaced only with `force`. False with `error` otherwise.
bool writeJobFile(const std::string& path, const std::string& text, bool force, std::string& error);

}  // namespace quorvel::host
