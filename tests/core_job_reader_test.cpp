// Reading VEXA_JOB.XML: the records and header a job yields, the encodings it may be declared
// in, and the message (with its line) for every way a job can be wrong. Every job is a real
// file in a scratch directory; the well-formed ones are checked against Dane.xsd first.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "core/currency.h"
#include "core/datetime.h"
#include "core/encoding.h"
#include "core/error_state.h"
#include "core/xml/raport_xml.h"
#include "core/xml/vexa_xml.h"
#include "platform/cp1250.h"
#include "tests/support/test_support.h"

using quorvel::test::cp1250ToUtf8;
using quorvel::test::readFile;
using quorvel::test::schemaErrors;
using quorvel::test::ScratchDir;
using quorvel::test::writeFile;

namespace {

// UTF-8 (the test sources) to windows-1250 bytes.
std::string cp(const std::string& utf8) { return quorvel::cp1250::fromUtf8(utf8); }

// Windows-1250 to ISO-8859-2 for the Polish letters (the only bytes the jobs below use).
std::string toIso(const std::string& win) {
  const std::string from = "\xB9\x9C\x9F\xA5\x8C\x8F";
  const std::string to = "\xB1\xB6\xBC\xA1\xA6\xAC";
  std::string out = win;
  for (char& c : out) {
    const auto at = from.find(c);
    if (at != std::string::npos) c = to[at];
  }
  return out;
}

const std::string kNs = "http://schemas.quorvel.org/UF/Dane.xsd";

// A job in windows-1250 with CR LF line ends: declaration on line 1, root on line 2, the body
// from line 3.
std::string job(const std::string& operacja, const std::string& body, const std::string& rootAttrs = "") {
  return cp("<?xml version=\"1.0\" encoding=\"windows-1250\"?>\r\n<Dane operacja=\"" + operacja +
            "\" xmlns=\"" + kNs + "\"" + rootAttrs + ">\r\n" + body + "</Dane>\r\n");
}

const std::string kAllGoodsFields =
    "<Towar>\r\n"
    "<Id>4294967295</Id><Ty>O</Ty><Sy>sy</Sy><KP>999999</KP><KK>5901234123457</KK>\r\n"
    "<DK>111</DK><DK>222</DK><DK>333</DK><KO>12</KO><Na>Zażółć gęślą jaźń ŻÓŁĆ</Na>\r\n"
    "<Ce id=\"1\">12.50</Ce><Ce id=\"2\">-0.0001</Ce><CO>true</CO><Va>-2147483648</Va>\r\n"
    "<Gr>2147483647</Gr><Wł id=\"0\">w0</Wł><Wł id=\"7\">w7</Wł><JM>3</JM><Wa>0</Wa><Op>op</Op>\r\n"
    "<Uw>uw &amp; &lt;x&gt;</Uw><OW>0</OW><DW>2007-04-06</DW><SW>sw</SW><PK>pk</PK>\r\n"
    "</Towar>\r\n";

// Every case also runs with the job fed to the parser in pieces of 1 to 5 bytes (the test is
// run again with QUORVEL_TEST_JOB_CHUNK set): where a piece ends must change nothing.
class JobReader : public ::testing::Test {
 protected:
  void SetUp() override {
    ErrorSetRaport(nullptr);
    ClearError("");
    const char* chunk = std::getenv("QUORVEL_TEST_JOB_CHUNK");
    VexaSetReadChunkSize(chunk ? std::strtoul(chunk, nullptr, 10) : 0);
  }
  void TearDown() override {
    ErrorSetRaport(nullptr);
    ClearError("");
    VexaSetReadChunkSize(0);
  }

  // Writes the job, checks it against the schema when asked, reads it into a fresh document.
  int read(const std::string& bytes, bool validate = false) {
    writeFile(dir.file("VEXA_JOB.XML"), bytes);
    if (validate) {
      EXPECT_EQ(schemaErrors(dir.file("VEXA_JOB.XML"), "Dane.xsd"), "") << cp1250ToUtf8(bytes);
    }
    vexa = std::make_unique<CVexaXml>();
    return vexa->readHeader();
  }

  std::vector<CTowar> goods() {
    std::vector<CTowar> out;
    vexa->TwIterReset(CVexaXml::sortNone, ' ');
    while (!vexa->TwIterEmpty()) out.push_back(vexa->TwIterGetNext());
    return out;
  }

  std::vector<CTowarDF> positions() {
    std::vector<CTowarDF> out;
    vexa->TwIterReset(CVexaXml::sortNone, ' ');
    while (!vexa->TwIterEmpty()) out.push_back(vexa->TwIterGetNextDF());
    return out;
  }

  std::string message() const { return cp1250ToUtf8(GetErrorMsg()); }

