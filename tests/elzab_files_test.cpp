// The text files of quorvel_elzab as plain functions: KONFIG.TXT for the settings that matter,
// the goods line byte for byte, the result-file reader over whole files (also fed in odd
// pieces), the record mappings, and the table of WinIP results.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/error_state.h"
#include "drivers/elzab/binding.h"
#include "drivers/elzab/link.h"
#include "drivers/elzab/records.h"
#include "platform/cp1250.h"
#include "plugin/config_store.h"
#include "tests/support/file_faults.h"
#include "tests/support/test_support.h"

using namespace quorvel;
using namespace quorvel::elzab;
using namespace std::string_literals;

namespace {

SUConfig defaults() {
  SUConfig c;
  setDefaultConfig(c);
  return c;
}

void setPassword(SUConfig& c, const std::string& plain) {
  plugin::storeText(c.password, sizeof c.password, plain);
  scramblePassword(c.password, sizeof c.password);
}

}  // namespace

TEST(ElzabFiles, KonfigLineForEachSettingAndEveryRefusalInOrder) {
  struct Case {
    const char* what;
    void (*change)(SUConfig&);
    const char* line;
    const char* refusal;  // UTF-8, "" when accepted
  } cases[] = {
      {"defaults", [](SUConfig&) {}, "$1\tCOM1:9600:MUX0:1\t3", ""},
      {"register 7, COM2, 19200",
       [](SUConfig& c) { c.registerNumber = 7; plugin::storeText(c.port, sizeof c.port, "COM2"); c.speed = 19200; },
       "$7\tCOM2:19200:MUX0:1\t3", ""},
      {"COM04 reads its leading digits", [](SUConfig& c) { plugin::storeText(c.port, sizeof c.port, "COM04x"); },
       "$1\tCOM4:9600:MUX0:1\t3", ""},
      {"Elzab 4x channel 3", [](SUConfig& c) { c.muxOn = 1; c.muxType = 1; c.muxChannel = 3; }, "$1\tCOM1:9600:MUX1:3\t3", ""},
      {"Elzab 8x channel 8", [](SUConfig& c) { c.muxOn = 1; c.muxType = 8; c.muxChannel = 8; }, "$1\tCOM1:9600:MUX4:8\t3", ""},
      {"Elzab 2MX channel 5", [](SUConfig& c) { c.muxOn = 1; c.muxType = 16; c.muxChannel = 5; }, "$1\tCOM1:9600:MUX3:5\t3", ""},
      {"Falwi channel 9: switched by the plug-in", [](SUConfig& c) { c.muxOn = 1; c.muxType = 2; c.muxChannel = 9; },
       "$1\tCOM1:9600:MUX0:1\t3", ""},
      {"type kept while the multiplexer is off", [](SUConfig& c) { c.muxType = 16; c.muxChannel = 99; },
       "$1\tCOM1:9600:MUX0:1\t3", ""},
      {"modem, connector 5 - 8, phone trimmed, password plain",
       [](SUConfig& c) {
         c.modemOn = 1; c.connector = 5; c.timeout = 7;
         plugin::storeText(c.phone, sizeof c.phone, "  0 22 555 01 02 \t");
         setPassword(c, "tajne");
       },
       "$1\tCOM1:9600:MUX2:5\t7\tELZAB\tT0 22 555 01 02:tajne:60:40:4", ""},
      {"modem behind Elzab 4x channel 2, connector 1",
       [](SUConfig& c) { c.modemOn = 1; c.muxOn = 1; c.muxChannel = 2; plugin::storeText(c.phone, sizeof c.phone, "123"); },
       "$1\tCOM1:9600:MUX2:2\t3\tELZAB\tT123::60:40:4", ""},
      {"register 0", [](SUConfig& c) { c.registerNumber = 0; plugin::storeText(c.port, sizeof c.port, "LPT1"); }, "",
       "Nieprawidłowy numer kasy. Dopuszczalne wartości to 1-99."},
      {"COM5", [](SUConfig& c) { plugin::storeText(c.port, sizeof c.port, "COM5"); c.speed = 1; }, "",
       "Nieprawidłowa nazwa portu szeregowego. Dopuszczalne wartości to COM1-COM4."},
      {"COM10", [](SUConfig& c) { plugin::storeText(c.port, sizeof c.port, "COM10"); }, "",
       "Nieprawidłowa nazwa portu szeregowego. Dopuszczalne wartości to COM1-COM4."},
      {"lower case com1", [](SUConfig& c) { plugin::storeText(c.port, sizeof c.port, "com1"); }, "",
       "Nieprawidłowa nazwa portu szeregowego. Dopuszczalne wartości to COM1-COM4."},
      {"a device path", [](SUConfig& c) { plugin::storeText(c.port, sizeof c.port, "/dev/ttyS0"); }, "",
       "Nieprawidłowa nazwa portu szeregowego. Dopuszczalne wartości to COM1-COM4."},
      {"38400", [](SUConfig& c) { c.speed = 38400; c.muxOn = 1; c.muxChannel = 0; }, "",
       "Nieprawidłowa prędkość transmisji. Dopuszczalne wartości to 9600 lub 19200."},
      {"Elzab 4x channel 5", [](SUConfig& c) { c.muxOn = 1; c.muxChannel = 5; }, "",
       "Nieprawidłowy numer kanału multipleksera. Dopuszczalne wartości to 1-4."},
      {"unknown type channel 2", [](SUConfig& c) { c.muxOn = 1; c.muxType = 3; c.muxChannel = 2; }, "",
       "Nieprawidłowy numer kanału multipleksera. Dopuszczalne wartości to 1-1."},
      {"modem without a phone number", [](SUConfig& c) { c.modemOn = 1; plugin::storeText(c.phone, sizeof c.phone, "   "); },
       "$1\tCOM1:9600:MUX2:1\t3", "Brak numeru telefonu dla połączenia modemowego."},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    SUConfig c = defaults();
    k.change(c);
    const KonfigLine got = konfigLine(c);
    EXPECT_EQ(got.line, k.line);
    EXPECT_EQ(test::cp1250ToUtf8(got.refusal), k.refusal);
  }
}

