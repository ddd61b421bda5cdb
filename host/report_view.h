// Reading RAPORT.XML and PROG_KOM.XML back for display: the host's view of a finished job.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace quorvel::host {

struct ReportMessage {
  std::string type;                // "E", "W", "I" (status: also "OK")
  std::string text;                // UTF-8
  long number = 0;                 // 0 when the message has no <Numer>
  std::vector<std::string> goods;  // goods identifiers, in report order
};

struct ReportView {
  std::string operation;  // UTF-8
  std::vector<ReportMessage> messages;
  ReportMessage status;
  bool complete = false;  // the whole document was read, status block included
  std::string error;      // why the file could not be read completely
};

// Parses the report file (windows-1250 XML) into `report`. Returns false when the file
// cannot be opened or holds no report at all; a report cut short returns true with
// `complete` false and what could be read.
bool readReport(const std::string& path, ReportView& report);

// Writes the messages and the final status readably, in UTF-8: each message's text whole on
// its line after its type, its number and goods on indented lines below it.
void printReport(const ReportView& report, std::FILE* out);

// One record of the device-data file: a goods record ("Towar") or a sales record ("Obrót"),
// with its child elements in file order. Names and values are UTF-8; an element with an `id`
// attribute (the prices "Ce", the texts "Wł") is named with it, e.g. "Ce[1]".
struct DeviceRecord {
  std::string kind;
  std::vector<std::pair<std::string, std::string>> fields;
};

struct DeviceDataView {
  std::string operation;  // UTF-8
  std::vector<DeviceRecord> records;
  bool complete = false;  // the root element was closed
  std::string error;      // why the file could not be read completely
};

// Parses the device-data file (windows-1250 XML). Same contract as readReport.
bool readDeviceData(const std::string& path, DeviceDataView& data);

// Writes one line per record, e.g. "    towar:  Id=201" or
// "    sprzedaż:  IdUF=1  Typ=T  Ilość=3  Wartość=12.6", or "    (no records)".
void printDeviceData(const DeviceDataView& data, std::FILE* out);

}  // namespace quorvel::host
