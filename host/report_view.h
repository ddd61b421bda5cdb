// Reading RAPORT.XML back for display: the host's view of a finished report.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace quorvel::host {

struct ReportMessage {
  std::string typ;                  // "E", "W", "I" (status: also "OK")
  std::string tresc;                // UTF-8
  long numer = 0;                   // 0 when the message has no <Numer>
  std::vector<std::string> towary;  // goods identifiers, in report order
};

struct ReportView {
  std::string operacja;  // UTF-8
  std::vector<ReportMessage> messages;
  ReportMessage status;
  bool complete = false;  // the whole document was read, status block included
  std::string error;      // why the file could not be read completely
};

// Parses the report file (windows-1250 XML) into `report`. Returns false when the file
// cannot be opened or holds no report at all; a report cut short returns true with
// `complete` false and what could be read.
bool readReport(const std::string& path, ReportView& report);

// Writes the messages and the final status readably, in UTF-8.
void printReport(const ReportView& report, std::FILE* out);

}  // namespace quorvel::host
