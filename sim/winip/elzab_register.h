// The simulated Elzab register behind the WinIP stand-in: its goods base, packagings, links,
// further barcodes, sales counters and the faults it is told to play, kept in a text file.
//
// The state file is a list of statements, one a line, applied in order:
//
//   register N                       the register's number (1 to 99)
//   linkmax N                        room for links (the register's 256 unless changed)
//   barcodemax N                     room for further barcodes
//   modem 0|1                        a modem connection is up (ModStart .. ModStop)
//   delay MS                         every call takes MS milliseconds more (a slow line)
//   goods PLU VAT GROUP UNIT DECIMALS BLOCKED PACKAGING PRICE BARCODE NAME
//                                    defines goods PLU (PRICE in hundredths, BARCODE "-" for
//                                    none, NAME the rest of the line, UTF-8)
//   sales PLU SOLD-QTY SOLD-VALUE RETURNED-QTY RETURNED-VALUE
//                                    sets its counters (quantities in thousandths, values in
//                                    hundredths; returns count for packagings only)
//   barcode PLU CODE                 adds a further barcode
//   link PLU PACKAGING               links goods PLU with packaging PACKAGING
//   unlink PLU | drop PLU | drop-barcodes PLU|* | drop-goods * | clear-sales
//   fault FUNCTION[:PLU] ACTION COUNT|always
//   fault-used FUNCTION[:PLU] ACTION  one play of that fault used up
//
// Lines starting with '#' are comments. WinIP calls append the statements of their changes
// to the file, so a call costs the same with 10 goods or 50,000; the stand-in rewrites the
// file in its short form when it is unloaded, and `elzab_sim` does after every command.
#pragma once

#include "sim/sim_faults.h"
#include "sim/sim_numbers.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace quorvel::elzabsim {

constexpr int kMaxPlu = 999999;
constexpr std::size_t kNameLength = 19;       // characters of a goods name
constexpr long long kMaxPrice = 99999999;     // hundredths
constexpr std::size_t kBarcodeDigits = 13;
constexpr int kMaxPackagings = 64;
constexpr int kDefaultLinkMax = 256;
constexpr int kDefaultBarcodeMax = 100000;
constexpr const char* kDefaultStateFile = "ELZAB_SIM.TXT";
constexpr const char* kStateEnvironment = "QUORVEL_ELZAB_STATE";
constexpr const char* kNoBarcode = "0000000000000";

// The sixteen functions WinIP exports (each as "__" + name).
inline constexpr const char* kFunctions[] = {"ModStart", "ModStop", "OBajty",   "ZBPTowar", "ZCTowar",  "KTowar",
                                             "KTBarkod", "KWiaz",   "ZDBarkod", "ZWiaz",    "KDBarMax", "KTowMax",
                                             "TowarMax", "OWiaz",   "ODBarkod", "OSpOpMax"};

// Where the state lives: $QUORVEL_ELZAB_STATE, else ELZAB_SIM.TXT in the current directory.
std::string defaultStatePath();

struct Goods {
  std::string name;  // the register's code page (852), at most 19 characters
  int vat = 1, group = 1, unit = 0, decimals = 3, blocked = 0;
  bool packaging = false;
  long long price = 0;                                // hundredths
  std::string barcode = kNoBarcode;                   // as the register holds it: 13 digits or more
  long long soldQuantity = 0, soldValue = 0;          // thousandths, hundredths
  long long returnedQuantity = 0, returnedValue = 0;  // packagings taken back
  int link = 0;                                       // linked packaging, 0 for none
  std::vector<std::string> barcodes;                  // further barcodes, 13 digits
  bool hasSales() const { return soldQuantity || soldValue || returnedQuantity || returnedValue; }
};

// Where: FUNCTION ("ZBPTowar", or "*" for any function) or FUNCTION:PLU (only calls about that
// PLU); action: code:N, cut, garble, noheader, missing, lost, empty, comments, cr-only.
using quorvel::sim::Fault;

