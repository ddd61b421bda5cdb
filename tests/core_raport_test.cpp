// RAPORT.XML as the host reads it: exact bytes, schema validity, the goods lists of messages,
// and what happens when the file cannot be created or written.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <string>

#include "core/error_state.h"
#include "core/xml/raport_xml.h"
#include "platform/cp1250.h"
#include "platform/job_dir.h"
#include "tests/support/file_faults.h"
#include "tests/support/test_support.h"

using quorvel::test::readFile;
using quorvel::test::schemaErrors;
using quorvel::test::ScratchDir;

namespace {

const std::string kDecl = "<?xml version=\"1.0\" encoding=\"windows-1250\" ?>\r\n";

std::string root(const std::string& operacja) {
  return "<Raport operacja=\"" + operacja + "\" xmlns=\"http://schemas.quorvel.org/UF/Raport.xsd\">\r\n";
}

class Raport : public ::testing::Test {
 protected:
  void SetUp() override {
    ErrorSetRaport(nullptr);
    ClearError("");
  }
  void TearDown() override { ErrorSetRaport(nullptr); }

  // The finished report, checked against the schema.
  std::string finished() {
    const std::string bytes = readFile(dir.file("RAPORT.XML"));
    EXPECT_EQ(schemaErrors(dir.file("RAPORT.XML"), "Raport.xsd"), "") << quorvel::test::cp1250ToUtf8(bytes);
    return bytes;
  }

