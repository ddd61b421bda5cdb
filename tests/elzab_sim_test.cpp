// The WinIP stand-in and its simulated Elzab register, called through dlopen as the driver
// calls it, in a scratch job directory with hand-written configuration and input files.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "sim/winip/elzab_register.h"
#include "tests/support/test_support.h"

using quorvel::test::fileExists;
using quorvel::test::readFile;
using quorvel::test::ScratchDir;
using quorvel::test::writeFile;

namespace {

const std::string kLibrary = std::string(QUORVEL_STANDIN_DIR) + "/libWinIP.so";
const std::string kTool = std::string(QUORVEL_BIN_DIR) + "/elzab_sim";

constexpr const char* kSkonfig =
    "$0DH:0AH\r\n$KONFIG.TXT\r\n$RAPORT.TXT\r\n$KOMENT.TXT\r\n$MODKONF.TXT\r\n$ECRTBUF.TXT\r\n$0:0\r\n"
    "$0\r\n$0\r\n$1\r\n$0\r\n$0\r\n$0\r\n$1\r\n";
constexpr const char* kKonfig = "$1\tCOM1:9600:MUX0:1\t3";
constexpr const char* kModemKonfig = "$1\tCOM2:19200:MUX2:5\t3\tELZAB\tT 0123456789:ha:slo:60:40:4";
constexpr const char* kHeader = "#1\r\n#\r\n#\r\n";
constexpr const char* kIn2 = "EZB_IN.TXT;SKONFIG.TXT";
constexpr const char* kIn3 = "EZB_IN.TXT;EZB_OUT.TXT;SKONFIG.TXT";

using WinIPFunction = unsigned char (*)(const char*);

WinIPFunction function(const std::string& name) {
  static void* library = ::dlopen(kLibrary.c_str(), RTLD_NOW | RTLD_LOCAL);
  EXPECT_NE(library, nullptr) << ::dlerror();
  auto f = reinterpret_cast<WinIPFunction>(library ? ::dlsym(library, ("__" + name).c_str()) : nullptr);
  EXPECT_NE(f, nullptr) << name;
  return f;
}

bool threeNames(const std::string& fn) {
  for (const char* n : {"OBajty", "ZBPTowar", "ZDBarkod", "TowarMax", "OWiaz", "ODBarkod"})
    if (fn == n) return true;
  return false;
}

// A job directory with the configuration files the driver writes and a register.
struct Job {
  ScratchDir dir;
  explicit Job(const std::string& state = "register 1\n", const char* konfig = kKonfig) {
    ::unsetenv(quorvel::elzabsim::kStateEnvironment);  // the register of this directory
    writeFile(dir.file("SKONFIG.TXT"), kSkonfig);
    writeFile(dir.file("KONFIG.TXT"), konfig);
    if (state != "-") writeFile(dir.file(quorvel::elzabsim::kDefaultStateFile), state);
  }
  // Writes EZB_IN.TXT (header and `data`, or `whole` as it stands) and calls `fn`.
  int call(const std::string& fn, const std::string& data = "", const char* list = nullptr,
           const char* whole = nullptr) {
    writeFile(dir.file("EZB_IN.TXT"), whole ? std::string(whole) : kHeader + data);
    WinIPFunction f = function(fn);
    return f ? f(list ? list : threeNames(fn) ? kIn3 : kIn2) : -1;
  }
  quorvel::elzabsim::Register state() const {
    quorvel::elzabsim::Register r;
    std::string error;
    EXPECT_TRUE(quorvel::elzabsim::loadRegister(dir.file(quorvel::elzabsim::kDefaultStateFile), r, error)) << error;
    return r;
  }
  std::string file(const char* name) const { return readFile(dir.file(name)); }
};

// The goods line as the driver writes it, with name bytes in code page 852.
std::string goodsLine(int plu, const std::string& name, const char* rest = "1\t2\t3\t1\t0\t0005901234123\t1250\t0") {
  std::string padded = name;
  if (padded.size() < 19) padded.resize(19, ' ');
  return std::string("$").append(std::to_string(plu)) + "\t" + padded + "\t" + rest + "\r\n";
}

std::string packagings(int n, int first = 1) {
  std::string s = "register 1\n";
  for (int i = 0; i < n; ++i)
    s += "goods " + std::to_string(first + i) + " 4 1 1 3 0 1 50 - Opakowanie " + std::to_string(first + i) + "\n";
  return s;
}

constexpr const char* kShop =
    "register 1\n"
    "goods 5 1 2 1 3 0 0 420 0005901234123 Chleb żytni\n"
    "goods 6 2 1 2 3 0 0 2990 - Ser żółty\n"
    "goods 40 4 1 1 3 0 1 50 - Butelka zwrotna\n"
    "goods 41 4 1 1 3 0 1 1000 - Skrzynka\n";

struct Case {
  const char* what;
  std::string state;  // "-" for no state file
  const char* konfig;
  const char* fn;
  std::string data;   // data lines after the header
  const char* list;   // file list (nullptr: the driver's)
  const char* whole;  // EZB_IN.TXT as it stands (nullptr: header and data)
  int expected;
  const char* after;  // a statement the register's state holds afterwards
};

const std::vector<Case>& cases() {
  static const std::string shop = kShop;
  static const std::string sold = shop + "sales 5 1000 420 0 0\n";
  static const std::vector<Case> c = {
      // Goods and packagings.
      {"goods programmed", "register 1\n", kKonfig, "ZBPTowar", goodsLine(7, "Mleko"), nullptr, nullptr, 0,
       "goods 7 1 2 1 3 0 0 1250 0005901234123 Mleko"},
      {"Polish letters kept in 852", "register 1\n", kKonfig, "ZBPTowar", goodsLine(7, "\xA5\x86\xBD"), nullptr,
       nullptr, 0, "goods 7 1 2 1 3 0 0 1250 0005901234123 ąćŻ"},
      {"packaging programmed", "register 1\n", kKonfig, "ZBPTowar",
       goodsLine(40, "Butelka", "4\t1\t3\t0\t0\t0000000000000\t50\t1"), nullptr, nullptr, 0,
       "goods 40 4 1 0 3 0 1 50 - Butelka"},
      {"name of blanks", "register 1\n", kKonfig, "ZBPTowar", goodsLine(7, ""), nullptr, nullptr, 220, nullptr},
      {"name over 19", "register 1\n", kKonfig, "ZBPTowar", goodsLine(7, std::string(20, 'A')), nullptr, nullptr, 102,
       nullptr},
      {"name with a control byte", "register 1\n", kKonfig, "ZBPTowar", goodsLine(7, "Ml\x01ko"), nullptr, nullptr, 206,
       nullptr},
      {"name of 19 held whole", "register 1\n", kKonfig, "ZBPTowar", goodsLine(7, std::string(19, 'A')), nullptr,
       nullptr, 0, "goods 7 1 2 1 3 0 0 1250 0005901234123 AAAAAAAAAAAAAAAAAAA"},
      // The register prints ASCII and the Polish letters of 852 only: a windows-1250 quote
      // (0x84) or an 852 letter beyond the Polish ones (0x8E) is never stored as something else.
      {"name with a byte the register lacks", "register 1\n", kKonfig, "ZBPTowar", goodsLine(7, "Ab\x84"), nullptr,
       nullptr, 102, nullptr},
      {"name with an 852 letter beyond the Polish", "register 1\n", kKonfig, "ZBPTowar", goodsLine(7, "\x8E"), nullptr,
       nullptr, 102, nullptr},
      {"VAT 0", "register 1\n", kKonfig, "ZBPTowar", goodsLine(7, "A", "0\t2\t3\t1\t0\t0\t1\t0"), nullptr, nullptr, 103,
       nullptr},
      {"VAT 8", "register 1\n", kKonfig, "ZBPTowar", goodsLine(7, "A", "8\t2\t3\t1\t0\t0\t1\t0"), nullptr, nullptr, 103,
       nullptr},
      {"group 0", "register 1\n", kKonfig, "ZBPTowar", goodsLine(7, "A", "1\t0\t3\t1\t0\t0\t1\t0"), nullptr, nullptr,
       110, nullptr},
      {"decimals 4", "register 1\n", kKonfig, "ZBPTowar", goodsLine(7, "A", "1\t1\t4\t1\t0\t0\t1\t0"), nullptr, nullptr,
       112, nullptr},
      {"unit 16", "register 1\n", kKonfig, "ZBPTowar", goodsLine(7, "A", "1\t1\t3\t16\t0\t0\t1\t0"), nullptr, nullptr,
       111, nullptr},
      {"blocked 2", "register 1\n", kKonfig, "ZBPTowar", goodsLine(7, "A", "1\t1\t3\t1\t2\t0\t1\t0"), nullptr, nullptr,
       113, nullptr},
      {"packaging flag 2", "register 1\n", kKonfig, "ZBPTowar", goodsLine(7, "A", "1\t1\t3\t1\t0\t0\t1\t2"), nullptr,
       nullptr, 114, nullptr},
      {"barcode of 14 digits", "register 1\n", kKonfig, "ZBPTowar",
       goodsLine(7, "A", "1\t1\t3\t1\t0\t12345678901234\t1\t0"), nullptr, nullptr, 108, nullptr},
      {"barcode with letters", "register 1\n", kKonfig, "ZBPTowar", goodsLine(7, "A", "1\t1\t3\t1\t0\t590ABC\t1\t0"),
       nullptr, nullptr, 12, nullptr},
      {"price too high", "register 1\n", kKonfig, "ZBPTowar", goodsLine(7, "A", "1\t1\t3\t1\t0\t0\t100000000\t0"),
       nullptr, nullptr, 109, nullptr},
      {"huge price", "register 1\n", kKonfig, "ZBPTowar",
       goodsLine(7, "A", "1\t1\t3\t1\t0\t0\t99999999999999999999999\t0"), nullptr, nullptr, 12, nullptr},
      {"PLU 0", "register 1\n", kKonfig, "ZBPTowar", goodsLine(0, "A"), nullptr, nullptr, 105, nullptr},
      {"nine fields", "register 1\n", kKonfig, "ZBPTowar", "$7\tA\t1\t1\t3\t1\t0\t0\t1\r\n", nullptr, nullptr, 10,
       nullptr},
      {"eleven fields", "register 1\n", kKonfig, "ZBPTowar", "$7\tA\t1\t1\t3\t1\t0\t0\t1\t0\t0\r\n", nullptr, nullptr,
       11, nullptr},
      {"PLU taken by another goods", shop, kKonfig, "ZBPTowar", goodsLine(5, "Bulka"), nullptr, nullptr, 221, nullptr},
      {"name held by another PLU", shop, kKonfig, "ZBPTowar", goodsLine(9, "Skrzynka"), nullptr, nullptr, 222, nullptr},
      {"65th packaging", packagings(64), kKonfig, "ZBPTowar", goodsLine(100, "Kosz", "4\t1\t3\t1\t0\t0\t5\t1"), nullptr,
       nullptr, 104, nullptr},
      {"64th packaging sent again", packagings(64), kKonfig, "ZBPTowar",
       goodsLine(64, "Opakowanie 64", "4\t1\t3\t1\t0\t0\t75\t1"), nullptr, nullptr, 0,
       "goods 64 4 1 1 3 0 1 75 - Opakowanie 64"},
      // Prices, deletion, links and further barcodes.
      {"price change", shop, kKonfig, "ZCTowar", goodsLine(6, "Ser \xBE\xA2\x88ty", "2\t1\t3\t2\t0\t0\t3150\t0"),
       nullptr, nullptr, 0, "goods 6 2 1 2 3 0 0 3150 - Ser żółty"},
      {"price change of an unknown PLU", shop, kKonfig, "ZCTowar", goodsLine(8, "Nowy"), nullptr, nullptr, 202,
       nullptr},
      {"price change with another name", shop, kKonfig, "ZCTowar", goodsLine(6, "Ser"), nullptr, nullptr, 200, nullptr},
      {"goods deleted", shop + "barcode 6 0000000000007\n", kKonfig, "KTowar", "$6\r\n", nullptr, nullptr, 0,
       "goods 5 "},
      {"goods with sales kept", sold, kKonfig, "KTowar", "$5\r\n", nullptr, nullptr, 209, "sales 5 1000 420 0 0"},
      {"unknown goods deleted", shop, kKonfig, "KTowar", "$77\r\n", nullptr, nullptr, 0, nullptr},
      {"two PLUs to delete", shop, kKonfig, "KTowar", "$5\r\n$6\r\n", nullptr, nullptr, 11, nullptr},
      {"all goods with sales kept", sold, kKonfig, "KTowMax", "", nullptr, nullptr, 209, "goods 6 "},
      {"link made", shop, kKonfig, "ZWiaz", "$5\t40\r\n", nullptr, nullptr, 0, "link 5 40"},
      {"link to goods", shop, kKonfig, "ZWiaz", "$5\t6\r\n", nullptr, nullptr, 105, nullptr},
      {"link of unknown goods", shop, kKonfig, "ZWiaz", "$8\t40\r\n", nullptr, nullptr, 202, nullptr},
      {"no room for links", shop + "linkmax 1\nlink 6 41\n", kKonfig, "ZWiaz", "$5\t40\r\n", nullptr, nullptr, 107,
       nullptr},
      {"link deleted", shop + "link 5 40\n", kKonfig, "KWiaz", "$5\r\n", nullptr, nullptr, 0, nullptr},
      {"barcodes added", shop, kKonfig, "ZDBarkod", "$5\t0000000001234\r\n$5\t0000000005678\r\n", nullptr, nullptr, 0,
       "barcode 5 0000000005678"},
      {"no room for barcodes", shop + "barcodemax 1\n", kKonfig, "ZDBarkod",
       "$5\t0000000001234\r\n$5\t0000000005678\r\n", nullptr, nullptr, 211, nullptr},
      {"barcode of unknown goods", shop, kKonfig, "ZDBarkod", "$8\t0000000001234\r\n", nullptr, nullptr, 202, nullptr},
      {"barcodes deleted", shop + "barcode 5 0000000001234\n", kKonfig, "KTBarkod", "$5\r\n", nullptr, nullptr, 0,
       nullptr},
      // The input file.
      {"register number out of range", "register 1\n", kKonfig, "OBajty", "", nullptr, "#0\r\n#\r\n#\r\n", 19, nullptr},
      {"header without a number", "register 1\n", kKonfig, "OBajty", "", nullptr, "#x\r\n#\r\n#\r\n", 11, nullptr},
      {"header cut short", "register 1\n", kKonfig, "OBajty", "", nullptr, "#1\r\n#\r\n", 10, nullptr},
      {"record inside the header", "register 1\n", kKonfig, "KTowar", "", nullptr, "#1\r\n$5\r\n#\r\n#\r\n", 11,
       nullptr},
      {"line without '$'", shop, kKonfig, "KTowar", "5\r\n", nullptr, nullptr, 11, nullptr},
      {"line longer than 1021", "register 1\n", kKonfig, "KTowar", std::string("$").append(1100, '5') + "\r\n", nullptr,
       nullptr, 11, nullptr},
      {"data for a function without any", "register 1\n", kKonfig, "TowarMax", "$5\r\n", nullptr, nullptr, 11, nullptr},
      {"no data line", "register 1\n", kKonfig, "ZBPTowar", "", nullptr, nullptr, 10, nullptr},
      {"LF line ends", shop, kKonfig, "KTowar", "", nullptr, "#1\n#\n#\n$6\n", 0, nullptr},
      // File names and configuration files.
      {"empty file list", "register 1\n", kKonfig, "OBajty", "", "", nullptr, 1, nullptr},
      {"no input name", "register 1\n", kKonfig, "OBajty", "", ";EZB_OUT.TXT;SKONFIG.TXT", nullptr, 1, nullptr},
      {"reserved input name", "register 1\n", kKonfig, "KTowMax", "", "CON;SKONFIG.TXT", nullptr, 2, nullptr},
      {"no output name", "register 1\n", kKonfig, "TowarMax", "", kIn2, nullptr, 3, nullptr},
      {"reserved output name", "register 1\n", kKonfig, "TowarMax", "", "EZB_IN.TXT;nul.txt;SKONFIG.TXT", nullptr, 4,
       nullptr},
      {"input and output alike", "register 1\n", kKonfig, "TowarMax", "", "EZB_IN.TXT;EZB_IN.TXT;SKONFIG.TXT", nullptr,
       5, nullptr},
      {"input file missing", "register 1\n", kKonfig, "KTowMax", "", "BRAK.TXT;SKONFIG.TXT", nullptr, 6, nullptr},
      {"input is a directory", "register 1\n", kKonfig, "KTowMax", "", ".;SKONFIG.TXT", nullptr, 6, nullptr},
      {"configuration missing", "register 1\n", kKonfig, "KTowMax", "", "EZB_IN.TXT;BRAK.TXT", nullptr, 7, nullptr},
      {"port COM5", "register 1\n", "$1\tCOM5:9600:MUX0:1\t3", "OBajty", "", nullptr, nullptr, 15, nullptr},
      {"speed 4800", "register 1\n", "$1\tCOM1:4800:MUX0:1\t3", "OBajty", "", nullptr, nullptr, 15, nullptr},
      {"configuration garbled", "register 1\n", "$1\tCOM1-9600\t3", "OBajty", "", nullptr, nullptr, 16, nullptr},
      {"configuration empty", "register 1\n", "", "OBajty", "", nullptr, nullptr, 13, nullptr},
      {"no entry for the number", "register 2\n", kKonfig, "OBajty", "", nullptr, "#2\r\n#\r\n#\r\n", 14, nullptr},
      {"register of another number", "register 2\n", kKonfig, "OBajty", "", nullptr, nullptr, 22, nullptr},
      {"several entries", "register 2\n", "$1\tCOM1:9600:MUX0:1\t3\r\n$2\tCOM2:9600:MUX1:2\t3", "OBajty", "", nullptr,
       "#2\r\n#\r\n#\r\n", 0, nullptr},
      {"no register", "-", kKonfig, "OBajty", "", nullptr, nullptr, 21, nullptr},
      {"unreadable register", "goods x\n", kKonfig, "OBajty", "", nullptr, nullptr, 23, nullptr},
      // The modem.
      {"modem not connected", "register 1\n", kModemKonfig, "TowarMax", "", nullptr, nullptr, 30, nullptr},
      {"modem without MODKONF.TXT", "register 1\n", kModemKonfig, "ModStart", "", nullptr, nullptr, 27, nullptr},
      {"modem stopped", "register 1\nmodem 1\n", kModemKonfig, "ModStop", "", nullptr, nullptr, 0, nullptr},
      {"modem connected", "register 1\nmodem 1\n", kModemKonfig, "OBajty", "", nullptr, nullptr, 0, "modem 1"},
      {"modem line without its settings", "register 1\n", "$1\tCOM1:9600:MUX2:1\t3", "OBajty", "", nullptr, nullptr, 13,
       nullptr},
      {"modem without a phone number", "register 1\n", "$1\tCOM1:9600:MUX2:1\t3\tELZAB\tT:x:60:40:4", "OBajty", "",
       nullptr, nullptr, 13, nullptr},
      // Planned faults.
      {"NAK planned", shop + "fault ZBPTowar nak 2\n", kKonfig, "ZBPTowar", goodsLine(7, "Mleko"), nullptr, nullptr, 24,
       "fault ZBPTowar code:24 1"},
      {"fault for another PLU", shop + "fault ZBPTowar:8 code:25 always\n", kKonfig, "ZBPTowar", goodsLine(7, "Mleko"),
       nullptr, nullptr, 0, "fault ZBPTowar:8 code:25 always"},
      {"unsupported always", shop + "fault KTBarkod unsupported always\n", kKonfig, "KTBarkod", "$5\r\n", nullptr,
       nullptr, 25, "fault KTBarkod code:25 always"},
      {"time-out on any function", shop + "fault * receive-timeout\n", kKonfig, "KTowar", "$6\r\n", nullptr, nullptr,
       21, "goods 6 "},
  };
  return c;
}

TEST(ElzabSimulator, RegisterAnswersAsTheTableSays) {
  for (const Case& c : cases()) {
    SCOPED_TRACE(c.what);
    Job job(c.state, c.konfig);
    EXPECT_EQ(job.call(c.fn, c.data, c.list, c.whole), c.expected);
    if (c.after) {
      EXPECT_NE(job.state().text().find(c.after), std::string::npos) << job.state().text();
    }
  }
}

TEST(ElzabSimulator, ModemStartReadsItsConfiguration) {
  Job job("register 1\n", kModemKonfig);
  writeFile(job.dir.file("MODKONF.TXT"), ";modem\r\nATZ\r\n");
  EXPECT_EQ(job.call("ModStart"), 28);
  writeFile(job.dir.file("MODKONF.TXT"), ";modem\r\n$AT&F0\r\n$ATS0=0\r\n");
  EXPECT_EQ(job.call("ModStart"), 0);
  EXPECT_EQ(job.call("TowarMax"), 0);
  EXPECT_EQ(job.call("ModStop"), 0);
  EXPECT_EQ(job.call("TowarMax"), 30);
}

TEST(ElzabSimulator, ResultFilesByteForByte) {
  Job job(std::string(kShop) +
          "barcode 5 0000000001234\nbarcode 5 2000000000017\nlink 5 40\nlink 6 41\n"
          "sales 5 3000 1260 0 0\nsales 40 2000 100 3000 150\n");
  ASSERT_EQ(job.call("TowarMax"), 0);
  const std::string head = "; WinIP (symulator kasy Elzab): ";
  EXPECT_EQ(job.file("EZB_OUT.TXT"), head +
                                         "TowarMax\r\n#1\r\n#TowarMax\r\n#4\r\n"
                                         "$5\tChleb \xBEytni        \t1\t2\t3\t1\t0\t0005901234123\t420\t0\r\n"
                                         "$6\tSer \xBE\xA2\x88ty          \t2\t1\t3\t2\t0\t0000000000000\t2990\t0\r\n"
                                         "$40\tButelka zwrotna    \t4\t1\t3\t1\t0\t0000000000000\t50\t1\r\n"
                                         "$41\tSkrzynka           \t4\t1\t3\t1\t0\t0000000000000\t1000\t1\r\n"
                                         "; koniec\r\n");
  ASSERT_EQ(job.call("OWiaz"), 0);
  EXPECT_EQ(job.file("EZB_OUT.TXT"), head + "OWiaz\r\n#1\r\n#OWiaz\r\n#2\r\n$5\t\t40\r\n$6\t\t41\r\n; koniec\r\n");
  ASSERT_EQ(job.call("ODBarkod"), 0);
  EXPECT_EQ(job.file("EZB_OUT.TXT"), head +
                                         "ODBarkod\r\n#1\r\n#ODBarkod\r\n#2\r\n$5\t0000000001234\r\n"
                                         "$5\t2000000000017\r\n; koniec\r\n");
  // The driver deletes stale sales files first; the register writes all three.
  ASSERT_EQ(job.call("OSpOpMax", "", nullptr, "#1\r\n#\r\n#\r\n$EZB_SPR1.TXT\tEZB_SPR2.TXT\tEZB_SPR3.TXT"), 0);
  EXPECT_EQ(job.file("EZB_SPR1.TXT"), head + "OSpOpMax\r\n#1\r\n#OSpOpMax\r\n#1\r\n$2\t1360\r\n; koniec\r\n");
  EXPECT_EQ(job.file("EZB_SPR2.TXT"),
            head + "OSpOpMax\r\n#1\r\n#OSpOpMax\r\n#2\r\n$000005\t3.000\t1260\r\n$000040\t2.000\t100\r\n; koniec\r\n");
  EXPECT_EQ(job.file("EZB_SPR3.TXT"), head +
                                          "OSpOpMax\r\n#1\r\n#OSpOpMax\r\n#2\r\n$000040\t3.000\t150\r\n"
                                          "$000041\t0.000\t0\r\n; koniec\r\n");
  // The read-out cleared the counters: a second one lists no sales.
  EXPECT_EQ(job.state().text().find("\nsales "), std::string::npos) << job.state().text();
}

TEST(ElzabSimulator, SpoiledResultFiles) {
  struct Spoil {
    const char* action;
    const char* fn;
    int expected;
    bool present;
    const char* holds;  // text the file holds afterwards
    const char* lacks;  // text it no longer holds
  };
  const Spoil spoils[] = {
      {"cut", "TowarMax", 0, true, "#TowarMax", "; koniec"},
      {"garble", "TowarMax", 0, true, "$99999999999999999999999\t", nullptr},
      {"noheader", "ODBarkod", 0, true, "$5\t0000000001234", "#ODBarkod"},
      {"missing", "TowarMax", 0, false, nullptr, nullptr},
      {"send-timeout", "TowarMax", 20, false, nullptr, nullptr},
  };
  for (const Spoil& s : spoils) {
    SCOPED_TRACE(s.action);
    Job job(std::string(kShop) + "barcode 5 0000000001234\nfault " + s.fn + " " + s.action + "\n");
    EXPECT_EQ(job.call(s.fn), s.expected);
    EXPECT_EQ(fileExists(job.dir.file("EZB_OUT.TXT")), s.present);
    const std::string out = job.file("EZB_OUT.TXT");
    if (s.holds) {
      EXPECT_NE(out.find(s.holds), std::string::npos) << out;
    }
    if (s.lacks) {
      EXPECT_EQ(out.find(s.lacks), std::string::npos) << out;
    }
    EXPECT_EQ(job.call(s.fn), 0) << "played once";
    EXPECT_NE(job.file("EZB_OUT.TXT").find("; koniec"), std::string::npos);
  }
  // Sales files: each of the three is spoiled.
  Job job(std::string(kShop) + "fault OSpOpMax missing\n");
  EXPECT_EQ(job.call("OSpOpMax", "", nullptr, "#1\r\n#\r\n#\r\n$EZB_SPR1.TXT\tEZB_SPR2.TXT\tEZB_SPR3.TXT"), 0);
  EXPECT_FALSE(fileExists(job.dir.file("EZB_SPR3.TXT")));
}

// Mangled input, configuration and state files: every call returns a result, and the state
// the register leaves behind can always be read again.
TEST(ElzabSimulator, OddInputNeverBreaksTheRegister) {
  Job job(std::string(kShop) + "barcode 5 0000000001234\nlink 5 40\nsales 6 1000 2990 0 0\n");
  const std::string inputs[] = {goodsLine(7, "Mleko \xA5"),
                                goodsLine(40, "Butelka zwrotna", "4\t1\t3\t1\t0\t0\t50\t1"),
                                "$5\r\n",
                                "$5\t40\r\n",
                                "$5\t0000000001234\r\n",
                                "$EZB_SPR1.TXT\tEZB_SPR2.TXT\tEZB_SPR3.TXT"};
  const std::string pieces[] = {"\t",
                                "\t\t",
                                "$",
                                "#",
                                ";",
                                "\r\n",
                                "\n",
                                "-",
                                "99999999999999999999",
                                "\xFF",
                                std::string(1, '\0'),
                                std::string(1030, 'x'),
                                "0",
                                ":"};
  unsigned seed = 12345;
  auto next = [&seed](unsigned n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) % n;
  };
  auto mangle = [&](std::string text) {
    for (unsigned k = 0, edits = 1 + next(4); k < edits; ++k) {
      const std::size_t at = text.empty() ? 0 : next(static_cast<unsigned>(text.size()));
      switch (next(3)) {
        case 0:
          text.insert(at, pieces[next(std::size(pieces))]);
          break;
        case 1:
          text.erase(at, 1 + next(6));
          break;
        default:
          if (!text.empty()) text[at] = static_cast<char>(next(256));
          break;
      }
    }
    return text;
  };
  for (int i = 0; i < 400; ++i) {
    const char* fn = quorvel::elzabsim::kFunctions[next(16)];
    std::string data = inputs[next(std::size(inputs))];
    if (next(4) == 0) data = "#1\r\n#\r\n#\r\n" + data;
    writeFile(job.dir.file("KONFIG.TXT"), next(8) == 0 ? mangle(kKonfig) : std::string(kKonfig));
    writeFile(job.dir.file("SKONFIG.TXT"), next(8) == 0 ? mangle(kSkonfig) : std::string(kSkonfig));
    const std::string whole = kHeader + (next(2) ? mangle(data) : data);
    const int result = job.call(fn, "", nullptr, whole.c_str());
    EXPECT_GE(result, 0);
    quorvel::elzabsim::Register r;
    std::string error;
    ASSERT_TRUE(quorvel::elzabsim::loadRegister(job.dir.file("ELZAB_SIM.TXT"), r, error))
        << fn << " " << result << ": " << error;
  }
}

