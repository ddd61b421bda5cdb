// The text files quorvel_elzab exchanges with WinIP, as plain functions over texts: the
// configuration files it writes (KONFIG.TXT, SKONFIG.TXT, MODKONF.TXT), the data lines of the
// input file EZB_IN.TXT, the reader of WinIP's result files (EZB_OUT.TXT, EZB_SPR2.TXT,
// EZB_SPR3.TXT) and the mappings of their records to goods and sales records.
//
// No I/O and no error state here, except the price and quantity conversions, which go through
// the core's str2currency and report a bad text as it does. Shared by the plug-in, its tests,
// the fuzzer and the benchmark. Texts are windows-1250 (names on the register's side: code
// page 852). Line ends are "\n"; the plug-in writes each as CR LF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/encoding.h"
#include "core/records.h"
#include "drivers/elzab/config.h"

namespace quorvel::elzab {

// ---- Configuration files -----------------------------------------------------------------

// The line of KONFIG.TXT for a record, or why the record cannot be written: the message of
// the first check that fails, in the order the checks run (register number, port, speed,
// multiplexer channel, then, with the modem, the phone number). After a refusal `line` holds
// what the file has received by then: nothing, or the line without its modem part when the
// phone number is refused.
struct KonfigLine {
  std::string line;      // without a line end
  std::string refusal;   // empty when the record passes
};
KonfigLine konfigLine(const SUConfig& config);

// The port number of "COM1" to "COM4" (the letters compared exactly, the rest read from its
// leading digits); 0 for any other name.
int comPortNumber(std::string_view port);

// MUX code and channel of KONFIG.TXT for the record's multiplexer and modem settings.
struct MuxSetting {
  int code;
  int channel;
};
MuxSetting konfigMux(const SUConfig& config);

// The fourteen lines of SKONFIG.TXT and the lines of MODKONF.TXT, each ended by "\n".
const std::string& skonfigText();
const std::string& modkonfText();

// The header of EZB_IN.TXT: "#N\n#\n#\n".
std::string inputHeader(std::int32_t registerNumber);

// ---- Data lines of EZB_IN.TXT ----------------------------------------------------------

// The register's code page: the 18 Polish letters in code page 852, no further characters.
const CEncoding& deviceEncoding();

// The goods line (ZBPTowar, ZCTowar), ended by "\n": PLU, name (code page 852, kNameLength characters,
// padded with blanks), VAT, group (1 when not given), 3, unit, 0, barcode (at least 13
// characters, "0"-padded on the left), price in hundredths, 1 for a packaging. Control
// characters of the name and the barcode (a tab would split the line into other fields) go
// to the register as blanks.
std::string goodsLine(const CTowar& t);
// "$PLU\n" (KTowar, KTBarkod, KWiaz).
std::string pluLine(const CTowar& t);
// One "$PLU\tBARCODE\n" line per further barcode of DK (ZDBarkod); "" when DK lists none.
std::string extraBarcodeLines(const CTowar& t);
// "$PLU\tLINKED\n" with the decimal value of KO (ZWiaz); "" when KO is not a PLU number of
// the register (digits only, within its PLU range).
std::string linkLine(const CTowar& t);

// ---- Result files ----------------------------------------------------------------------

// Longest line of a result file, not counting its line end.
inline constexpr std::size_t kMaxLineLength = 1021;

// The fields of one record line: views into the line, valid during the call that hands them
// out. A field beyond the last reads as empty.
class RecordFields {
 public:
  std::string_view operator[](std::size_t i) const { return i < fields_.size() ? fields_[i] : std::string_view(); }
  std::size_t size() const { return fields_.size(); }
  // Splits a record line (trimmed, beginning with '$') into its fields.
  void split(std::string_view line);