  ScratchDir dir;
};

TEST_F(Raport, EmptyReportHasRootTagJustBeforeStatus) {
  { CRaportXml raport; }
  EXPECT_EQ(finished(), kDecl + root("InicjalizacjaSterownika") +
                            "\t<Status>\r\n"
                            "\t\t<Typ>E</Typ>\r\n"
                            "\t</Status>\r\n"
                            "</Raport>");
}

TEST_F(Raport, JobWithoutGoods) {
  {
    CRaportXml raport;
    raport.SetOperacja("PrzesyłanieTowarów"_cp);
    raport.DodajKomunikat("W", "Brak towarów do przesłania"_cp, 0, true);
  }
  EXPECT_EQ(finished(),
            std::string("<?xml version=\"1.0\" encoding=\"windows-1250\" ?>\r\n"
                        "<Raport operacja=\"PrzesyłanieTowarów\" xmlns=\"http://schemas.quorvel.org/UF/Raport.xsd\">\r\n"
                        "\t<Komunikat>\r\n"
                        "\t\t<Typ>W</Typ>\r\n"
                        "\t\t<Treść>Brak towarów do przesłania</Treść>\r\n"
                        "\t</Komunikat>\r\n"
                        "\t<Status>\r\n"
                        "\t\t<Typ>W</Typ>\r\n"
                        "\t\t<Treść>Brak towarów do przesłania</Treść>\r\n"
                        "\t</Status>\r\n"
                        "</Raport>"_cp));
}

TEST_F(Raport, MessagesWithNumberAndGoodsInOrder) {
  {
    CRaportXml raport;
    raport.SetOperacja("UsuwanieTowarów"_cp);
    CKomunikat komunikat("E", "Urządzenie odrzuciło towary"_cp, 15, true);
    komunikat.DodajTowar(7);
    komunikat.DodajTowar(4294967295u);
    komunikat.DodajTowar(0);
    raport.DodajKomunikat(komunikat);
    raport.DodajKomunikat("I", "Gotowe", 3, false);
  }
  EXPECT_EQ(finished(), kDecl + root("UsuwanieTowarów"_cp) +
                            "\t<Komunikat>\r\n"
                            "\t\t<Typ>E</Typ>\r\n"
                            "\t\t<Numer>15</Numer>\r\n"
                            "\t\t<Treść>Urządzenie odrzuciło towary</Treść>\r\n"
                            "\t\t<Towar>7</Towar>\r\n"
                            "\t\t<Towar>4294967295</Towar>\r\n"
                            "\t\t<Towar>0</Towar>\r\n"
                            "\t</Komunikat>\r\n"
                            "\t<Komunikat>\r\n"
                            "\t\t<Typ>I</Typ>\r\n"
                            "\t\t<Numer>3</Numer>\r\n"
                            "\t\t<Treść>Gotowe</Treść>\r\n"
                            "\t</Komunikat>\r\n"
                            "\t<Status>\r\n"
                            "\t\t<Typ>E</Typ>\r\n"
                            "\t\t<Treść>Urządzenie odrzuciło towary</Treść>\r\n"
                            "\t</Status>\r\n"
                            "</Raport>"_cp);
}

// Texts from the job or the register can hold anything; the file stays well-formed.
TEST_F(Raport, TextsAndOperationNameAreEscaped) {
  {
    CRaportXml raport;
    raport.SetOperacja("a\"b<c&d\x01");
    const std::string text = std::string("a<b & c>d \x8A ") + "ąŻ"_cp + "\x02";
    raport.DodajKomunikat("W", text.c_str(), 0, true);
  }
  EXPECT_EQ(finished(), kDecl + root("a&quot;b&lt;c&amp;d_") +
                            "\t<Komunikat>\r\n"
                            "\t\t<Typ>W</Typ>\r\n"
                            "\t\t<Treść>a&lt;b &amp; c&gt;d _ ąŻ_</Treść>\r\n"
                            "\t</Komunikat>\r\n"
                            "\t<Status>\r\n"
                            "\t\t<Typ>W</Typ>\r\n"
                            "\t\t<Treść>a&lt;b &amp; c&gt;d _ ąŻ_</Treść>\r\n"
                            "\t</Status>\r\n"
                            "</Raport>"_cp);
}

TEST_F(Raport, NumberOnlyWhenPositive) {
  {
    CRaportXml raport;
    for (int numer : {0, -1, -2147483647 - 1, 1, 2147483647}) raport.DodajKomunikat("E", "x", numer, false);
  }
  const std::string bytes = finished();
  std::size_t numbers = 0;
  for (std::size_t at = bytes.find("<Numer>"); at != std::string::npos; at = bytes.find("<Numer>", at + 1)) ++numbers;
  EXPECT_EQ(numbers, 2u);
  EXPECT_NE(bytes.find("\t\t<Numer>1</Numer>\r\n"), std::string::npos);
  EXPECT_NE(bytes.find("\t\t<Numer>2147483647</Numer>\r\n"), std::string::npos);
}

TEST_F(Raport, EmptyTextAddsNothingAndKeepsStatus) {
  {
    CRaportXml raport;
    raport.UstawStatus("OK", "");
    raport.DodajKomunikat("E", "", 5, true);
    raport.DodajKomunikat("E", nullptr, 5, true);
    raport.DodajKomunikat(CKomunikat("E", "", 5, true));
    CKomunikat nullText("W", nullptr, 0, true);
    nullText.DodajTowar(1);
    raport.DodajKomunikat(nullText);
    EXPECT_STREQ(raport.GetStatusTyp(), "OK");
  }
  EXPECT_EQ(finished(), kDecl + root("InicjalizacjaSterownika") +
                            "\t<Status>\r\n\t\t<Typ>OK</Typ>\r\n\t</Status>\r\n</Raport>");
}

TEST_F(Raport, StatusIsCutTo2And1023Characters) {
  const std::string longText(2000, 'x');
  {
    CRaportXml raport;
    raport.UstawStatus("OKAY", longText.c_str());
    EXPECT_STREQ(raport.GetStatusTyp(), "OK");
    EXPECT_EQ(std::string(raport.GetStatusTresc()), longText.substr(0, 1023));
    raport.UstawStatus("W", nullptr);  // a null text keeps the text
    EXPECT_EQ(std::string(raport.GetStatusTresc()).size(), 1023u);
  }
  EXPECT_NE(finished().find("<Treść>"_cp + longText.substr(0, 1023) + "</Treść>"_cp), std::string::npos);
}

TEST_F(Raport, RootTagOnceWithTheNameHeldAtTheFirstMessage) {
  {
    CRaportXml raport;
    raport.SetOperacja("");
    raport.DodajKomunikat("I", "pierwszy", 0, false);
    raport.SetOperacja("ImportTowarów"_cp);
    raport.DodajKomunikat("I", "drugi", 0, false);
  }
  const std::string bytes = finished();
  EXPECT_EQ(bytes.substr(0, kDecl.size() + root("").size()), kDecl + root(""));
  EXPECT_EQ(bytes.find("<Raport", kDecl.size() + 1), std::string::npos);
}

TEST_F(Raport, CopyCarriesStatusAndNameButLeavesTheFileToTheOriginal) {
  {
    CRaportXml raport;
    raport.SetOperacja("OdbiórSprzedaży"_cp);
    raport.UstawStatus("W", "uwaga");
    {
      CRaportXml copy(raport);
      EXPECT_STREQ(copy.GetOperacja(), "OdbiórSprzedaży"_cp);
      EXPECT_STREQ(copy.GetStatusTresc(), "uwaga");
      copy.DodajKomunikat("I", "z kopii", 0, false);
    }
    EXPECT_TRUE(raport.IsOpen());
    raport.UstawStatus("OK", "");
  }
  const std::string bytes = finished();
  EXPECT_NE(bytes.find("z kopii"), std::string::npos);
  EXPECT_NE(bytes.find("<Typ>OK</Typ>"), std::string::npos);
}

TEST_F(Raport, DestroyingTheLinkedWriterUnlinksTheErrorState) {
  auto raport = std::make_unique<CRaportXml>();
  ErrorSetRaport(raport.get());
  raport.reset();
  EXPECT_EQ(ErrorGetRaport(), nullptr);
  SetError(4, "x");  // no report any more: only the state changes
  EXPECT_EQ(GetErrorNum(), 4);
}

// --- goods lists ------------------------------------------------------------------------------

TEST_F(Raport, GoodsListGrowsByTenAndIsWrittenInOrder) {
  CKomunikat komunikat("W", "Towary pominięte"_cp);
  EXPECT_EQ(komunikat.GetPojemnosc(), 0);
  const struct {
    int count;
    int capacity;
  } steps[] = {{1, 10}, {10, 10}, {11, 20}, {20, 20}, {21, 30}, {25, 30}};
  std::uint32_t next = 1000;  // descending: the list keeps the order added
  for (const auto& s : steps) {
    while (komunikat.IleTowarow() < s.count) komunikat.DodajTowar(next--);
    EXPECT_EQ(komunikat.GetPojemnosc(), s.capacity) << s.count;
  }
  for (int i = 0; i < 25; ++i) EXPECT_EQ(komunikat.GetTowar(i), 1000u - i);
  EXPECT_EQ(komunikat.GetTowar(25), 0u);
  EXPECT_EQ(komunikat.GetTowar(-1), 0u);

  { CRaportXml raport; raport.DodajKomunikat(komunikat); }
  std::string lines;
  for (int i = 0; i < 25; ++i) lines += "\t\t<Towar>" + std::to_string(1000 - i) + "</Towar>\r\n";
  EXPECT_NE(finished().find("</Treść>\r\n"_cp + lines + "\t</Komunikat>\r\n"), std::string::npos);
}

TEST(Komunikat, CopiesOwnTheirGoods) {
  CKomunikat a("W", "a");
  for (std::uint32_t i = 0; i < 12; ++i) a.DodajTowar(i);
  CKomunikat b(a);
  CKomunikat c("E", "c");
  c.DodajTowar(99);
  c = a;
  a.DodajTowar(12);
  CKomunikat& self = a;
  a = self;
  EXPECT_EQ(a.IleTowarow(), 13);
  for (const CKomunikat* k : {&b, &c}) {
    EXPECT_EQ(k->IleTowarow(), 12);
    EXPECT_STREQ(k->GetTresc(), "a");
    EXPECT_EQ(k->GetTowar(11), 11u);
  }
}

TEST(Komunikat, TypeAndTextAreCut) {
  const std::string longText(1500, 'y');
  CKomunikat k("WWW", longText.c_str(), -3, true);
  EXPECT_STREQ(k.GetTyp(), "WW");
  EXPECT_EQ(std::string(k.GetTresc()), longText.substr(0, 1023));
  EXPECT_EQ(k.GetNumer(), -3);
  EXPECT_TRUE(k.GetUstawStatus());
  EXPECT_STREQ(CKomunikat("W", nullptr).GetTresc(), "");
}

// --- files that cannot be created or written ---------------------------------------------------

TEST_F(Raport, UncreatableFileSetsError1AndWritesNothing) {
  std::filesystem::create_directory(dir.file("RAPORT.XML"));
  {
    CRaportXml raport;
    EXPECT_EQ(GetErrorNum(), 1);
    EXPECT_STREQ(GetErrorMsg(), "Błąd tworzenia pliku RAPORT.XML"_cp);
    EXPECT_FALSE(raport.IsOpen());
    ErrorSetRaport(&raport);
    raport.DodajKomunikat("W", "x", 0, true);
    EXPECT_STREQ(raport.GetStatusTyp(), "E");  // the message had no effect at all
    SetError(5, "y");
    EXPECT_EQ(GetErrorNum(), 5);
  }
  EXPECT_TRUE(std::filesystem::is_directory(dir.file("RAPORT.XML")));
}

TEST_F(Raport, FullDeviceSetsError4AtTheDeclaration) {
  // Every write fails as on a full disk.
  quorvel::platform::FileFaults::Arm(quorvel::platform::FileOp::Write, 1, ENOSPC, "RAPORT.XML", true);
  CRaportXml raport;
  quorvel::platform::FileFaults::Clear();
  EXPECT_EQ(GetErrorNum(), 4);
  EXPECT_STREQ(GetErrorMsg(), "Błąd zapisu pliku RAPORT.XML"_cp);
  EXPECT_FALSE(raport.IsOpen());
  // Linked, further errors must not loop through the broken file.
  ErrorSetRaport(&raport);
  SetError(22, "abc.dll");
  EXPECT_EQ(GetErrorNum(), 22);
}

// Every file operation of a report failing in turn: error 1 or 4 with its text, the report
// counts as finished on the disk only when it says status E with the error, and a file that
// ends as a whole report is either the complete one or says so.
TEST_F(Raport, EveryFailingFileOperationIsReported) {
  const auto prepare = [] {
    ErrorSetRaport(nullptr);
    ClearError("");
    std::filesystem::remove("RAPORT.XML");
  };
  const auto work = [] {
    CRaportXml raport;
    ErrorSetRaport(&raport);
    raport.SetOperacja("OdbiórSprzedaży"_cp);
    raport.DodajKomunikat("W", "pierwszy", 0, true);
    raport.DodajKomunikat("I", "drugi", 7, false);
  };
  prepare();
  work();
  ASSERT_EQ(GetErrorNum(), 0);
  ASSERT_TRUE(RaportFinishedOnDisk());
  const std::string whole = finished();
  const unsigned runs = quorvel::test::forEachFileFault(prepare, work, [&](const quorvel::test::FileFault& f) {
    const bool open = f.op == quorvel::platform::FileOp::Open;
    EXPECT_EQ(GetErrorNum(), open ? 1 : 4);
    EXPECT_STREQ(GetErrorMsg(), open ? "Błąd tworzenia pliku RAPORT.XML"_cp : "Błąd zapisu pliku RAPORT.XML"_cp);
    const std::string bytes = quorvel::test::fileExists("RAPORT.XML") ? readFile("RAPORT.XML") : "";
    const bool complete = bytes.size() >= 9 && bytes.compare(bytes.size() - 9, 9, "</Raport>") == 0;
    if (RaportFinishedOnDisk()) {
      EXPECT_TRUE(complete && bytes != whole);
    }
    if (complete) {
      EXPECT_EQ(schemaErrors("RAPORT.XML", "Raport.xsd"), "");
      if (bytes != whole) {
        EXPECT_NE(bytes.find("<Typ>E</Typ>"), std::string::npos) << bytes;
        EXPECT_NE(bytes.find("Błąd zapisu pliku RAPORT.XML"_cp), std::string::npos) << bytes;
      }
    }
  });
  EXPECT_GE(runs, 5u);
}

// Caps the size of files this process writes, so that a write fails at an exact byte offset.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    previousHandler_ = ::signal(SIGXFSZ, SIG_IGN);
    ::getrlimit(RLIMIT_FSIZE, &previous_);
    rlimit limit = previous_;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &previous_);
    ::signal(SIGXFSZ, previousHandler_);
  }

 private:
  rlimit previous_{};
  sighandler_t previousHandler_;
};

