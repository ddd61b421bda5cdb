// `quorvel report --format json|csv`: the result files of a job for scripts and spreadsheets.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "host/report_view.h"

namespace quorvel::host {

// One JSON object of both result files:
//   {"directory": DIR, "job": NAME (only for a kept job), "operation": ..., "complete": bool,
//    "status": {"type", "text"} or null, "messages": [{"type", "text", "number" (null when
//    none), "goods": [...]}], "records": [{"record": "Towar" or "Obrót", FIELD: VALUE...}]}
// Every field of a record is named by its element (with its id: "Ce[1]"); a field that comes
// more than once in a record holds the array of its values. Texts are UTF-8.
void printJson(const std::string& directory, const std::string& job, const ReportView& report,
               const DeviceDataView& data, std::FILE* out);

// The records of PROG_KOM.XML as CSV (RFC 4180: CRLF line ends, fields quoted where needed,
// UTF-8): the sales records ("Obrót") when there are any, the goods records ("Towar")
// otherwise, one row each under a header row of their field names in the order they first
// come. A field that comes more than once in a record holds its values joined by ';'. No
// records: nothing at all is written, not even a header.
void printCsv(const DeviceDataView& data, std::FILE* out);

// The jobs of `quorvel report --history`, for the same two formats.
struct KeptJobRow {
  std::string folder;
  std::string operation;
  std::string status;        // "OK", "W", "E", "I", "cut off", or "" without a report
  int salesRecords = 0;
  std::string salesTotal;    // "12.60"
  bool current = false;
  bool undelivered = false;
};
void printHistoryJson(const std::string& directory, const std::vector<KeptJobRow>& jobs, std::FILE* out);
void printHistoryCsv(const std::vector<KeptJobRow>& jobs, std::FILE* out);

// `text` as a JSON string, quotes included.
std::string jsonString(const std::string& text);

}  // namespace quorvel::host
