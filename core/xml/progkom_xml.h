// The device-data file PROG_KOM.XML: what a driver plug-in read from the register or confirms
// to the host about single goods: identifiers of goods handled, full goods records read back,
// and sales counters per goods.
//
// The file is written record by record as the operation goes on. Each record is handed to the
// operating system as soon as it is written, so a crash of the host loses none written before
// it; Close makes the file durable (fsync) before it reports success, because plug-ins clear a
// register's sales counters as soon as Close returns 0.
//
// Layout (windows-1250, lines end in CR LF, the last line has none):
//   <?xml version="1.0" encoding="windows-1250" ?>
//   <Dane operacja="NAME" xmlns="http://schemas.quorvel.org/UF/Dane.xsd">
//   \t<Towar><Id>7</Id></Towar>                         DodajTowar(id)
//   \t<Towar><Id>7</Id><Na>...</Na>...</Towar>          DodajTowar(towar): fields given only
//   \t<Obrót><IdUF>..</IdUF><Typ>T</Typ><Ilość>2</Ilość><Wartość>5</Wartość></Obrót>
//   </Dane>                                             Close
#pragma once

#include <cstdint>
#include <string>

#include "platform/api.h"

class CTowar;

// The device-data file lands in the current directory of the host.
inline constexpr const char* kProgKomFileName = "PROG_KOM.XML";
// Follows the file name in error 1 when the name of a result file is a symbolic link or no
// regular file, which is never written through (windows-1250).
QUORVEL_API extern const char* const kNotRegularDetail;

// False while the device-data file is open and when its Close could not finish it whole and
// durable (file and directory synced); true once it is, and when it could not be created at
// all (error 1 stands in the report then).
QUORVEL_API bool ProgKomFinishedOnDisk();

// The message of error 1 when the last device-data writer could not create its file (windows-
// 1250), null when it did.
QUORVEL_API const char* ProgKomCreateError();

// A full goods record as the writer writes it, without the leading tab and the line end:
// "<Towar>", every field whose not-given marker is clear in the fixed order, "</Towar>".
std::string TowarRecordText(const CTowar& towar);

// Writer of PROG_KOM.XML. The output stream is process-wide (one device-data file per job):
// the instance that created it finishes the file when destroyed; copies carry only the
// sales-written flag, and destroying a copy leaves the file alone.
class QUORVEL_API CProgKomXml {
 public:
  // Creates or truncates PROG_KOM.XML and writes the declaration and the root start tag with
  // `operacja` (escaped; the names of the operation table come out unchanged). A file that
  // cannot be created sets error 1 "PROG_KOM.XML" and every later write is dropped; a name
  // that is a symbolic link or not a regular file is left untouched (error 1 with
  // kNotRegularDetail after the name); a failed header write sets error 4 "PROG_KOM.XML".
  explicit CProgKomXml(const char* operacja);
  CProgKomXml(const CProgKomXml& other);
  CProgKomXml& operator=(const CProgKomXml& other);
  // The creating instance closes the file as Close does.
  ~CProgKomXml();

  // Writes the root end tag, flushes, syncs to disk and closes the file if it is open, then
  // returns GetErrorNum(). Any write, flush, sync or close failure sets error 4 "PROG_KOM.XML"
  // (the file is closed all the same), so 0 means the whole file is on disk. A second call only
  // returns the error number.
  int Close();

  // "\t<Towar><Id>id</Id></Towar>".
  void DodajTowar(std::uint32_t id);
  // A full goods record: every field whose not-given marker is clear, in the fixed order.
  void DodajTowar(const CTowar& towar);
  // A sales record from IdUF, Ty, Ilość and Wartość; quantity and value of opposite signs
  // are both written negative. Marks that sales were written.
  void DodajObrot(const CTowar& towar);

  // Whether PROG_KOM.XML is open for records (false when it could not be created, and after
  // Close).
  bool IsOpen() const;

  // Whether this writer has written a sales record since it was created.
  bool JestObrot() const { return obrot_; }

 private:
  bool obrot_ = false;
};