TEST_F(Raport, WriteErrorsAnywhereSetError4AndStopTheFile) {
  const std::string message = "\t<Komunikat>\r\n\t\t<Typ>I</Typ>\r\n\t\t<Treść>pierwszy</Treść>\r\n\t</Komunikat>\r\n"_cp;
  const std::string head = kDecl + root("InicjalizacjaSterownika");
  const struct {
    const char* what;
    std::size_t limit;
  } cases[] = {
      {"root start tag", kDecl.size() + 5},
      {"first message", head.size() + 3},
      {"second message", head.size() + message.size()},
      {"closing tag", head.size() + 2 * message.size() + 40},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ClearError("");
    {
      FileSizeLimit cap(c.limit);
      auto raport = std::make_unique<CRaportXml>();
      ErrorSetRaport(raport.get());
      EXPECT_EQ(GetErrorNum(), 0);
      raport->DodajKomunikat("I", "pierwszy", 0, false);
      raport->DodajKomunikat("I", "drugi", 0, false);
      raport.reset();
      EXPECT_EQ(GetErrorNum(), 4);
      EXPECT_STREQ(GetErrorMsg(), "Błąd zapisu pliku RAPORT.XML"_cp);
    }
    const std::string bytes = readFile(dir.file("RAPORT.XML"));
    EXPECT_EQ(bytes.size(), c.limit);
    EXPECT_EQ(bytes.find("<Raport", kDecl.size() + 1), std::string::npos);  // root tag never repeated
  }
}

}  // namespace