TEST(ElzabFiles, PasswordScramblingBothWays) {
  SUConfig c = defaults();
  setPassword(c, "ab");
  EXPECT_EQ(c.password[0], 'a');
  EXPECT_EQ(c.password[1], static_cast<char>('b' ^ 14));
  EXPECT_EQ(c.password[2], 0);
  // The longest password keeps its 49 characters through a scramble and back (an odd byte
  // never meets the even 14 x i).
  const std::string longest(49, 'y');
  setPassword(c, longest);
  char back[51] = {};
  std::memcpy(back, c.password, 50);
  scramblePassword(back, 50);
  EXPECT_EQ(std::string(back), longest);
}

TEST(ElzabFiles, GoodsLineByteForByte) {
  struct Case {
    const char* what;
    void (*fill)(CTowar&);
    const char* line;  // windows-1250 bytes, code page 852 in the name
  } cases[] = {
      {"no barcode, group not given, price 12.5",
       [](CTowar& t) { t.UstawKP(12); t.UstawNa("Masło"_cp); t.UstawVa(2); t.UstawJM(1); t.UstawCe(0, CUfCurrency(12, 5000)); },
       "$12\tMas\x88o              \t2\t1\t3\t1\t0\t0000000000000\t1250\t0\n"},
      {"seven-digit barcode, packaging, group 4",
       [](CTowar& t) { t.UstawKP(3); t.UstawTy('O'); t.UstawNa("Butelka"); t.UstawKK("1234567"); t.UstawGr(4); t.UstawCe(0, CUfCurrency(0, 5000)); },
       "$3\tButelka            \t0\t4\t3\t0\t0\t0000001234567\t050\t1\n"},
      {"25-character name cut to 19, longer barcode whole",
       [](CTowar& t) { t.UstawKP(999999); t.UstawNa("Źdźbło żyta i łąkowy chmiel"_cp); t.UstawKK("590123412345789"); },
       "$999999\t\x8D" "d\xAB" "b\x88o \xBEyta i \x88\xA5kow\t0\t1\t3\t0\t0\t590123412345789\t000\t0\n"},
      {"a tab or line break in the name or barcode never splits the line",
       [](CTowar& t) { t.UstawKP(5); t.UstawNa("A\tB\r\nC"); t.UstawKK("12\t3"); },
       "$5\tA B  C             \t0\t1\t3\t0\t0\t00000000012 3\t000\t0\n"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    CTowar t;
    k.fill(t);
    EXPECT_EQ(goodsLine(t), k.line);
  }
  CTowar t;
  t.UstawKP(7);
  t.DodajDK("111");
  t.DodajDK("59012341234578");
  t.UstawKO("12");
  EXPECT_EQ(pluLine(t), "$7\n");
  EXPECT_EQ(extraBarcodeLines(t), "$7\t0000000000111\n$7\t59012341234578\n");
  EXPECT_EQ(linkLine(t), "$7\t12\n");
  // A KO that is no PLU number of the register never becomes another number.
  for (const char* ko : {"12abc", " 12", "0", "1000000", "99999999999", "-5"}) {
    t.UstawKO(ko);
    EXPECT_EQ(linkLine(t), "") << ko;
  }
}

namespace {

// Runs the reader over a whole file fed in pieces of `piece` bytes; each record as
// "LINE:field|field", then "stop:KIND@LINE".
std::string readAll(const std::string& file, std::size_t piece) {
  std::string out;
  ResultParser p([&](unsigned line, const RecordFields& f) {
    out += std::to_string(line) + ":";
    for (std::size_t i = 0; i < f.size(); ++i) out += (i ? "|" : "") + std::string(f[i]);
    out += "\n";
    return std::string(f[0]) == "STOP" ? 1 : 0;
  });
  ResultParser::Stop stop = ResultParser::Stop::kNone;
  for (std::size_t at = 0; at < file.size() && stop == ResultParser::Stop::kNone; at += piece)
    stop = p.feed(std::string_view(file).substr(at, piece));
  if (stop == ResultParser::Stop::kNone) stop = p.finish();
  const char* kinds[] = {"none", "syntax", "long", "stopped", "control", "noheader"};
  return out + "stop:" + kinds[static_cast<int>(stop)] + "@" + std::to_string(p.line());
}

}  // namespace

TEST(ElzabFiles, ResultReaderOverWholeFiles) {
  const std::string longest(kMaxLineLength - 1, 'x');
  struct Case {
    const char* what;
    std::string file;
    std::string read;
  } cases[] = {
      {"header, comments, blank lines, CR LF, runs of tabs",
       "; WinIP\r\n#1\r\n\r\n#\r\n;x\r\n#\r\n$12\t\tABC  \r\n  $7\t\t\t0\t \t1.5\r\n\r\n;end\r\n",
       "7:12|ABC\n8:7|0||1.5\nstop:none@10"},
      {"last line without its line end", "#\n#\n#\n$1\tA", "4:1|A\nstop:none@4"},
      {"a leading tab is no empty field", "#\n#\n#\n$\t5\tX\n", "4:5|X\nstop:none@4"},
      {"a record before the header is complete", "#\n;\n#\n$1\tA\n", "stop:syntax@4"},
      {"a first line without '#'", "\nX\n#\n#\n", "stop:syntax@2"},
      {"a record line without '$'", "#\n#\n#\n$1\n2\tB\n$3\n", "4:1\nstop:syntax@5"},
      {"a line of 1021 characters", "#\n#\n#\n$" + longest + "\r\n", "4:" + longest + "\nstop:none@4"},
      {"a line of 1022 characters", "#\n#\n#\n$" + longest + "y\n$2\n", "stop:long@4"},
      {"an endless line", "#\n#\n#\n" + std::string(5000, '$'), "stop:long@4"},
      {"the handler stops", "#\n#\n#\n$1\n$STOP\n$3\n", "4:1\n5:STOP\nstop:stopped@5"},
      // Damaged files never read as files without records: a control byte would cut a field
      // short ("3\0 75" read as 3 hundredths), lines ended by CR alone run together, and a
      // file without its header has lost what WinIP always writes.
      {"an empty file", "", "stop:noheader@0"},
      {"a NUL inside a value", "#1\n#\n#\n$7\t1\t3\0 75\n$8\t1\t100\n"s, "stop:control@4"},
      {"a NUL ending a record", "#1\n#\n#\n$7\t1\t375\0\n"s, "stop:control@4"},
      {"an escape inside a PLU", "#1\n#\n#\n$1\x1b" "2\t1\t375\n", "stop:control@4"},
      {"a DEL inside a quantity", "#1\n#\n#\n$12\t1\x7f\t375\n", "stop:control@4"},
      {"a control byte in the header", "#1\n#\x01\n#\n$12\t1\t375\n", "stop:control@2"},
      {"lines ended by CR alone", "; WinIP\r#1\r#\r#1\r$7\t1\t375\r", "stop:control@1"},
      {"comments only", "; WinIP (symulator kasy Elzab): OSpOpMax\r\n\r\n; koniec\r\n", "stop:noheader@3"},
      {"a header cut short", "#1\r\n#OSpOpMax\r\n", "stop:noheader@2"},
      {"a header without records", "; WinIP\r\n#1\r\n#OSpOpMax\r\n#0\r\n; koniec\r\n", "stop:none@5"},
      {"a control byte in a comment", "#1\n#\n#\n; \x01\n$7\t1\t375\n", "stop:control@4"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    const std::string whole = readAll(k.file, k.file.size() + 1);
    EXPECT_EQ(whole, k.read);
    for (std::size_t piece : {1, 2, 3, 7, 64}) EXPECT_EQ(readAll(k.file, piece), whole) << "pieces of " << piece;
  }
}

// Every file operation of reading a result file, and of writing the input file, failing in
// turn: the reader reports error 6 or 5 with the file's name and never hands over all records
// as a clean read; the writer reports error 1 or 4. A link under the input file's name is
// never written through.
TEST(ElzabFiles, EveryFailingFileOperationIsReported) {
  test::ScratchDir dir;
  const std::string result = "; WinIP\r\n#1\r\n#\r\n#\r\n$7\t1\t375\r\n$8\t1\t100\r\n";
  std::string records;
  int returned = 0;
  const auto prepare = [&] {
    ClearError("");
    records.clear();
    test::writeFile(dir.file("EZB_OUT.TXT"), result);
    std::filesystem::remove(dir.file("EZB_IN.TXT"));
  };
  const struct {
    const char* what;
    std::function<void()> work;
    std::function<void(const test::FileFault&)> check;
  } cases[] = {
      {"reading EZB_OUT.TXT",
       [&] {
         returned = readResultFile("EZB_OUT.TXT", "x", [&](unsigned line, const RecordFields&) {
           records += std::to_string(line) + ";";
           return 0;
         });
       },
       [&](const test::FileFault& f) {
         const bool open = f.op == platform::FileOp::Open;
         EXPECT_EQ(returned, open ? 6 : 5);
         EXPECT_STREQ(GetErrorMsg(), open ? "Brak pliku EZB_OUT.TXT" : "Błąd odczytu pliku EZB_OUT.TXT"_cp);
       }},
      {"writing EZB_IN.TXT", [&] { returned = writeInputFile("$1\n"); },
       [&](const test::FileFault& f) {
         const bool open = f.op == platform::FileOp::Open;
         EXPECT_EQ(returned, open ? 1 : 4);
         EXPECT_STREQ(GetErrorMsg(), open ? "Błąd tworzenia pliku EZB_IN.TXT"_cp : "Błąd zapisu pliku EZB_IN.TXT"_cp);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    prepare();
    c.work();
    ASSERT_EQ(returned, 0) << GetErrorMsg();
    EXPECT_GE(test::forEachFileFault(prepare, c.work, c.check), 2u);
  }
  prepare();
  test::writeFile(dir.file("ELSEWHERE.TXT"), "mine");
  std::filesystem::create_symlink(dir.file("ELSEWHERE.TXT"), dir.file("EZB_IN.TXT"));
  EXPECT_EQ(writeInputFile("$1\n"), 1);
  EXPECT_EQ(test::readFile(dir.file("ELSEWHERE.TXT")), "mine");
  releaseLink();
}

TEST(ElzabFiles, RecordMappings) {
  auto fields = [](const std::string& line) {
    static std::string keep;
    keep = line;
    RecordFields f;
    f.split(keep);
    return f;
  };
  struct Case {
    const char* line;
    const char* goods;  // "KP|Na|Va|Gr|JM|KK|Ce|Ty" (KK "-" when not given), or the fault
  } goodsCases[] = {
      {"$12\tMas\x88o              \t2\t1\t3\t1\t0\t0000000000000\t1250\t0", "12|Masło|2|1|1|-|12.5|T"},
      {"$7\tButelka\t0\t4\t3\t0\t0\t0001234567\t050\t1", "7|Butelka|0|4|0|1234567|0.5|O"},
      {"$8\tX\t2\t1\t3\t1\t0\t000\t100\t1 ", "8|X|2|1|1|-|1|O"},
      {"$9\tY\tA\t-\t3\tB\t0\t000\t0\t10", "9|Y|0|0|0|-|0|T"},
      {"$9\tY\tA\t\t", "fault:12:"},
      {"$0042abc\tZ\t1\t1\t3\t1\t0\t5\t1\t11", "42|Z|1|1|1|5|0.01|T"},
      {"$x\tonly a name\t0\t1\t3\t1\t0\t0\t100\t0", "fault:9:x"},
      {"$-1\tX\t0\t1\t3\t1\t0\t0\t100\t0", "fault:10:-1"},
      {"$4294967296\tX\t0\t1\t3\t1\t0\t0\t100\t0", "fault:11:4294967296"},
      {"$1\tX\t99999999999999999999999\t1\t3\t1\t0\t0\t100\t0", "fault:11:99999999999999999999999"},
  };
  for (const Case& k : goodsCases) {
    SCOPED_TRACE(k.line);
    CTowar t;
    const auto fault = goodsFromRecord(fields(k.line), t);
    std::string got;
    if (fault) {
      const int kinds[] = {9, 10, 11, 12};
      got = "fault:" + std::to_string(kinds[fault->kind]) + ":" + fault->text;
    } else {
      got = std::to_string(t.KP) + "|" + test::cp1250ToUtf8(t.Na) + "|" + std::to_string(t.Va) + "|" + std::to_string(t.Gr) +
            "|" + std::to_string(t.JM) + "|" + (t.KK_brak ? "-" : t.KK) + "|" + t.Ce[0].GetString(-1) + "|" + t.Ty;
      EXPECT_TRUE(t.Id_brak);
    }
    EXPECT_EQ(got, k.goods);
  }

  // Sales: IdUF without leading zeros, quantity a decimal text, value in hundredths.
  CTowar s;
  ASSERT_FALSE(salesFromRecord(fields("$0007\t3.000\t150"), 'O', s));
  EXPECT_EQ(s.IdUF, "7");
  EXPECT_EQ(s.KP, 7u);
  EXPECT_EQ(s.Ilość.GetString(-1), "3");
  EXPECT_EQ(s.Wartość.GetString(-1), "1.5");
  EXPECT_EQ(s.Ty, 'O');
  ASSERT_TRUE(salesFromRecord(fields("$x\t1\t1"), 'T', s));
  ASSERT_TRUE(salesFromRecord(fields("$5\t1"), 'T', s));
  SetErrorNum(0);
  EXPECT_FALSE(salesFromRecord(fields("$5\tabc\t1"), 'T', s));
  EXPECT_EQ(GetErrorNum(), ERR_REAL_INVALID);  // str2currency reports the quantity
  SetErrorNum(0);

  EXPECT_EQ(pluValue(" 40"), 40u);
  EXPECT_EQ(pluValue("40x"), 40u);
  EXPECT_FALSE(pluValue("x40"));
  EXPECT_FALSE(pluValue("4294967296"));
}

TEST(ElzabFiles, WinIPResultTexts) {
  int entries = 0;
  for (int code = 0; code < 256; ++code) entries += winIPTableText(code) != nullptr;
  EXPECT_EQ(entries, 107);
  EXPECT_EQ(test::cp1250ToUtf8(winIPResultText(24)), "Błąd nr 24: Kasa odpowiedziala NAK na sekwencje sterujaca.");
  EXPECT_EQ(test::cp1250ToUtf8(winIPResultText(26)), "Błąd nr 26: Nie wlaczona opcja \"serwis z PC\".");
  EXPECT_EQ(test::cp1250ToUtf8(winIPResultText(221)), "Błąd nr 221: Numer PLU zajety przez inny towar.");
  EXPECT_EQ(test::cp1250ToUtf8(winIPResultText(106)), "Błąd nr 106");
  EXPECT_STREQ(winIPFileList(WinIP::ZBPTowar), "EZB_IN.TXT;EZB_OUT.TXT;SKONFIG.TXT");
  EXPECT_STREQ(winIPFileList(WinIP::ZCTowar), "EZB_IN.TXT;SKONFIG.TXT");
}