// A FIFO in place of the input file is refused at once, never waited on.
TEST(ElzabSimulator, FifoInputIsRefused) {
  Job job;
  ASSERT_EQ(::mkfifo(job.dir.file("FIFO.TXT").c_str(), 0600), 0);
  EXPECT_EQ(function("KTowMax")("FIFO.TXT;SKONFIG.TXT"), 6);
}

// elzab_sim, command after command on one register: exit status and what `show` then prints.
TEST(ElzabSimulator, ToolCommands) {
  ScratchDir dir;
  ::unsetenv(quorvel::elzabsim::kStateEnvironment);
  struct Step {
    const char* args;
    int status;
    const char* shows;
  };
  const Step steps[] = {
      {"show", 1, nullptr},  // no register yet
      {"init --register 7", 0, "Kasa Elzab nr 7: 0 towarów"},
      {"goods 5 'Masło ekstra' 7.49 1 2 3 5900512300108", 0,
       "PLU        5  Masło ekstra         VAT 1  gr  2  jm  3  cena 7.49  kod 5900512300108"},
      {"goods 6 'Masło ekstra' 1.00", 1, nullptr},  // the name is PLU 5's
      {"goods 0 X 1", 2, nullptr},
      {"goods 7 'Nazwa dłuższa niż dziewiętnaście' 1", 1, nullptr},
      {"goods 40 Butelka 0.50 4 --packaging", 0, "Opak.     40  Butelka"},
      {"sell 5 1,5 3.75", 0, "sprzedaż 1.500 szt. 3.75"},
      {"sell 5 0.0001 1", 2, nullptr},  // finer than the counter's thousandths
      {"sell 9 1 1", 1, nullptr},
      {"return 5 1 1", 1, nullptr},  // not a packaging
      {"return 40 2 1.00", 0, "zwroty 2.000 szt. 1.00"},
      {"fault ZBPTowar:5 nak 3", 0, "fault ZBPTowar:5 code:24 3"},
      {"fault OSpOpMax garble always", 0, "fault OSpOpMax garble always"},
      {"fault Nothing nak", 2, nullptr},
      {"fault ZBPTowar explode", 2, nullptr},
      {"fault clear", 0, "1 opakowań, 0 powiązań"},
      {"set register 100", 2, nullptr},
      {"seed 10 --packagings 65", 1, nullptr},
      {"seed 10 --links 3", 1, nullptr},  // links need packagings
      {"seed 3 --packagings 1 --links 2 --barcodes 1", 0,
       "PLU        1  Towar 1              VAT 2  gr  2  jm  1  "
       "cena 1.37  kod 5900000000001  opakowanie 4  +kod 2000000000001"},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.args);
    const int rc = std::system((kTool + " " + s.args + " 2>/dev/null >/dev/null").c_str());
    EXPECT_EQ(WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, s.status);
    if (!s.shows) continue;
    ASSERT_EQ(std::system((kTool + " show > SHOW.TXT").c_str()), 0);
    EXPECT_NE(readFile(dir.file("SHOW.TXT")).find(s.shows), std::string::npos) << readFile(dir.file("SHOW.TXT"));
  }
}

