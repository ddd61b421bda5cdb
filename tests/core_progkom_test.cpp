// PROG_KOM.XML as the host reads it: exact bytes of every record kind, the sign rule of sales,
// schema validity of every file written, and Close reporting 0 only for a file that is whole
// on disk (plug-ins clear the register's sales counters on that 0).
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "core/error_state.h"
#include "core/records.h"
#include "core/xml/progkom_xml.h"
#include "platform/cp1250.h"
#include "platform/job_dir.h"
#include "tests/support/file_faults.h"
#include "tests/support/test_support.h"

using quorvel::test::cp1250ToUtf8;
using quorvel::test::readFile;
using quorvel::test::schemaErrors;
using quorvel::test::ScratchDir;

namespace {

const std::string kDecl = "<?xml version=\"1.0\" encoding=\"windows-1250\" ?>\r\n";

// Takes the name as a pointer: Clang 14 crashes on some windows-1250 literals converted to a
// std::string argument.
std::string root(const char* operacja) {
  return "<Dane operacja=\"" + std::string(operacja) + "\" xmlns=\"http://schemas.quorvel.org/UF/Dane.xsd\">\r\n";
}

// Declaration and root start tag.
std::string header(const char* operacja) { return kDecl + root(operacja); }

CUfCurrency money(std::int64_t raw) { return CUfCurrency(CY{raw}); }

class ProgKom : public ::testing::Test {
 protected:
  void SetUp() override {
    ErrorSetRaport(nullptr);
    ClearError("");
  }
  void TearDown() override {
    ClearError("");
    quorvel::platform::FileFaults::Clear();
  }

  // The finished file, checked against the schema.
  std::string finished() {
    const std::string bytes = readFile(dir.file("PROG_KOM.XML"));
    EXPECT_EQ(schemaErrors(dir.file("PROG_KOM.XML"), "Dane.xsd"), "") << cp1250ToUtf8(bytes);
    return bytes;
  }

