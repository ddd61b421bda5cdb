// The process-wide error state: the table of texts, how texts are composed and cut, and the
// messages and status each call leaves in RAPORT.XML.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "core/error_state.h"
#include "core/records.h"
#include "core/xml/raport_xml.h"
#include "platform/cp1250.h"
#include "tests/support/test_support.h"

using quorvel::test::readFile;
using quorvel::test::schemaErrors;
using quorvel::test::ScratchDir;

namespace {

TEST(ErrorTable, TextsOfEveryNumber) {
  const struct {
    int number;
    const char* text;
  } table[] = {
      {1, "Błąd tworzenia pliku"_cp},
      {2, "Brak pliku konfiguracji"_cp},
      {3, "Nieprawidłowy plik konfiguracji"_cp},
      {4, "Błąd zapisu pliku"_cp},
      {5, "Błąd odczytu pliku"_cp},
      {6, "Brak pliku"_cp},
      {7, "Brak pamięci operacyjnej"_cp},
      {8, "Nieznana operacja"_cp},
      {9, "Nieprawidłowa liczba całkowita"_cp},
      {10, "Liczba całkowita poniżej dopuszczalnego zakresu"_cp},
      {11, "Liczba całkowita powyżej dopuszczalnego zakresu"_cp},
      {12, "Nieprawidłowa liczba rzeczywista"_cp},
      {13, "Liczba rzeczywista poniżej dopuszczalnego zakresu"_cp},
      {14, "Liczba rzeczywista powyżej dopuszczalnego zakresu"_cp},
      {15, "Nieprawidłowy typ towaru"_cp},
      {16, "Nieprawidłowy typ dokumentu"_cp},
      {17, "Nieprawidłowy typ rabatu"_cp},
      {18, "Nieprawidłowa wartość logiczna"_cp},
      {19, "Nieprawidłowa data"_cp},
      {20, "Użytkownik przerwał wykonywanie operacji"_cp},
      {21, "Nieznany model urządzenia"_cp},
      {22, "Nie znaleziono biblioteki DLL"_cp},
      {1000, "Błąd otwarcia portu szeregowego"_cp},
      {1001, "Błąd dostępu do portu szeregowego"_cp},
      {1002, "Brak portu szeregowego"_cp},
      {1003, "Błąd odczytu portu szeregowego"_cp},
      {1004, "Przekroczony czas oczekiwania przy odczycie portu szeregowego"_cp},
      {1005, "Błąd zapisu portu szeregowego"_cp},
      {1006, "Przekroczony czas oczekiwania przy zapisie portu szeregowego"_cp},
      {1007, "Odebrano nieprawidłowe dane z urządzenia"_cp},
      {1008, "Urządzenie nie przyjmuje danych"_cp},
      {1009, "Błędna suma kontrolna danych odebranych z urządzenia"_cp},
      {1010, "Wystąpił błąd urządzenia"_cp},
      {1011, "Nieprawidłowy typ multipleksera"_cp},
      {1012, "Nieprawidłowy kanał multipleksera"_cp},
      {1013, "Błąd inicjalizacji multipleksera"_cp},
      {1014, "Przekroczony czas oczekiwania na gotowość urządzenia"_cp},
      {0, "Nieznany błąd"_cp},
      {-1, "Nieznany błąd"_cp},
      {23, "Nieznany błąd"_cp},
      {999, "Nieznany błąd"_cp},
      {1015, "Nieznany błąd"_cp},
      {INT_MIN, "Nieznany błąd"_cp},
      {INT_MAX, "Nieznany błąd"_cp},
  };
  for (const auto& row : table) EXPECT_STREQ(err2msg(row.number), row.text) << row.number;
}

class ErrorState : public ::testing::Test {
 protected:
  void SetUp() override {
    ErrorSetRaport(nullptr);
    ClearError("");
  }
  void TearDown() override { ErrorSetRaport(nullptr); }