// A job's process appends its changes to the state file and writes it whole when WinIP is
// unloaded; the tool and the next job read the same register.
TEST(ElzabSimulator, StateLastsFromJobToJobAndTimesAreRecorded) {
  Job job;
  ASSERT_EQ(std::system((kTool + " seed 3 --packagings 1 --links 2 --barcodes 1").c_str()), 0);
  ASSERT_EQ(std::system((kTool + " sell 2 1,5 3.75").c_str()), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    ::setenv("QUORVEL_WINIP_TIMES", "TIMES.TXT", 1);
    void* lib = ::dlopen(kLibrary.c_str(), RTLD_NOW | RTLD_LOCAL);
    auto call = [&](const char* fn, const std::string& data) {
      writeFile("EZB_IN.TXT", kHeader + data);
      return reinterpret_cast<WinIPFunction>(::dlsym(lib, fn))(kIn2);
    };
    const int rc = call("__KTowar", "$3\r\n") | call("__KWiaz", "$1\r\n") | call("__KDBarMax", "");
    std::exit(rc);  // without unloading: the library's exit handler writes the state whole
  }
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(job.file("ELZAB_SIM.TXT"),
            "# Simulated Elzab register (libWinIP.so stand-in, elzab_sim). Statements:\n"
            "#   goods PLU VAT GROUP UNIT DECIMALS BLOCKED PACKAGING PRICE/100 BARCODE|- NAME\n"
            "#   sales PLU SOLD-QTY/1000 SOLD-VALUE/100 RETURNED-QTY/1000 RETURNED-VALUE/100\n"
            "#   barcode PLU CODE, link PLU PACKAGING, fault FUNCTION[:PLU] ACTION COUNT|always\n"
            "register 1\n"
            "goods 1 2 2 1 3 0 0 137 5900000000001 Towar 1\n"
            "goods 2 3 3 2 3 0 0 174 5900000000002 Towar 2\n"
            "sales 2 1500 375 0 0\n"
            "link 2 4\n"
            "goods 4 4 5 1 3 0 1 248 5900000000004 Opakowanie 4\n");
  // The calls of this process (a forked test also counts those made before the fork).
  long long calls = 0, cpuNs = 0;
  EXPECT_EQ(std::sscanf(job.file("TIMES.TXT").c_str(), "calls %lld cpu_ns %lld", &calls, &cpuNs), 2);
  EXPECT_GE(calls, 3);
  EXPECT_GT(cpuNs, 0);
}

}  // namespace