  ScratchDir dir;
  std::unique_ptr<CVexaXml> vexa;
};

TEST_F(JobReader, GoodsRecordWithEveryField) {
  ASSERT_EQ(read(job("PrzesyłanieTowarów", kAllGoodsFields, " idModelu=\"Euro-2000\" idTowaru=\"A\""), true), 0)
      << message();
  EXPECT_EQ(vexa->GetOperacja(), cp("PrzesyłanieTowarów"));
  EXPECT_EQ(vexa->GetIdModelu(), "Euro-2000");
  EXPECT_EQ(vexa->GetIdTowaru(), "A");
  EXPECT_EQ(vexa->GetIdOpakowania(), "A");  // falls back on idTowaru
  EXPECT_FALSE(vexa->IsFiskalny());
  EXPECT_EQ(vexa->GetExePath().back(), '/');
  ASSERT_EQ(goods().size(), 1u);
  const CTowar t = goods()[0];
  EXPECT_EQ(t.Id, 4294967295u);
  EXPECT_EQ(t.Ty, 'O');
  EXPECT_EQ(t.Sy, "sy");
  EXPECT_EQ(t.KP, 999999u);
  EXPECT_EQ(t.KK, "5901234123457");
  EXPECT_EQ(t.DK, "111\xFF" "222\xFF" "333\xFF");
  EXPECT_EQ(t.KO, "12");
  EXPECT_EQ(t.Na, cp("Zażółć gęślą jaźń ŻÓŁĆ"));
  EXPECT_EQ(t.Ce[0].GetCurrency(), 125000);
  EXPECT_EQ(t.Ce[1].GetCurrency(), -1);
  EXPECT_TRUE(t.CO);
  EXPECT_EQ(t.Va, INT32_MIN);
  EXPECT_EQ(t.Gr, INT32_MAX);
  EXPECT_EQ(t.Wł[0], "w0");
  EXPECT_EQ(t.Wł[7], "w7");
  EXPECT_EQ(t.JM, 3);
  EXPECT_FALSE(t.Wa);
  EXPECT_EQ(t.Op, "op");
  EXPECT_EQ(t.Uw, "uw & <x>");
  EXPECT_EQ(t.OW, 0u);
  EXPECT_EQ(t.DW.GetString(), "2007-04-06");
  EXPECT_EQ(t.SW, "sw");
  EXPECT_EQ(t.PK, "pk");
  // Every field the job gave has its marker cleared, the rest stay set.
  for (bool given : {t.Id_brak, t.Ty_brak, t.Sy_brak, t.KP_brak, t.KK_brak, t.DK_brak, t.KO_brak, t.Na_brak,
                     t.Ce_brak[0], t.Ce_brak[1], t.CO_brak, t.Va_brak, t.Gr_brak, t.Wł_brak[0], t.Wł_brak[7],
                     t.JM_brak, t.Wa_brak, t.Op_brak, t.Uw_brak, t.OW_brak, t.DW_brak, t.SW_brak, t.PK_brak})
    EXPECT_FALSE(given);
  for (int i = 1; i < 7; ++i) EXPECT_TRUE(t.Wł_brak[i]) << i;
  EXPECT_TRUE(t.IdUF_brak);
  EXPECT_TRUE(t.Ilość_brak);
  EXPECT_TRUE(t.Wartość_brak);
}

TEST_F(JobReader, FieldsNotGivenKeepDefaultsAndMarkers) {
  ASSERT_EQ(read(job("UsuwanieTowarów",
                     "<Towar><Id>1</Id><Ce id=\"2\">3</Ce></Towar>\r\n"
                     "<Pozycja><Id>2</Id><Ce>4.5</Ce><Wł>x</Wł></Pozycja>\r\n",
                     " idTowaru=\"A\" idOpakowania=\"B\""),
                 true),
            0)
      << message();
  EXPECT_EQ(vexa->GetIdOpakowania(), "B");
  const auto g = goods();
  ASSERT_EQ(g.size(), 2u);
  EXPECT_EQ(g[0].Ty, 'T');
  EXPECT_TRUE(g[0].Ty_brak);
  EXPECT_TRUE(g[0].Ce_brak[0]);   // id 2 sets only the second price
  EXPECT_FALSE(g[0].Ce_brak[1]);
  EXPECT_EQ(g[0].Ce[1].GetCurrency(), 30000);
  EXPECT_FALSE(g[1].Ce_brak[0]);  // no id: the first price
  EXPECT_TRUE(g[1].Ce_brak[1]);
  EXPECT_EQ(g[1].Ce[0].GetCurrency(), 45000);
  EXPECT_FALSE(g[1].Wł_brak[0]);  // no id: entry 0
  EXPECT_EQ(g[1].Wł[0], "x");
}

TEST_F(JobReader, MinimalJobWithoutNamespace) {
  ASSERT_EQ(read(cp("<Dane operacja=\"Konfiguracja\" idModelu=\"X\"/>")), 0) << message();
  EXPECT_EQ(vexa->GetOperacja(), "Konfiguracja");
  EXPECT_EQ(vexa->GetIdModelu(), "X");
  EXPECT_EQ(vexa->GetIdOpakowania(), "");
  EXPECT_EQ(vexa->IleRekordow(), 0u);
}

// Which goods jobs keep their goods in the catalogue; the others read and check them only.
TEST_F(JobReader, GoodsKeptOnlyForGoodsOperations) {
  const struct {
    const char* operacja;
    std::size_t kept;
  } cases[] = {
      {"PrzesyłanieTowarów", 2},  {"ZmianaCenTowarów", 2}, {"UsuwanieTowarów", 2},
      {"SprawdzenieDanychTowarów", 2}, {"ImportTowarów", 0},  {"OdbiórSprzedaży", 0},
      {"UsuwanieWszystkichTowarów", 0}, {"Konfiguracja", 0},  {"SprawdzeniePołączenia", 0},
  };
  for (const auto& c : cases) {
    ClearError("");
    ASSERT_EQ(read(job(c.operacja, "<Towar><Id>1</Id></Towar><Pozycja><Id>2</Id></Pozycja>\r\n"), true), 0)
        << c.operacja << ": " << message();
    EXPECT_EQ(vexa->IleRekordow(), c.kept) << c.operacja;
  }
  // Dropped goods are still checked.
  ClearError("");
  EXPECT_EQ(read(job("ImportTowarów", "<Towar><KP>0</KP></Towar>\r\n")), ERR_INT_BELOW);
}

TEST_F(JobReader, FiscalJobWithHeaderCustomerDatesAndPositions) {
  const std::string body =
      "<Data od=\"2007-01-01\" do=\"2007-01-31\"/>\r\n"
      "<Nagłówek><Ty>P</Ty><Nu>1</Nu></Nagłówek>\r\n"
      "<Nagłówek><Ty>F</Ty><Nu>FV 7/2007</Nu><WN>100</WN><WV>23</WV><WB>123</WB><DZ>1</DZ><Za>2</Za>\r\n"
      "<ZG>3</ZG><ZK>4</ZK><TP>2007-02-01</TP><OW>5</OW><OZ>6</OZ><MW>Łódź</MW><DW>2007-02-02</DW>\r\n"
      "<DS>2007-02-03</DS><Wy>wy</Wy><Od>od</Od>\r\n"
      "<Ko><Na>Firma</Na><Ul>Ulica 1</Ul><Mi>Kraków</Mi><KP>30-001</KP><Ni>123-456-78-90</Ni></Ko></Nagłówek>\r\n"
      "<Pozycja><Id>7</Id><Ty>O</Ty><KP>12</KP><Na>Śledź</Na><Va>1</Va><JM>2</JM><Gr>3</Gr><Il>1.5</Il>\r\n"
      "<CN>1</CN><CB>2</CB><WN>3</WN><WB>4</WB><TR>W</TR><Ra>5</Ra><CN0>6</CN0><CB0>7</CB0><WN0>8</WN0>\r\n"
      "<WB0>9</WB0><Wł id=\"3\">w3</Wł></Pozycja>\r\n"
      "<Pozycja><Id>8</Id></Pozycja>\r\n";
  ASSERT_EQ(read(job("WydrukFiskalny", body), true), 0) << message();
  EXPECT_TRUE(vexa->IsFiskalny());
  EXPECT_EQ(vexa->GetDataOd().GetString(), "2007-01-01");
  EXPECT_EQ(vexa->GetDataDo().GetString(), "2007-01-31");
  const CDokument& d = vexa->GetDokument();  // the second header wins
  EXPECT_EQ(d.Ty, 'F');
  EXPECT_EQ(d.Nu, "FV 7/2007");
  EXPECT_EQ(d.WN.GetCurrency(), 1000000);
  EXPECT_EQ(d.WV.GetCurrency(), 230000);
  EXPECT_EQ(d.WB.GetCurrency(), 1230000);
  EXPECT_EQ(d.DZ.GetCurrency(), 10000);
  EXPECT_EQ(d.Za.GetCurrency(), 20000);
  EXPECT_EQ(d.ZG.GetCurrency(), 30000);
  EXPECT_EQ(d.ZK.GetCurrency(), 40000);
  EXPECT_EQ(d.TP.GetString(), "2007-02-01");
  EXPECT_EQ(d.OW.GetCurrency(), 50000);
  EXPECT_EQ(d.OZ.GetCurrency(), 60000);
  EXPECT_EQ(d.MW, cp("Łódź"));
  EXPECT_EQ(d.DW.GetString(), "2007-02-02");
  EXPECT_EQ(d.DS.GetString(), "2007-02-03");
  EXPECT_EQ(d.Wy, "wy");
  EXPECT_EQ(d.Od, "od");
  EXPECT_EQ(d.Ko.Na, "Firma");
  EXPECT_EQ(d.Ko.Ul, "Ulica 1");
  EXPECT_EQ(d.Ko.Mi, cp("Kraków"));
  EXPECT_EQ(d.Ko.KP, "30-001");
  EXPECT_EQ(d.Ko.Ni, "123-456-78-90");

  const auto p = positions();
  ASSERT_EQ(p.size(), 2u);
  EXPECT_EQ(p[0].Id, 7u);
  EXPECT_EQ(p[0].Ty, 'O');
  EXPECT_EQ(p[0].KP, 12u);
  EXPECT_EQ(p[0].Na, cp("Śledź"));
  EXPECT_EQ(p[0].Va, 1);
  EXPECT_EQ(p[0].JM, 2);
  EXPECT_EQ(p[0].Gr, 3);
  EXPECT_EQ(p[0].Il.GetCurrency(), 15000);
  const CUfCurrency* money[] = {&p[0].CN, &p[0].CB, &p[0].WN, &p[0].WB, &p[0].Ra,
                                &p[0].CN0, &p[0].CB0, &p[0].WN0, &p[0].WB0};
  const std::int64_t expected[] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(money[i]->GetCurrency(), expected[i] * 10000) << i;
  EXPECT_EQ(p[0].TR, 'W');
  EXPECT_EQ(p[0].Wł[3], "w3");
  EXPECT_EQ(p[1].Id, 8u);
  EXPECT_EQ(p[1].TR, ' ');
}

TEST_F(JobReader, SecondDateRangeResetsBothDates) {
  ASSERT_EQ(read(job("RaportOkresowyPełny", "<Data od=\"2007-01-01\" do=\"2007-01-31\"/><Data do=\"2008-05-06\"/>\r\n"),
                 true),
            0)
      << message();
  EXPECT_EQ(vexa->GetDataOd().GetString(), CDateTime().GetString());
  EXPECT_EQ(vexa->GetDataDo().GetString(), "2008-05-06");
  EXPECT_EQ(vexa->IlePozycji(), 0u);  // positions are kept for the fiscal printout only
}

// The same job declared in every encoding the reader takes gives the same windows-1250 text.
TEST_F(JobReader, DeclaredEncodings) {
  const std::string name = "ąćęłńóśźż ĄĆĘŁŃÓŚŹŻ";
  const std::string bodyWin = cp("<Dane operacja=\"PrzesyłanieTowarów\" xmlns=\"" + kNs + "\">\n<Towar><Na>" + name +
                                 "</Na></Towar>\n</Dane>\n");
  const std::string bodyUtf8 =
      "<Dane operacja=\"PrzesyłanieTowarów\" xmlns=\"" + kNs + "\">\n<Towar><Na>" + name + "</Na></Towar>\n</Dane>\n";
  const struct {
    std::string decl;
    std::string body;
  } cases[] = {
      {"<?xml version=\"1.0\" encoding=\"windows-1250\"?>\n", bodyWin},
      {"<?xml version=\"1.0\" encoding=\"iso-8859-2\"?>\n", toIso(bodyWin)},
      {"<?xml version=\"1.0\" encoding=\"ISO-8859-2\"?>\n", toIso(bodyWin)},
      {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n", bodyUtf8},
      {"<?xml version=\"1.0\"?>\n", bodyUtf8},
  };
  for (const auto& c : cases) {
    ClearError("");
    ASSERT_EQ(read(c.decl + c.body, true), 0) << c.decl << message();
    EXPECT_EQ(vexa->GetOperacja(), cp("PrzesyłanieTowarów")) << c.decl;
    ASSERT_EQ(goods().size(), 1u);
    EXPECT_EQ(goods()[0].Na, cp(name)) << c.decl;
  }
  // Every character of windows-1250 is read as itself, whichever encoding the job declares;
  // one the code page lacks becomes '?'.
  ClearError("");
  ASSERT_EQ(read("<Dane operacja=\"UsuwanieTowarów\"><Towar><Na>é€„Ab”Ж</Na></Towar></Dane>"), 0) << message();
  EXPECT_EQ(goods()[0].Na, "é€„Ab”?"_cp);
  ClearError("");
  ASSERT_EQ(read("<?xml version=\"1.0\" encoding=\"windows-1250\"?>\n<Dane operacja=\"UsuwanieTowarów\"><Towar><Na>"_cp +
                 std::string("\x84\x41\x62\x94 \x80 \x96\x81") + "</Na></Towar></Dane>"),
            0)
      << message();
  EXPECT_EQ(goods()[0].Na, "„Ab” € –?"_cp);
}

TEST_F(JobReader, TextAcrossEntitiesCommentsAndChunkBoundaries) {
  // Records padded so that names with Polish letters straddle the 8192-byte reads.
  std::string body;
  for (int i = 0; i < 400; ++i)
    body += "<Towar><Id>" + std::to_string(i) + "</Id><Na>ż" + std::string(i % 7, 'x') +
            "ółw<!-- c -->&amp;&#x17C;</Na></Towar>\r\n";
  ASSERT_GT(body.size(), 3u * 8192);
  ASSERT_EQ(read(job("ZmianaCenTowarów", body), true), 0) << message();
  const auto g = goods();
  ASSERT_EQ(g.size(), 400u);
  for (int i = 0; i < 400; ++i) {
    EXPECT_EQ(g[i].Id, static_cast<std::uint32_t>(i));
    EXPECT_EQ(g[i].Na, cp("ż" + std::string(i % 7, 'x') + "ółw&ż")) << i;
  }
}

// Every number, amount, date, flag and type of a goods record, in the usual spellings and the
// ones around them (signs, white space, leading zeros, range ends, too many digits, junk): the
// field reads as the general conversion of its text gives it, the value, or the error number and
// message, followed by where the field is.
TEST_F(JobReader, FieldTextsReadAsTheGeneralConversionsGiveThem) {
  using Conversion = std::function<std::int64_t(const char*)>;
  using Stored = std::function<std::int64_t(const CTowar&)>;
  const long i32min = std::numeric_limits<std::int32_t>::min();
  const long i32max = std::numeric_limits<std::int32_t>::max();
  const unsigned long u32max = std::numeric_limits<std::uint32_t>::max();
  const std::vector<std::string> numbers = {
      "0", "1", "42", "007", "999999", "1000000", "123456789", "1234567890", "2147483647", "2147483648",
      "4294967295", "4294967296", "99999999999999999999", "-1", "+5", " 5", "5 ", "", "a", "1a", "1.0"};
  const std::vector<std::string> amounts = {
      "0", "12", "12.5", "12.50", "0.0001", "0.00009", "12.", ".5", "12.34567", "-1.5", "+1", " 1.5", "1.5 ",
      "123456789012", "1234567890123.25", "999999999999.9999", "1,5", "", "x", "1.2.3", "1.5e3", "1.-5"};
  const std::vector<std::string> dates = {
      "2007-04-06", "1900-01-01", "3000-12-31", "1899-12-31", "3001-01-01", "2007-00-10", "2007-13-01",
      "2007-01-00", "2007-01-32", "2007/04/06", " 2007-04-06", "2007-04-06 ", "2007-4-6", "20070406",
      "2007-04-06x", "abcd-ef-gh", "2007-+4-06", ""};
  const std::vector<std::string> flags = {"0", "1", "true", "false", " 1", "TRUE", "2", "01", ""};
  const std::vector<std::string> types = {"T", "O", "t", " T", "O ", "TO", ""};
  const auto dateValue = [](const CDateTime& d) {
    return std::int64_t{d.DosDate()->da_year} * 10000 + d.DosDate()->da_mon * 100 + d.DosDate()->da_day;
  };
  const Conversion u32 = [&](const char* t) { return std::int64_t(str2u(t, 0, u32max)); };
  const Conversion i32 = [&](const char* t) { return std::int64_t(str2i(t, i32min, i32max)); };
  const Conversion flag = [](const char* t) { return std::int64_t{str2b(t)}; };
  const struct {
    const char* element;
    const std::vector<std::string>& texts;
    Conversion convert;
    Stored stored;
  } fields[] = {
      {"Id", numbers, u32, [](const CTowar& g) { return std::int64_t{g.Id}; }},
      {"KP", numbers, [](const char* t) { return std::int64_t(str2u(t, 1, 999999)); },
       [](const CTowar& g) { return std::int64_t{g.KP}; }},
      {"OW", numbers, u32, [](const CTowar& g) { return std::int64_t{g.OW}; }},
      {"Va", numbers, i32, [](const CTowar& g) { return std::int64_t{g.Va}; }},
      {"Gr", numbers, i32, [](const CTowar& g) { return std::int64_t{g.Gr}; }},
      {"JM", numbers, i32, [](const CTowar& g) { return std::int64_t{g.JM}; }},
      {"Ce", amounts, [](const char* t) { return str2currency(t, 0).int64; },
       [](const CTowar& g) { return g.Ce[0].GetCurrency(); }},
      {"DW", dates, [&](const char* t) { return dateValue(str2date(t)); },
       [&](const CTowar& g) { return dateValue(g.DW); }},
      {"CO", flags, flag, [](const CTowar& g) { return std::int64_t{g.CO}; }},
      {"Wa", flags, flag, [](const CTowar& g) { return std::int64_t{g.Wa}; }},
      {"Ty", types, [](const char* t) { return std::int64_t{str2typ(t)}; },
       [](const CTowar& g) { return std::int64_t{g.Ty}; }},
  };
  for (const auto& f : fields) {
    for (const std::string& text : f.texts) {
      ClearError("");
      const std::int64_t value = f.convert(text.c_str());
      const int number = GetErrorNum();
      const std::string e = f.element;
      const std::string expected =
          number == 0 ? message() : message() + " (VEXA_JOB.XML, linia 3, kolumna 8, element " + e + ", 1. towar w pliku)";
      ClearError("");
      const int got = read(job("PrzesyłanieTowarów", "<Towar><" + e + ">" + text + "</" + e + "></Towar>"));
      const std::string what = e + " \"" + text + "\"";
      EXPECT_EQ(got, number) << what;
      EXPECT_EQ(message(), expected) << what;
      if (number == 0 && got == 0) {
        const auto g = goods();
        ASSERT_EQ(g.size(), 1u) << what;
        EXPECT_EQ(f.stored(g[0]), value) << what;
      }
    }
  }
}

// Texts given more than once, emptied, or with further barcodes between other fields read as
// the record's setters would have left them; the next record starts from nothing.
TEST_F(JobReader, RepeatedAndInterleavedTexts) {
  ASSERT_EQ(read(job("PrzesyłanieTowarów",
                     "<Towar><DK>1</DK><Na>a</Na><DK>22</DK><Na>bbb</Na><Sy>s</Sy><Sy></Sy><Wł id=\"3\">x</Wł>"
                     "<Wł id=\"3\">yy</Wł><DK></DK><KK>k</KK><Ce id=\"2\">1</Ce><Ce id=\"2\">2.5</Ce></Towar>\r\n"
                     "<Towar><DK>9</DK></Towar>\r\n<Towar/>\r\n")),
            0)
      << message();
  const auto g = goods();
  ASSERT_EQ(g.size(), 3u);
  CTowar want[3];
  want[0].DodajDK("1");
  want[0].DodajDK("22");
  want[0].DodajDK("");
  want[0].UstawNa("bbb");
  want[0].UstawSy("");
  want[0].UstawWł(3, "yy");
  want[0].UstawKK("k");
  want[0].UstawCe(1, CY{25000});
  want[1].DodajDK("9");
  for (int i = 0; i < 3; ++i) {
    const CTowar& a = g[static_cast<std::size_t>(i)];
    const CTowar& b = want[i];
    EXPECT_EQ(a.DK, b.DK) << i;
    EXPECT_EQ(a.Na, b.Na) << i;
    EXPECT_EQ(a.Sy, b.Sy) << i;
    EXPECT_EQ(a.KK, b.KK) << i;
    EXPECT_EQ(a.Ce[1].GetCurrency(), b.Ce[1].GetCurrency()) << i;
    for (int w = 0; w < CTowar::kWlasne; ++w) {
      EXPECT_EQ(a.Wł[w], b.Wł[w]) << i << " " << w;
      EXPECT_EQ(a.Wł_brak[w], b.Wł_brak[w]) << i << " " << w;
    }
    const auto markers = [](const CTowar& t) {
      return std::make_tuple(t.DK_brak, t.Na_brak, t.Sy_brak, t.KK_brak, t.Ce_brak[0], t.Ce_brak[1], t.Id_brak);
    };
    EXPECT_EQ(markers(a), markers(b)) << i;
  }
}

// UTF-8 to UTF-16 (little-endian, with its byte order mark); characters of the basic plane only.
std::string utf16le(const std::string& utf8) {
  std::string out = "\xFF\xFE";
  for (std::size_t i = 0; i < utf8.size();) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    std::uint32_t cp = b;
    std::size_t len = 1;
    if (b >= 0xE0) {
      cp = b & 0x0F;
      len = 3;
    } else if (b >= 0xC0) {
      cp = b & 0x1F;
      len = 2;
    }
    for (std::size_t k = 1; k < len; ++k) cp = cp << 6 | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    out += static_cast<char>(cp & 0xFF);
    out += static_cast<char>(cp >> 8);
    i += len;
  }
  return out;
}

// The texts of a report's messages in their order (the status block left out), unescaped and
// in UTF-8.
std::vector<std::string> reportMessages(const std::string& report) {
  const std::string open = cp("<Treść>"), close = cp("</Treść>");
  const std::size_t status = report.find("<Status>");
  std::vector<std::string> out;
  for (std::size_t at = report.find(open); at < status; at = report.find(open, at)) {
    at += open.size();
    const std::size_t end = report.find(close, at);
    std::string text = report.substr(at, end - at);
    for (const auto& [entity, c] : {std::pair{"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&apos;", "'"},
                                    {"&amp;", "&"}}) {
      for (std::size_t e = text.find(entity); e != std::string::npos; e = text.find(entity, e + 1))
        text.replace(e, std::strlen(entity), c);
    }
    out.push_back(cp1250ToUtf8(text));
  }
  return out;
}

struct ErrorCase {
  const char* what;
  std::string bytes;
  int number;                         // the error number the reading ends with
  std::vector<std::string> messages;  // UTF-8: every message of the report, in order
};

// Every refusal: its number and the exact text of every message it leaves in RAPORT.XML (the
// last one also the error state's text), line numbers counted with CR LF line ends. Each names
// where it is, after the text of its own kind: the line and column (from 1, in characters) of
// the start tag concerned or of the parse error, the element, the attribute, and the goods
// record or fiscal position by its Id or, before its Id is read, by its place in the job.
TEST_F(JobReader, RefusedJobs) {
  const std::string F = "VEXA_JOB.XML: ";
  const std::string decl = "<?xml version=\"1.0\" encoding=\"windows-1250\"?>\r\n";
  // The place of a conversion's message, which does not name the file or the line otherwise.
  const auto at = [](const std::string& where) { return " (VEXA_JOB.XML, linia " + where + ")"; };
  const std::string longName(200, 'x');
  std::string longPolishName;
  for (int i = 0; i < 100; ++i) longPolishName += "ż";
  std::string cutPolishName;
  for (int i = 0; i < 64; ++i) cutPolishName += "ż";
  // A refused value so long that only the file and the line fit after the message, and one so
  // long that the message alone fills the text.
  const std::string realInvalid = "Nieprawidłowa liczba rzeczywista ";
  const std::size_t fileAndLine = std::string("VEXA_JOB.XML, linia 3").size();
  const std::string nearlyFull(kErrorTextMax - 3 - fileAndLine - 4 - cp(realInvalid).size(), 'x');
  const std::string overFull(1100, 'x');

  std::vector<ErrorCase> cases = {
      // The root and its attributes.
      {"extra root attribute", decl + "<Dane operacja=\"Konfiguracja\" wersja=\"2\"/>", -1,
       {F + "Nieprawidłowy element w linii 2 (kolumna 1, element Dane, atrybut wersja)"}},
      {"no operation", decl + "<Dane/>", -1,
       {": nieznana operacja" + at("2, kolumna 1, element Dane, atrybut operacja")}},
      {"operation in other letter case", decl + "<Dane operacja=\"konfiguracja\"/>", -1,
       {"konfiguracja: nieznana operacja" + at("2, kolumna 1, element Dane, atrybut operacja")}},
      {"other namespace", decl + "\r\n  <Dane operacja=\"Konfiguracja\" xmlns=\"http://example.org/UF/Dane.xsd\"/>", -1,
       {F + "Nieprawidłowa wartość atrybutu 'xmlns' w linii 3 (kolumna 3, element Dane)"}},
      {"other root element", decl + "<Raport operacja=\"Konfiguracja\"/>", -1,
       {F + "Nieprawidłowy element w linii 2 (kolumna 1, element Raport)"}},
      // Elements not foreseen at their place.
      {"unknown element in the root", job("PrzesyłanieTowarów", "<Tower/>\r\n"), -1,
       {F + "Nieprawidłowy element w linii 3 (kolumna 1, element Tower)"}},
      {"header in a goods job", job("PrzesyłanieTowarów", "<Towar/>\r\n<Nagłówek/>\r\n"), -1,
       {F + "Nieprawidłowy element w linii 4 (kolumna 1, element Nagłówek)"}},
      {"goods in a fiscal job", job("WydrukFiskalny", "<Towar/>\r\n"), -1,
       {F + "Nieprawidłowy element w linii 3 (kolumna 1, element Towar)"}},
      {"date range in a goods job", job("PrzesyłanieTowarów", "<Data/>\r\n"), -1,
       {F + "Nieprawidłowy element w linii 3 (kolumna 1, element Data)"}},
      {"unknown goods element", job("PrzesyłanieTowarów", "<Towar>\r\n<Id>1</Id>\r\n<Cena>1</Cena></Towar>\r\n"), -1,
       {F + "Nieprawidłowy element w linii 5 (kolumna 1, element Cena, towar Id 1)"}},
      {"element name in other case", job("PrzesyłanieTowarów", "<Towar><na>x</na></Towar>\r\n"), -1,
       {F + "Nieprawidłowy element w linii 3 (kolumna 8, element na, 1. towar w pliku)"}},
      {"element inside a leaf", job("PrzesyłanieTowarów", "<Towar><Id>7</Id><Na><b>x</b></Na></Towar>\r\n"), -1,
       {F + "Nieprawidłowy element w linii 3 (kolumna 22, element b, towar Id 7)"}},
      {"position field in a goods record", job("PrzesyłanieTowarów", "<Towar><Il>1</Il></Towar>\r\n"), -1,
       {F + "Nieprawidłowy element w linii 3 (kolumna 8, element Il, 1. towar w pliku)"}},
      {"goods field in a position", job("WydrukFiskalny", "<Pozycja><KK>1</KK></Pozycja>\r\n"), -1,
       {F + "Nieprawidłowy element w linii 3 (kolumna 10, element KK, 1. pozycja w pliku)"}},
      {"element inside the date range", job("RaportFiskalny", "<Data><Id>1</Id></Data>\r\n"), -1,
       {F + "Nieprawidłowy element w linii 3 (kolumna 7, element Id)"}},
      {"unknown customer element", job("WydrukFiskalny", "<Nagłówek><Ko><Ty>P</Ty></Ko></Nagłówek>\r\n"), -1,
       {F + "Nieprawidłowy element w linii 3 (kolumna 15, element Ty)"}},
      {"third goods record, its Id not yet read",
       job("UsuwanieTowarów", "<Towar><Id>1</Id></Towar><Pozycja><Id>2</Id></Pozycja>\r\n<Towar><X/><Id>3</Id></Towar>\r\n"),
       -1, {F + "Nieprawidłowy element w linii 4 (kolumna 8, element X, 3. towar w pliku)"}},
      {"very long element name", job("PrzesyłanieTowarów", "<Towar><" + longName + "/></Towar>\r\n"), -1,
       {F + "Nieprawidłowy element w linii 3 (kolumna 8, element " + longName.substr(0, 64) + "..., 1. towar w pliku)"}},
      {"very long element name in Polish letters",
       "<?xml version=\"1.0\"?>\n<Dane operacja=\"UsuwanieTowarów\">\n<Towar><" + longPolishName + "/></Towar></Dane>", -1,
       {F + "Nieprawidłowy element w linii 3 (kolumna 8, element " + cutPolishName + "..., 1. towar w pliku)"}},
      {"element name outside windows-1250",
       "<?xml version=\"1.0\"?>\n<Dane operacja=\"UsuwanieTowarów\">\n<Towar><Id>7</Id><Цена>1</Цена></Towar></Dane>", -1,
       {F + "Nieprawidłowy element w linii 3 (kolumna 18, element ????, towar Id 7)"}},
      // Attributes of prices, own texts and the date range.
      {"price index 3", job("PrzesyłanieTowarów", "<Towar><Ce id=\"3\">1</Ce></Towar>\r\n"), -1,
       {F + "Nieprawidłowa wartość atrybutu 'id' w linii 3 (kolumna 8, element Ce, 1. towar w pliku)"}},
      {"price index 0", job("PrzesyłanieTowarów", "<Towar><Id>5</Id><Ce id=\"0\">1</Ce></Towar>\r\n"), -1,
       {F + "Nieprawidłowa wartość atrybutu 'id' w linii 3 (kolumna 18, element Ce, towar Id 5)"}},
      {"text index 8", job("PrzesyłanieTowarów", "<Towar><Wł id=\"8\">x</Wł></Towar>\r\n"), -1,
       {F + "Nieprawidłowa wartość atrybutu 'id' w linii 3 (kolumna 8, element Wł, 1. towar w pliku)"}},
      {"text index -1 in a position", job("WydrukFiskalny", "<Pozycja><Id>4</Id><Wł id=\"-1\">x</Wł></Pozycja>\r\n"),
       -1, {F + "Nieprawidłowa wartość atrybutu 'id' w linii 3 (kolumna 20, element Wł, pozycja Id 4)"}},
      {"index not a number", job("PrzesyłanieTowarów", "<Towar><Ce id=\"x\">1</Ce></Towar>\r\n"), -1,
       {"Nieprawidłowa liczba całkowita x" + at("3, kolumna 8, element Ce, atrybut id, 1. towar w pliku"),
        F + "Nieprawidłowa wartość atrybutu 'id' w linii 3 (kolumna 8, element Ce, 1. towar w pliku)"}},
      {"other attribute of a price", job("PrzesyłanieTowarów", "<Towar><Ce waluta=\"PLN\">1</Ce></Towar>\r\n"), -1,
       {F + "Nieprawidłowy atrybut w linii 3 (kolumna 8, element Ce, atrybut waluta, 1. towar w pliku)"}},
      {"other attribute of the date range", job("RaportFiskalny", "\r\n<Data od=\"2007-01-01\" dni=\"3\"/>\r\n"), -1,
       {F + "Nieprawidłowy atrybut w linii 4 (kolumna 1, element Data, atrybut dni)"}},
      {"bad od", job("RaportFiskalny", "<Data od=\"2007-13-01\"/>\r\n"), -1,
       {"Liczba całkowita powyżej dopuszczalnego zakresu 13" + at("3, kolumna 1, element Data, atrybut od"),
        "Nieprawidłowa data 2007-13-01" + at("3, kolumna 1, element Data, atrybut od"),
        F + "Nieprawidłowa wartość atrybutu 'od' w linii 3 (kolumna 1, element Data)"}},
      {"bad do", job("RaportFiskalny", "<Data od=\"2007-01-01\"\r\n do=\"x\"/>\r\n"), -1,
       {"Nieprawidłowa liczba całkowita x" + at("3, kolumna 1, element Data, atrybut do"),
        "Nieprawidłowa data x" + at("3, kolumna 1, element Data, atrybut do"),
        F + "Nieprawidłowa wartość atrybutu 'do' w linii 3 (kolumna 1, element Data)"}},
      // Values refused by their conversions: at the start tag of their field.
      {"PLU 0", job("PrzesyłanieTowarów", "<Towar><KP>0</KP></Towar>\r\n"), 10,
       {"Liczba całkowita poniżej dopuszczalnego zakresu 0" + at("3, kolumna 8, element KP, 1. towar w pliku")}},
      {"PLU 1000000", job("PrzesyłanieTowarów", "<Towar><Id>9</Id><KP>1000000</KP></Towar>\r\n"), 11,
       {"Liczba całkowita powyżej dopuszczalnego zakresu 1000000" + at("3, kolumna 18, element KP, towar Id 9")}},
      {"identifier above 32 bits", job("PrzesyłanieTowarów", "<Towar><Id>1</Id></Towar><Towar><Id>4294967296</Id></Towar>\r\n"),
       11, {"Liczba całkowita powyżej dopuszczalnego zakresu 4294967296" + at("3, kolumna 33, element Id, 2. towar w pliku")}},
      {"VAT not a number", job("PrzesyłanieTowarów", "<Towar><Va>2a</Va></Towar>\r\n"), 9,
       {"Nieprawidłowa liczba całkowita 2a" + at("3, kolumna 8, element Va, 1. towar w pliku")}},
      {"price with a comma", job("PrzesyłanieTowarów", "<Towar><Id>7</Id><Ce>4,20</Ce></Towar>\r\n"), 12,
       {"Nieprawidłowa liczba rzeczywista 4,20" + at("3, kolumna 18, element Ce, towar Id 7")}},
      {"second price with a comma, start tag over two lines",
       job("PrzesyłanieTowarów", "<Towar><Id>7</Id>\r\n  <Ce\r\n id=\"2\">12,5</Ce></Towar>\r\n"), 12,
       {"Nieprawidłowa liczba rzeczywista 12,5" + at("4, kolumna 3, element Ce, towar Id 7")}},
      {"empty PLU", job("PrzesyłanieTowarów", "<Towar><Id>2</Id>\r\n<KP/></Towar>\r\n"), 10,
       {"Liczba całkowita poniżej dopuszczalnego zakresu" + at("4, kolumna 1, element KP, towar Id 2")}},
      {"price from an entity", "<?xml version=\"1.0\"?>\n<!DOCTYPE Dane [<!ENTITY c \"<Ce>1,5</Ce>\">]>\n"
       "<Dane operacja=\"UsuwanieTowarów\">\n<Towar><Id>3</Id>&c;</Towar></Dane>", 12,
       {"Nieprawidłowa liczba rzeczywista 1,5" + at("4, kolumna 18, element Ce, towar Id 3")}},
      {"goods type", job("PrzesyłanieTowarów", "<Towar><Ty>t</Ty></Towar>\r\n"), 15,
       {"Nieprawidłowy typ towaru t" + at("3, kolumna 8, element Ty, 1. towar w pliku")}},
      {"logical value", job("PrzesyłanieTowarów", "<Towar><CO>TRUE</CO></Towar>\r\n"), 18,
       {"Nieprawidłowa wartość logiczna TRUE" + at("3, kolumna 8, element CO, 1. towar w pliku")}},
      {"date", job("PrzesyłanieTowarów", "<Towar><DW>2007-4-6</DW></Towar>\r\n"), 19,
       {"Nieprawidłowa liczba całkowita 4-" + at("3, kolumna 8, element DW, 1. towar w pliku"),
        "Nieprawidłowa data 2007-4-6" + at("3, kolumna 8, element DW, 1. towar w pliku")}},
      {"document type", job("WydrukFiskalny", "<Nagłówek><Ty>X</Ty></Nagłówek>\r\n"), 16,
       {"Nieprawidłowy typ dokumentu X" + at("3, kolumna 11, element Ty")}},
      {"header amount", job("WydrukFiskalny", "<Nagłówek>\r\n<WB>1 000</WB></Nagłówek>\r\n"), 12,
       {"Nieprawidłowa liczba rzeczywista 1 000" + at("4, kolumna 1, element WB")}},
      {"discount type", job("WydrukFiskalny", "<Pozycja><TR>R</TR></Pozycja>\r\n"), 17,
       {"Nieprawidłowy typ rabatu R" + at("3, kolumna 10, element TR, 1. pozycja w pliku")}},
      {"position amount", job("WydrukFiskalny", "<Pozycja><Id>5</Id><CN0>1,5</CN0></Pozycja>\r\n"), 12,
       {"Nieprawidłowa liczba rzeczywista 1,5" + at("3, kolumna 20, element CN0, pozycja Id 5")}},
      {"value that leaves room for the file and line only",
       job("PrzesyłanieTowarów", "<Towar><Ce>" + nearlyFull + "</Ce></Towar>\r\n"), 12,
       {realInvalid + nearlyFull + " (VEXA_JOB.XML, linia 3)"}},
      {"value that fills the message", job("PrzesyłanieTowarów", "<Towar><Ce>" + overFull + "</Ce></Towar>\r\n"), 12,
       {realInvalid + overFull.substr(0, kErrorTextMax - cp(realInvalid).size())}},
      // Not well-formed: the parser's own text and line, then the column and what is being read.
      {"ends inside an element", decl + "<Dane operacja=\"Konfiguracja\">\r\n<Towar><Na>x</Na>\r\n", -1,
       {F + "Parse error at line 4:no element found\n (kolumna 1, 1. towar w pliku)"}},
      {"ends without the root's end tag", cp(decl + "<Dane operacja=\"PrzesyłanieTowarów\">\r\n<Towar><Id>3</Id></Towar>\r\n"), -1,
       {F + "Parse error at line 4:no element found\n (kolumna 1)"}},
      {"end tag of another element", job("PrzesyłanieTowarów", "<Towar><Id>7</Id><Na>x</Nb></Towar>\r\n"), -1,
       {F + "Parse error at line 3:mismatched tag\n (kolumna 25, element Na, towar Id 7)"}},
      {"undefined entity in a field", job("PrzesyłanieTowarów", "<Towar><Na>a&b;</Na></Towar>\r\n"), -1,
       {F + "Parse error at line 3:undefined entity\n (kolumna 13, element Na, 1. towar w pliku)"}},
      {"junk after the root", decl + "<Dane operacja=\"Konfiguracja\"/>\r\n<Dane/>", -1,
       {F + "Parse error at line 3:junk after document element\n (kolumna 1)"}},
      {"encoding name in other case", "<?xml version=\"1.0\" encoding=\"Windows-1250\"?>\r\n<Dane/>", -1,
       {F + "Parse error at line 1:unknown encoding\n (kolumna 31)"}},
      {"unknown encoding", "<?xml version=\"1.0\" encoding=\"cp852\"?>\r\n<Dane/>", -1,
       {F + "Parse error at line 1:unknown encoding\n (kolumna 31)"}},
      {"invalid UTF-8", "<Dane operacja=\"Konfiguracja\">\n\n\xC5</Dane>", -1,
       {F + "Parse error at line 3:not well-formed (invalid token)\n (kolumna 1)"}},
      {"empty file", "", -1, {F + "Parse error at line 1:no element found\n (kolumna 1)"}},
  };
  // The same places in every encoding a job may take: columns count characters, not bytes.
  const std::string head = "<Dane operacja=\"PrzesyłanieTowarów\" xmlns=\"" + kNs + "\">\r\n";
  const struct {
    const char* name;
    std::function<std::string(const std::string&)> encode;
    std::string declaration;
  } encodings[] = {
      {"windows-1250", cp, "encoding=\"windows-1250\""},
      {"iso-8859-2", [](const std::string& s) { return toIso(cp(s)); }, "encoding=\"iso-8859-2\""},
      {"UTF-8", [](const std::string& s) { return s; }, "encoding=\"UTF-8\""},
      {"UTF-16", utf16le, "encoding=\"UTF-16\""},
  };
  for (const auto& e : encodings) {
    const auto encoded = [&](const std::string& body) {
      return e.encode("<?xml version=\"1.0\" " + e.declaration + "?>\r\n" + head + body + "</Dane>\r\n");
    };
    cases.push_back({e.name, encoded("<Towar><Id>7</Id><Na>Żółć źdźbło</Na><Ce>x</Ce></Towar>\r\n"), 12,
                     {"Nieprawidłowa liczba rzeczywista x" + at("3, kolumna 38, element Ce, towar Id 7")}});
    cases.push_back({e.name, encoded("<Towar><Id>7</Id><Na>Żółć źdźbło</Na><Nagłówek/></Towar>\r\n"), -1,
                     {F + "Nieprawidłowy element w linii 3 (kolumna 38, element Nagłówek, towar Id 7)"}});
    cases.push_back({e.name, encoded("<Towar><Id>7</Id><Na>Żółć źdźbło</Na>\r\n<Wł id=\"ą\">x</Wł></Towar>\r\n"), 9,
                     {"Nieprawidłowa liczba całkowita ą" + at("4, kolumna 1, element Wł, atrybut id, towar Id 7")}});
  }

  for (const auto& c : cases) {
    ClearError("");
    {
      CRaportXml raport;
      ErrorSetRaport(&raport);
      EXPECT_EQ(read(c.bytes), c.number) << c.what;
      ErrorSetRaport(nullptr);
    }
    EXPECT_EQ(GetErrorNum(), c.number) << c.what;
    const std::string report = readFile(dir.file("RAPORT.XML"));
    EXPECT_EQ(reportMessages(report), c.messages) << c.what;
    // The report stays valid whatever the names and values (checked once, not for every size of
    // the pieces the job is read in).
    if (!std::getenv("QUORVEL_TEST_JOB_CHUNK")) {
      EXPECT_EQ(schemaErrors(dir.file("RAPORT.XML"), "Raport.xsd"), "") << c.what << "\n" << cp1250ToUtf8(report);
    }
    EXPECT_EQ(message(), c.messages.back()) << c.what;
    EXPECT_LE(std::string(GetErrorMsg()).size(), static_cast<std::size_t>(kErrorTextMax)) << c.what;
  }
}

// Entity tricks neither blow up memory nor reach outside the job file.
TEST_F(JobReader, HostileDocumentTypeDeclarations) {
  std::string laughs = "<?xml version=\"1.0\"?>\n<!DOCTYPE Dane [\n<!ENTITY a0 \"lol\">\n";
  for (int i = 1; i < 20; ++i)
    laughs += "<!ENTITY a" + std::to_string(i) + " \"" + std::string(10, '&') + "\">\n";
  for (int i = 1; i < 20; ++i) {
    std::string refs;
    for (int k = 0; k < 10; ++k) refs += "&a" + std::to_string(i - 1) + ";";
    const std::string placeholder = "\"" + std::string(10, '&') + "\"";
    laughs.replace(laughs.find(placeholder), placeholder.size(), "\"" + refs + "\"");
  }
  laughs += "]>\n<Dane operacja=\"PrzesyłanieTowarów\"><Towar><Na>&a19;</Na></Towar></Dane>\n";
  EXPECT_EQ(read(laughs), -1);
  EXPECT_EQ(message().rfind("VEXA_JOB.XML: Parse error at line ", 0), 0u) << message();
  EXPECT_NE(message().find("amplification"), std::string::npos) << message();

  ClearError("");
  const std::string external =
      "<?xml version=\"1.0\"?>\n<!DOCTYPE Dane [<!ENTITY x SYSTEM \"/etc/passwd\">]>\n"
      "<Dane operacja=\"UsuwanieTowarów\"><Towar><Na>[&x;]</Na></Towar></Dane>\n";
  ASSERT_EQ(read(external), 0) << message();
  EXPECT_EQ(goods()[0].Na, "[]");
}

TEST_F(JobReader, LinesCountTheSameWithLfAndCrLf) {
  std::string crlf = job("PrzesyłanieTowarów", "<Towar>\r\n\r\n<X/></Towar>\r\n");
  std::string lf;
  for (char c : crlf)
    if (c != '\r') lf += c;
  for (const std::string& bytes : {crlf, lf}) {
    ClearError("");
    EXPECT_EQ(read(bytes), -1);
    EXPECT_EQ(message(), "VEXA_JOB.XML: Nieprawidłowy element w linii 5 (kolumna 1, element X, 1. towar w pliku)");
  }
}

TEST_F(JobReader, ErrorLateInALargeJobKeepsEarlierGoodsAndNamesTheLine) {
  std::string body;
  for (int i = 1; i <= 1000; ++i) body += "<Towar><Id>" + std::to_string(i) + "</Id></Towar>\r\n";
  body += "<Towar><Ce id=\"9\">1</Ce></Towar>\r\n";
  body += "<Towar><Id>1001</Id></Towar>\r\n";
  EXPECT_EQ(read(job("PrzesyłanieTowarów", body)), -1);
  EXPECT_EQ(message(), "VEXA_JOB.XML: Nieprawidłowa wartość atrybutu 'id' w linii 1003 (kolumna 8, element Ce, 1001. towar w pliku)");
  EXPECT_EQ(vexa->IleRekordow(), 1000u);
}

TEST_F(JobReader, MissingOrUnreadableFile) {
  vexa = std::make_unique<CVexaXml>();
  EXPECT_EQ(vexa->readHeader(), 6);
  EXPECT_EQ(message(), "Brak pliku VEXA_JOB.XML");

  ClearError("");
  std::filesystem::create_directory(dir.file("VEXA_JOB.XML"));
  EXPECT_EQ(vexa->readHeader(), 5);
  EXPECT_EQ(message(), "Błąd odczytu pliku VEXA_JOB.XML");
}

TEST_F(JobReader, PendingErrorIsReturnedWithoutReading) {
  writeFile(dir.file("VEXA_JOB.XML"), job("PrzesyłanieTowarów", "<Towar><Id>1</Id></Towar>"));
  SetError(ERR_FILE_CREATE, "RAPORT.XML");
  vexa = std::make_unique<CVexaXml>();
  EXPECT_EQ(vexa->readHeader(), 1);
  EXPECT_EQ(vexa->IleRekordow(), 0u);
  EXPECT_EQ(vexa->GetOperacja(), "");
}

// The messages land in RAPORT.XML under the operation read so far, and the report stays valid.
TEST_F(JobReader, RefusalsLeaveAValidReport) {
  const struct {
    std::string bytes;
    std::string operacja;
    std::vector<std::string> messages;
  } cases[] = {
      {job("PrzesyłanieTowarów", "<Towar><Na>a</Na></Towar><Towar><Ce id=\"2\">x</Ce></Towar>"), "PrzesyłanieTowarów",
       {"Nieprawidłowa liczba rzeczywista x"}},
      {job("RaportFiskalny", "<Data od=\"1899-01-01\"/>"), "RaportFiskalny",
       {"Liczba całkowita poniżej dopuszczalnego zakresu 1899", "Nieprawidłowa data 1899-01-01",
        "VEXA_JOB.XML: Nieprawidłowa wartość atrybutu &apos;od&apos; w linii 3"}},
      {"<Dane operacja=\"Konfiguracja\"><Towar>\x01</Towar></Dane>", "Konfiguracja",
       {"VEXA_JOB.XML: Parse error at line 1:not well-formed (invalid token)\n"}},
      {"\xFF\xFE<", "InicjalizacjaSterownika", {}},
  };
  for (const auto& c : cases) {
    ClearError("");
    {
      CRaportXml raport;
      ErrorSetRaport(&raport);
      EXPECT_NE(read(c.bytes), 0);
    }
    const std::string report = readFile(dir.file("RAPORT.XML"));
    EXPECT_EQ(schemaErrors(dir.file("RAPORT.XML"), "Raport.xsd"), "") << cp1250ToUtf8(report);
    EXPECT_NE(report.find(cp("operacja=\"" + c.operacja + "\"")), std::string::npos) << cp1250ToUtf8(report);
    for (const auto& m : c.messages)
      EXPECT_NE(report.find(cp("<Treść>" + m)), std::string::npos) << m << "\n" << cp1250ToUtf8(report);
  }
}

}  // namespace