// A fault as the state file and `elzab_sim show` name it: "WHERE ACTION".
inline std::string faultKey(const Fault& f) { return f.where + " " + f.action; }

// Reads FUNCTION[:PLU] into f.where, the PLU written without leading zeros; false for an
// unknown function or a bad PLU.
bool parseFaultTarget(const std::string& text, Fault& f);
// Accepts an action and spells its aliases out: nak = code:24, unsupported = code:25,
// send-timeout = code:20, receive-timeout = code:21.
bool normaliseFaultAction(std::string& action);

class Register {
 public:
  int registerNumber = 1;
  int linkMax = kDefaultLinkMax;
  int barcodeMax = kDefaultBarcodeMax;
  bool modemUp = false;
  int delayMs = 0;
  // The line the register sits on, as KONFIG.TXT names it (COM1 to COM4, 9600 or 19200): a
  // call configured for another port or speed finds no register there (result 21). Port 0:
  // the register answers on whatever line the configuration names.
  int linePort = 0;
  int lineSpeed = 0;
  std::vector<Fault> faults;

  const std::map<int, Goods>& goods() const { return goods_; }
  const Goods* find(int plu) const;
  int packagingCount() const { return static_cast<int>(packagings_.size()); }
  int linkCount() const { return links_; }
  int barcodeCount() const { return barcodes_; }
  // The PLU that holds `name`, or 0.
  int pluOfName(const std::string& name) const;

  // Changes; each is also written to the journal as a statement.
  void define(int plu, const Goods& definition);  // keeps counters, link and barcodes
  void drop(int plu);
  void setSales(int plu, long long soldQ, long long soldV, long long retQ, long long retV);
  void addBarcode(int plu, const std::string& code);
  void dropBarcodes(int plu);  // 0: all goods
  void setLink(int plu, int packaging);
  void unlink(int plu);
  void dropAllGoods();
  void clearSales();
  void setModem(bool up);
  void setRegisterNumber(int n);
  void addFault(const Fault& f);
  void clearFaults();
  // The first planned fault for `function` (and `plu`); uses one play of it. nullptr: none.
  bool takeFault(const std::string& function, int plu, Fault& played);

  // Applies one statement; false when it cannot be read.
  bool apply(const std::string& line);
  // The whole state in its short form.
  std::string text() const;
  // Statements written since the last call.
  std::string takeJournal();

 private:
  void journal(const std::string& line);
  std::map<int, Goods> goods_;
  std::map<std::string, int> names_;
  std::set<int> packagings_;
  int links_ = 0;
  int barcodes_ = 0;
  std::string journal_;
};

// Reads a state file; false with a message when it is missing or a line cannot be read.
bool loadRegister(const std::string& path, Register& r, std::string& error);
// Writes the short form through a temporary file.
bool saveRegister(const std::string& path, const Register& r);
// Appends statements to the file.
bool appendJournal(const std::string& path, const std::string& statements);

// Names between the register's code page 852 and UTF-8 for the state file and people. The
// 18 Polish letters are mapped; other bytes from 0x80 and '\' are written as \xHH, so that
// every name survives the round trip.
std::string nameToUtf8(const std::string& cp852);
std::string nameFromUtf8(const std::string& utf8);
// Whether the register prints the byte in a name: printable ASCII and the 18 Polish letters of
// code page 852; nothing else of the code page.
bool nameCharacter(unsigned char byte);
// Windows-1250 text (the host's) to code page 852, Polish letters only.
std::string cp1250To852(const std::string& text);

using quorvel::sim::parseDecimal;
// An integer field of digits (and an optional leading '-'), at most 18 digits.
bool parseInt(const std::string& text, long long& out);
// "1234" with scale 1000 -> "1.234".
std::string formatDecimal(long long units, long long scale);

}  // namespace quorvel::elzabsim