  ScratchDir dir;
};

// Operation names of the table come out as they are; anything else cannot break the root tag.
TEST_F(ProgKom, JobWithoutRecords) {
  const struct {
    std::string operacja, written;
  } cases[] = {
      {"SprawdzeniePołączenia"_cp, "SprawdzeniePołączenia"_cp},
      {"RaportOkresowySkrócony"_cp, "RaportOkresowySkrócony"_cp},
      {"", ""},
      {"a\"<b>&'", "a&quot;&lt;b&gt;&amp;&apos;"},
  };
  for (const auto& c : cases) {
    {
      CProgKomXml progKom(c.operacja.c_str());
      EXPECT_FALSE(progKom.JestObrot());
    }
    EXPECT_EQ(finished(), header(c.written.c_str()) + "</Dane>");
  }
}

TEST_F(ProgKom, GoodsRecords) {
  CTowar empty;

  CTowar full;
  full.Id = 7;
  full.Ty = 'O';
  full.Sy = "S&Y\x01";  // a control byte XML cannot carry becomes _
  full.KP = 999999;
  full.KK = "5901234123457";
  full.DK = "111\xFF" "222\xFF";
  full.KO = "ko";
  full.Na = "Żółw <mały> \"Š\""_cp;
  full.Ce[0] = money(125000);
  full.Ce[1] = money(-2500);
  full.CO = true;
  full.Va = -1;
  full.Gr = 2147483647;
  for (int i = 0; i < CTowar::kWlasne; ++i) full.Wł[i] = "w" + std::to_string(i);
  full.JM = 3;
  full.Wa = false;
  full.Op = "op";
  full.Uw = "uw";
  full.OW = 4294967295u;
  full.DW = CDateTime(2007, 4, 6, 0, 0, 0);
  full.SW = "sw";
  full.PK = "pk";
  for (bool* marker : {&full.Id_brak, &full.Ty_brak, &full.Sy_brak, &full.KP_brak, &full.KK_brak, &full.DK_brak,
                       &full.KO_brak, &full.Na_brak, &full.Ce_brak[0], &full.Ce_brak[1], &full.CO_brak,
                       &full.Va_brak, &full.Gr_brak, &full.JM_brak, &full.Wa_brak, &full.Op_brak, &full.Uw_brak,
                       &full.OW_brak, &full.DW_brak, &full.SW_brak, &full.PK_brak})
    *marker = false;
  for (bool& marker : full.Wł_brak) marker = false;

  // Set fields only: the second price and one text; Ty stays out although its value is 'T'.
  CTowar some;
  some.Ce[1] = money(30000);
  some.Ce_brak[1] = false;
  some.Wł[5] = "x";
  some.Wł_brak[5] = false;

  // The further barcodes end at the first empty code or at a code without its 0xFF.
  const struct {
    std::string dk;
    std::string written;
  } barcodes[] = {
      {"abc", ""},
      {"", ""},
      {"a\xFF\xFF" "b\xFF", "<DK>a</DK>"},
      {"a\xFF" "b", "<DK>a</DK>"},
      {"\xFF" "a\xFF", ""},
  };

  {
    CProgKomXml progKom("ImportTowarów"_cp);
    progKom.DodajTowar(std::uint32_t{4294967295u});
    progKom.DodajTowar(empty);
    progKom.DodajTowar(full);
    progKom.DodajTowar(some);
    for (const auto& b : barcodes) {
      CTowar t;
      t.DK = b.dk;
      t.DK_brak = false;
      progKom.DodajTowar(t);
    }
    EXPECT_EQ(progKom.Close(), 0);
    EXPECT_FALSE(progKom.JestObrot());
  }
  std::string expected = header("ImportTowarów"_cp);
  expected += "\t<Towar><Id>4294967295</Id></Towar>\r\n";
  expected += "\t<Towar></Towar>\r\n";
  expected += "\t<Towar><Id>7</Id><Ty>O</Ty><Sy>S&amp;Y_</Sy><KP>999999</KP><KK>5901234123457</KK>";
  expected += "<DK>111</DK><DK>222</DK><KO>ko</KO>";
  expected += "<Na>Żółw &lt;mały&gt; &quot;_&quot;</Na>"_cp;
  expected += "<Ce id=\"1\">12.5</Ce><Ce id=\"2\">-0.25</Ce><CO>1</CO><Va>-1</Va><Gr>2147483647</Gr>";
  expected += "<Wł id=\"0\">w0</Wł><Wł id=\"1\">w1</Wł><Wł id=\"2\">w2</Wł><Wł id=\"3\">w3</Wł>"_cp;
  expected += "<Wł id=\"4\">w4</Wł><Wł id=\"5\">w5</Wł><Wł id=\"6\">w6</Wł><Wł id=\"7\">w7</Wł>"_cp;
  expected += "<JM>3</JM><Wa>0</Wa><Op>op</Op><Uw>uw</Uw><OW>4294967295</OW><DW>2007-04-06</DW>";
  expected += "<SW>sw</SW><PK>pk</PK></Towar>\r\n";
  expected += "\t<Towar><Ce id=\"2\">3</Ce><Wł id=\"5\">x</Wł></Towar>\r\n"_cp;
  for (const auto& b : barcodes) expected += "\t<Towar>" + b.written + "</Towar>\r\n";
  expected += "</Dane>";
  EXPECT_EQ(cp1250ToUtf8(finished()), cp1250ToUtf8(expected));
}

// Quantity and value of opposite signs both come out negative; the record is not changed.
TEST_F(ProgKom, SalesRecordSigns) {
  const struct {
    std::int64_t ilosc, wartosc;
    const char* written;
  } cases[] = {
      {20000, -50000, "<Ilość>-2</Ilość><Wartość>-5</Wartość>"},
      {-20000, 50000, "<Ilość>-2</Ilość><Wartość>-5</Wartość>"},
      {0, -50000, "<Ilość>0</Ilość><Wartość>-5</Wartość>"},
      {-20000, 0, "<Ilość>-2</Ilość><Wartość>0</Wartość>"},
      {15000, 1234, "<Ilość>1.5</Ilość><Wartość>0.1234</Wartość>"},
      {-15000, -1234, "<Ilość>-1.5</Ilość><Wartość>-0.1234</Wartość>"},
  };
  // Compared as readable UTF-8.
  std::string expected = header("OdbiórSprzedaży");
  {
    CProgKomXml progKom("OdbiórSprzedaży"_cp);
    int n = 0;
    for (const auto& c : cases) {
      CTowar t;
      t.IdUF = "PLU&" + std::to_string(++n);
      t.Ty = n % 2 ? 'T' : 'O';  // written whatever its marker says
      t.Ilość = money(c.ilosc);
      t.Wartość = money(c.wartosc);
      progKom.DodajObrot(t);
      EXPECT_EQ(t.Ilość.GetCurrency(), c.ilosc);
      EXPECT_TRUE(progKom.JestObrot());
      expected += "\t<Obrót><IdUF>PLU&amp;" + std::to_string(n) + "</IdUF><Typ>" + t.Ty + "</Typ>" + c.written +
                  "</Obrót>\r\n";
    }
  }
  expected += "</Dane>";
  EXPECT_EQ(cp1250ToUtf8(finished()), expected);
}

TEST_F(ProgKom, SecondCloseAndLateRecordsWriteNothing) {
  CProgKomXml progKom("UsuwanieSprzedaży"_cp);
  progKom.DodajTowar(std::uint32_t{1});
  EXPECT_EQ(progKom.Close(), 0);
  const std::string closed = finished();
  progKom.DodajTowar(std::uint32_t{2});
  progKom.DodajObrot(CTowar());
  SetError(ERR_DEVICE_ERROR, "");
  EXPECT_EQ(progKom.Close(), ERR_DEVICE_ERROR);  // only the error number
  EXPECT_EQ(readFile(dir.file("PROG_KOM.XML")), closed);
  EXPECT_EQ(closed, header("UsuwanieSprzedaży"_cp) + "\t<Towar><Id>1</Id></Towar>\r\n</Dane>");
}

TEST_F(ProgKom, CloseReturnsThePendingErrorAfterFinishing) {
  CProgKomXml progKom("OdbiórSprzedaży"_cp);
  SetError(ERR_PORT_READ_TIMEOUT, "");
  EXPECT_EQ(progKom.Close(), ERR_PORT_READ_TIMEOUT);
  finished();
}

// Each record reaches the file as it is written, before Close: a crash loses none of them.
TEST_F(ProgKom, RecordsReachTheFileAtOnce) {
  CProgKomXml progKom("OdbiórSprzedaży"_cp);
  CTowar t;
  t.IdUF = "1";
  t.Ilość = money(10000);
  t.Wartość = money(20000);
  progKom.DodajObrot(t);
  EXPECT_EQ(readFile(dir.file("PROG_KOM.XML")),
            header("OdbiórSprzedaży"_cp) + "\t<Obrót><IdUF>1</IdUF><Typ>T</Typ><Ilość>1</Ilość><Wartość>2</Wartość></Obrót>\r\n"_cp);
}

TEST_F(ProgKom, CopiesShareTheFileButDoNotCloseIt) {
  CProgKomXml progKom("OdbiórSprzedaży"_cp);
  CTowar t;
  progKom.DodajObrot(t);
  {
    CProgKomXml copy(progKom);
    EXPECT_TRUE(copy.JestObrot());
    copy.DodajTowar(std::uint32_t{5});
  }
  CProgKomXml assigned("x");  // a second writer takes the file over...
  assigned = progKom;         // ...and carries only the flag
  EXPECT_TRUE(assigned.JestObrot());
  assigned.DodajTowar(std::uint32_t{6});
  EXPECT_EQ(assigned.Close(), 0);
  EXPECT_EQ(finished(), header("x") + "\t<Towar><Id>6</Id></Towar>\r\n</Dane>");
}

TEST_F(ProgKom, FileThatCannotBeCreated) {
  std::filesystem::create_directory(dir.file("PROG_KOM.XML"));
  CProgKomXml progKom("ImportTowarów"_cp);
  EXPECT_EQ(GetErrorNum(), ERR_FILE_CREATE);
  EXPECT_EQ(cp1250ToUtf8(GetErrorMsg()), "Błąd tworzenia pliku PROG_KOM.XML");
  progKom.DodajTowar(std::uint32_t{1});  // dropped without a word
  EXPECT_EQ(progKom.Close(), ERR_FILE_CREATE);
}

using quorvel::platform::FileFaults;
using quorvel::platform::FileOp;

// A full disk: the header fails at once, and Close never reports success, even when the
// plug-in cleared the error in between.
TEST_F(ProgKom, FullDiskIsAWriteErrorAndCloseIsNotZero) {
  FileFaults::Arm(FileOp::Write, 1, ENOSPC, "PROG_KOM.XML", true);
  CProgKomXml progKom("OdbiórSprzedaży"_cp);
  EXPECT_EQ(GetErrorNum(), ERR_FILE_WRITE);
  EXPECT_EQ(cp1250ToUtf8(GetErrorMsg()), "Błąd zapisu pliku PROG_KOM.XML");
  ClearError("");
  CTowar t;
  progKom.DodajObrot(t);
  EXPECT_EQ(GetErrorNum(), 0);  // records report nothing themselves
  EXPECT_EQ(progKom.Close(), ERR_FILE_WRITE);
  EXPECT_EQ(cp1250ToUtf8(GetErrorMsg()), "Błąd zapisu pliku PROG_KOM.XML");
}

// Every file operation of a device-data file failing in turn: Close never returns 0, the
// error has its number and text, the file never counts as finished on the disk, and what
// stands in it is still a valid document whenever it got its end tag (the report's error 4
// tells the host it is not the whole one).
TEST_F(ProgKom, EveryFailingFileOperationIsReported) {
  int closed = 0;
  const auto prepare = [] {
    ClearError("");
    std::filesystem::remove("PROG_KOM.XML");
  };
  const auto work = [&] {
    CProgKomXml progKom("OdbiórSprzedaży"_cp);
    CTowar t;
    t.UstawIdUF("5");
    t.Ilość = money(20000);
    t.Wartość = money(50000);
    progKom.DodajTowar(std::uint32_t{1});
    progKom.DodajObrot(t);
    progKom.DodajTowar(std::uint32_t{2});
    closed = progKom.Close();
  };
  prepare();
  work();
  ASSERT_EQ(closed, 0);
  finished();
  const unsigned runs = quorvel::test::forEachFileFault(prepare, work, [&](const quorvel::test::FileFault& f) {
    const bool open = f.op == FileOp::Open;
    EXPECT_EQ(closed, open ? ERR_FILE_CREATE : ERR_FILE_WRITE);
    EXPECT_EQ(cp1250ToUtf8(GetErrorMsg()), open ? "Błąd tworzenia pliku PROG_KOM.XML" : "Błąd zapisu pliku PROG_KOM.XML");
    EXPECT_EQ(ProgKomFinishedOnDisk(), open);  // a file never opened has nothing to lose
    const std::string bytes = quorvel::test::fileExists("PROG_KOM.XML") ? readFile("PROG_KOM.XML") : "";
    if (bytes.size() >= 7 && bytes.compare(bytes.size() - 7, 7, "</Dane>") == 0) {
      EXPECT_EQ(schemaErrors("PROG_KOM.XML", "Dane.xsd"), "");
    }
  });
  EXPECT_GE(runs, 8u);
}

TEST_F(ProgKom, FullDiskFoundByTheDestructorToo) {
  FileFaults::Arm(FileOp::Write, 1, ENOSPC, "PROG_KOM.XML", true);
  { CProgKomXml progKom("OdbiórSprzedaży"_cp); }
  EXPECT_EQ(GetErrorNum(), ERR_FILE_WRITE);
}

}  // namespace