 private:
  std::vector<std::string_view> fields_;
};

// The reader of one result file, fed the file's bytes in pieces of any size. Lines end in LF
// or CR LF; each is trimmed of white space at both ends. The first three lines that are
// neither empty nor comments (";") form the header and must begin with '#'; after them,
// empty and comment lines are skipped and every other line is a record beginning with '$'.
// A damaged file never reads as one without records: a control byte other than the tab inside
// any line (a NUL would cut a field short, a lone CR means lines without their LF) stops the
// reading, and so does a file that ends before its header is complete (an empty
// file, one of comments only). A complete header without records is a file without records.
class ResultParser {
 public:
  enum class Stop {
    kNone,      // goes on
    kSyntax,    // a line out of place: a header line without '#', a record without '$'
    kTooLong,   // a line longer than kMaxLineLength
    kStopped,   // the record handler returned non-zero
    kControl,   // a control byte inside a line (controlByte() says which)
    kNoHeader,  // the file ended before its three header lines (line() is the last line read)
  };
  // Called for every record with its line number (from 1); non-zero stops the reading.
  using OnRecord = std::function<int(unsigned line, const RecordFields& fields)>;

  explicit ResultParser(OnRecord onRecord) : onRecord_(std::move(onRecord)) {}

  // Takes the next bytes of the file; returns kNone while reading may go on.
  Stop feed(std::string_view bytes);
  // The end of the file: a last line without its line end is read now.
  Stop finish();

  Stop stopped() const { return stop_; }
  // Number of the line read last (the offending one after a stop).
  unsigned line() const { return line_; }
  // Records handed out so far.
  unsigned long records() const { return records_; }
  // After kControl: the offending byte.
  unsigned char controlByte() const { return controlByte_; }

 private:
  Stop takeLine(std::string_view raw);

  OnRecord onRecord_;
  std::string pending_;       // the line begun in an earlier piece
  unsigned line_ = 0;
  int headerLines_ = 0;
  unsigned long records_ = 0;
  RecordFields fields_;
  Stop stop_ = Stop::kNone;
  unsigned char controlByte_ = 0;
};

// A field that cannot become the record the file means.
struct FieldFault {
  enum Kind { kNotNumber, kBelowRange, kAboveRange, kMissing };
  Kind kind;
  std::string text;   // the field as read ("" for a missing one)
};

// A record of fewer fields than WinIP writes for it (a file cut short): kMissing.
std::optional<FieldFault> requireFields(const RecordFields& f, std::size_t count);

// The leading decimal number of a field (white space and a sign allowed before its digits), as
// the register's numeric fields are read; nullopt when there is none or when it does not fit
// in [min, max].
std::optional<std::int64_t> leadingNumber(std::string_view field, std::int64_t min, std::int64_t max);

// A field with its leading "0" characters removed.
std::string_view withoutLeadingZeros(std::string_view field);

// The goods record of EZB_OUT.TXT after TowarMax into a fresh goods record: PLU, name (from
// code page 852), VAT, group, unit, barcode without leading zeros (given when anything is
// left), price in hundredths, type 'O' when field 10 is exactly "1". Fewer than ten fields, a
// PLU without digits or
// outside 0 to 4294967295, and a VAT, group or unit beyond a 32-bit number, give a fault (the
// other numeric fields read as 0 without digits). A bad price is reported by str2currency
// through the error state.
std::optional<FieldFault> goodsFromRecord(const RecordFields& f, CTowar& out);

// A sales record of EZB_SPR2.TXT or EZB_SPR3.TXT into a fresh record: IdUF the PLU field
// without leading zeros, KP its value, quantity (a decimal text) and value (hundredths), type
// `typ`. Three fields are needed and the PLU is checked as for goods; bad amounts are
// reported by str2currency.
std::optional<FieldFault> salesFromRecord(const RecordFields& f, char typ, CTowar& out);

// The PLU value of a link or barcode record field: nullopt when it names no possible PLU.
std::optional<std::uint32_t> pluValue(std::string_view field);

}  // namespace quorvel::elzab