  // Runs body with a report linked to the error state; returns the finished, valid file.
  template <typename Body>
  std::string withReport(Body body) {
    {
      CRaportXml raport;
      ErrorSetRaport(&raport);
      body(raport);
    }
    const std::string bytes = readFile(dir.file("RAPORT.XML"));
    EXPECT_EQ(schemaErrors(dir.file("RAPORT.XML"), "Raport.xsd"), "") << quorvel::test::cp1250ToUtf8(bytes);
    return bytes;
  }

  ScratchDir dir;
};

TEST_F(ErrorState, ComposesTableTextAndDetail) {
  const std::string k2000(2000, 'k');
  const struct {
    int number;
    const char* detail;
    std::string text;
  } cases[] = {
      {22, "abc.dll", "Nie znaleziono biblioteki DLL abc.dll"_cp},
      {23, "x", "Nieznany błąd x"_cp},
      {1015, "COM1", "Nieznany błąd COM1"_cp},
      {4, "", "Błąd zapisu pliku"_cp},
      {4, nullptr, "Błąd zapisu pliku"_cp},
      {9, k2000.c_str(), "Nieprawidłowa liczba całkowita "_cp + k2000.substr(0, 1023 - 31)},
  };
  for (const auto& c : cases) {
    for (auto set : {&SetError, &SetWarning, &SetInfo}) {
      EXPECT_EQ(set(c.number, c.detail), c.number);
      EXPECT_EQ(GetErrorNum(), c.number);
      EXPECT_EQ(std::string(GetErrorMsg()), c.text) << c.number;
    }
  }
  EXPECT_EQ(std::string(GetErrorMsg()).size(), 1023u);
}

// A place source set: messages composed with a number end with as many whole parts of the place
// as fit in 1023 characters, the table text and the detail kept first and whole; other ways of
// setting the state neither show nor ask for it.
TEST_F(ErrorState, PlaceFollowsTheComposedTextAndGivesWayToIt) {
  static int asked = 0;
  asked = 0;
  const ErrorWhere source{[](void*) {
                            ++asked;
                            return std::string("A, BB, CCC");
                          },
                          nullptr};
  const std::string head = "Nieznany błąd "_cp;
  const struct {
    std::size_t length;  // of the composed text without its place
    std::string place;
  } cases[] = {
      {20, " (A, BB, CCC)"}, {1010, " (A, BB, CCC)"}, {1011, " (A, BB)"}, {1019, " (A)"}, {1020, ""}, {1023, ""},
  };
  EXPECT_EQ(ErrorSetWhere(source).fn, nullptr);
  for (const auto& c : cases) {
    const std::string detail(c.length - head.size(), 'd');
    for (auto set : {&SetError, &SetWarning, &SetInfo}) {
      EXPECT_EQ(set(23, detail.c_str()), 23);
      EXPECT_EQ(std::string(GetErrorMsg()), head + detail + c.place) << c.length;
    }
  }
  const int composed = asked;
  EXPECT_EQ(composed, 18);
  SetError("tekst");
  SetErrorNum(5);
  ClearError("x");
  EXPECT_EQ(asked, composed);
  EXPECT_STREQ(GetErrorMsg(), "x");
  EXPECT_EQ(ErrorSetWhere(ErrorWhere{}).fn, source.fn);
  SetError(9, "1a");
  EXPECT_STREQ(GetErrorMsg(), "Nieprawidłowa liczba całkowita 1a"_cp);
}

TEST_F(ErrorState, TextOnlyErrorHasNumberMinusOne) {
  EXPECT_EQ(SetError("Drukarka zajęta"_cp), -1);
  EXPECT_EQ(GetErrorNum(), -1);
  EXPECT_STREQ(GetErrorMsg(), "Drukarka zajęta"_cp);
  const std::string long2000(2000, 'q');
  SetError(long2000.c_str());
  EXPECT_EQ(std::string(GetErrorMsg()), long2000.substr(0, 1023));
  SetError(static_cast<const char*>(nullptr));
  EXPECT_STREQ(GetErrorMsg(), "");
}

TEST_F(ErrorState, SetErrorNumKeepsTheText) {
  SetError(1003, "COM2");
  EXPECT_EQ(SetErrorNum(0x45), 0x45);
  EXPECT_EQ(GetErrorNum(), 0x45);
  EXPECT_STREQ(GetErrorMsg(), "Błąd odczytu portu szeregowego COM2"_cp);
}

// Plug-ins pass the current text on as a detail; the text must survive being its own source.
TEST_F(ErrorState, CurrentTextAsDetailOrText) {
  SetError(1007);
  SetWarning(1008, GetErrorMsg());
  EXPECT_STREQ(GetErrorMsg(), "Urządzenie nie przyjmuje danych Odebrano nieprawidłowe dane z urządzenia"_cp);
  SetError(GetErrorMsg());
  EXPECT_STREQ(GetErrorMsg(), "Urządzenie nie przyjmuje danych Odebrano nieprawidłowe dane z urządzenia"_cp);
  ClearError(GetErrorMsg() + 11);
  EXPECT_STREQ(GetErrorMsg(), "nie przyjmuje danych Odebrano nieprawidłowe dane z urządzenia"_cp);
}

TEST_F(ErrorState, ErrorBecomesMessageWithoutNumberAndStatus) {
  const std::string bytes = withReport([](CRaportXml& raport) {
    raport.SetOperacja("SprawdzeniePołączenia"_cp);
    SetError(22, "abc.dll");
    EXPECT_STREQ(raport.GetStatusTyp(), "E");
    EXPECT_STREQ(raport.GetStatusTresc(), "Nie znaleziono biblioteki DLL abc.dll");
  });
  EXPECT_EQ(bytes, std::string("<?xml version=\"1.0\" encoding=\"windows-1250\" ?>\r\n"
                               "<Raport operacja=\"SprawdzeniePołączenia\" xmlns=\"http://schemas.quorvel.org/UF/Raport.xsd\">\r\n"
                               "\t<Komunikat>\r\n"
                               "\t\t<Typ>E</Typ>\r\n"
                               "\t\t<Treść>Nie znaleziono biblioteki DLL abc.dll</Treść>\r\n"
                               "\t</Komunikat>\r\n"
                               "\t<Status>\r\n"
                               "\t\t<Typ>E</Typ>\r\n"
                               "\t\t<Treść>Nie znaleziono biblioteki DLL abc.dll</Treść>\r\n"
                               "\t</Status>\r\n"
                               "</Raport>"_cp));
}

TEST_F(ErrorState, StatusFollowsTheLatestMessage) {
  const struct {
    const char* what;
    void (*calls)();
    const char* statusTyp;
    const char* statusTresc;
    int messages;
  } cases[] = {
      {"warning after error", [] { SetError(5, "A"); SetWarning(6, "B"); }, "W", "Brak pliku B", 2},
      {"notice after warning", [] { SetWarning(6); SetInfo(20); }, "I", "Użytkownik przerwał wykonywanie operacji"_cp, 2},
      {"text-only error", [] { SetInfo(6); SetError("zły"_cp); }, "E", "zły"_cp, 2},
      {"clear with text", [] { SetError(5); ClearError("Gotowe"); }, "OK", "", 2},
      {"clear without text", [] { SetError(5); ClearError(""); }, "OK", "", 1},
      {"clear with null", [] { SetError(5); ClearError(nullptr); }, "OK", "", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string bytes = withReport([&](CRaportXml& raport) {
      c.calls();
      EXPECT_STREQ(raport.GetStatusTyp(), c.statusTyp);
      EXPECT_STREQ(raport.GetStatusTresc(), c.statusTresc);
    });
    int messages = 0;
    for (std::size_t at = bytes.find("<Komunikat>"); at != std::string::npos; at = bytes.find("<Komunikat>", at + 1)) ++messages;
    EXPECT_EQ(messages, c.messages);
    const std::string status = bytes.substr(bytes.find("\t<Status>"));
    EXPECT_NE(status.find(std::string("<Typ>") + c.statusTyp + "</Typ>"), std::string::npos) << status;
    EXPECT_EQ(status.find("<Treść>"_cp) == std::string::npos, std::string(c.statusTresc).empty()) << status;
  }
}

TEST_F(ErrorState, ClearErrorNoticeCarriesTheText) {
  const std::string bytes = withReport([](CRaportXml&) {
    SetError(5);
    ClearError("Połączenie sprawdzone"_cp);
    EXPECT_EQ(GetErrorNum(), 0);
  });
  EXPECT_NE(bytes.find("\t\t<Typ>I</Typ>\r\n\t\t<Treść>Połączenie sprawdzone</Treść>\r\n"_cp), std::string::npos);
  EXPECT_NE(bytes.find("\t<Status>\r\n\t\t<Typ>OK</Typ>\r\n\t</Status>\r\n</Raport>"), std::string::npos);
}

TEST_F(ErrorState, OperationNameReachesTheRootTag) {
  const std::string bytes = withReport([](CRaportXml& raport) {
    ErrorSetRaportOperacja("ZmianaCenTowarów"_cp);
    EXPECT_STREQ(raport.GetOperacja(), "ZmianaCenTowarów"_cp);
  });
  EXPECT_NE(bytes.find("<Raport operacja=\"ZmianaCenTowarów\""_cp), std::string::npos);
  ErrorSetRaportOperacja("bez raportu");  // unlinked: nothing happens
}

// A skipped goods record is named in a warning; the state and the status stay as they were.
TEST_F(ErrorState, SkippedPluWarningNamesTheGoods) {
  const std::string bytes = withReport([](CRaportXml& raport) {
    SetError(1010, "x");
    CTowar towar;
    towar.Ty = 'T';
    towar.Id = 4711;
    Warning_pluPozaZakresem(towar);
    towar.Ty = 'O';
    towar.Id = 4294967295u;
    Warning_pluPozaZakresem(towar);
    EXPECT_EQ(GetErrorNum(), 1010);
    EXPECT_STREQ(GetErrorMsg(), "Wystąpił błąd urządzenia x"_cp);
    EXPECT_STREQ(raport.GetStatusTyp(), "E");
  });
  EXPECT_NE(bytes.find("\t<Komunikat>\r\n"
                       "\t\t<Typ>W</Typ>\r\n"
                       "\t\t<Treść>Towar o kodzie PLU poza zakresem został pominięty.</Treść>\r\n"
                       "\t\t<Towar>4711</Towar>\r\n"
                       "\t</Komunikat>\r\n"
                       "\t<Komunikat>\r\n"
                       "\t\t<Typ>W</Typ>\r\n"
                       "\t\t<Treść>Opakowanie o kodzie PLU poza zakresem zostało pominięte.</Treść>\r\n"
                       "\t\t<Towar>4294967295</Towar>\r\n"
                       "\t</Komunikat>\r\n"
                       "\t<Status>\r\n"
                       "\t\t<Typ>E</Typ>\r\n"_cp),
            std::string::npos)
      << quorvel::test::cp1250ToUtf8(bytes);
  CTowar unlinked;
  Warning_pluPozaZakresem(unlinked);  // no report: nothing to do
}

TEST_F(ErrorState, UnlinkedStateOnlyChangesNumberAndText) {
  EXPECT_EQ(ErrorGetRaport(), nullptr);
  EXPECT_EQ(SetWarning(21, "XYZ"), 21);
  EXPECT_STREQ(GetErrorMsg(), "Nieznany model urządzenia XYZ"_cp);
  ClearError("koniec");
  EXPECT_EQ(GetErrorNum(), 0);
  EXPECT_STREQ(GetErrorMsg(), "koniec");
  EXPECT_FALSE(quorvel::test::fileExists(dir.file("RAPORT.XML")));
}

}  // namespace
