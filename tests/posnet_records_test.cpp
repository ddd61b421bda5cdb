// POSNET status texts and the mapping of the vendor libraries' result buffers into goods and
// sales records, table by table; also the serial parameter text and the barcode lists sent.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "core/records.h"
#include "drivers/posnet/goods.h"
#include "drivers/posnet/link.h"
#include "drivers/posnet/records.h"
#include "drivers/posnet/status.h"
#include "platform/cp1250.h"
#include "tests/support/test_support.h"

using namespace quorvel::posnet;
using quorvel::test::cp1250ToUtf8;

namespace {

template <std::size_t N>
void put(char (&buffer)[N], const char* text) {
  const std::size_t n = std::min(std::strlen(text), N);
  std::memcpy(buffer, text, n);
  if (n < N) buffer[n] = 0;
}

// A buffer filled to its end with no terminator.
template <std::size_t N>
void fill(char (&buffer)[N]) {
  std::memset(buffer, '7', N);
}

// The fields a mapping gave, those given only, in one line.
std::string describe(const CTowar& t) {
  std::string s = std::string("Ty=") + t.Ty;
  if (!t.KP_brak) s += " KP=" + std::to_string(t.KP);
  if (!t.IdUF_brak) s += " IdUF=" + t.IdUF;
  if (!t.Na_brak) s += " Na=" + cp1250ToUtf8(t.Na);
  if (!t.KK_brak) s += " KK=" + t.KK;
  if (!t.Ce_brak[0]) s += " Ce=" + t.Ce[0].GetString(-1);
  if (!t.KO_brak) s += " KO=" + t.KO;
  if (!t.JM_brak) s += " JM=" + std::to_string(t.JM);
  if (!t.Va_brak) s += " Va=" + std::to_string(t.Va);
  if (!t.CO_brak) s += std::string(" CO=") + (t.CO ? "1" : "0");
  if (!t.Gr_brak) s += " Gr=" + std::to_string(t.Gr);
  if (!t.DK_brak) {
    s += " DK=";
    for (const char c : t.DK) s += c == '\xFF' ? '|' : c;
  }
  if (!t.Ilość_brak) s += " Il=" + t.Ilość.GetString(-1);
  if (!t.Wartość_brak) s += " Wa=" + t.Wartość.GetString(-1);
  return s;
}

std::string outcome(const MapResult& m, const std::string& records) {
  switch (m.kind) {
    case Mapped::record: return records;
    case Mapped::skipped: return "skipped";
    case Mapped::bad: break;
  }
  return "bad: " + cp1250ToUtf8(m.problem);
}

}  // namespace

TEST(PosnetStatus, TextsByRange) {
  struct Case {
    std::uint32_t status;
    const char* message;  // UTF-8
  } cases[] = {
      // A register refusal and a library code, each with its suffix.
      {0x4303B0, "niedozwolona operacja na rekordzie z niezerową statystyką (DLL: 4303b0h)"},
      {0x10005, "Błędny numer polecenia. (DLL: 10005h)"},
      // Outside every range.
      {0, "Nieznany błąd (DLL: 0h)"},
      {0x450000, "Nieznany błąd (DLL: 450000h)"},
      {0xFFFFFFFF, "Nieznany błąd (DLL: ffffffffh)"},
      // Library codes: texts, a listed code without one, gaps, parameter numbers.
      {0x1, "Brak pamięci. (DLL: 1h)"},
      {0x4, "Nieznany błąd (DLL: 4h)"},
      {0x5, "Nie można otworzyc wskazanego urządzenia. (DLL: 5h)"},
      {0x12, "Błąd transmisji nr 18 (DLL: 12h)"},
      {0x13, "Nieznany błąd (DLL: 13h)"},
      {0x20, "Błąd sieciowy - połączenie odrzucone. (DLL: 20h)"},
      {0x28, "Nieznany błąd (DLL: 28h)"},
      {0x40, "Błąd transmisji nr 64 (DLL: 40h)"},
      {0x41, "Nieznany błąd (DLL: 41h)"},
      {0x10000, "Nieznany błąd (DLL: 10000h)"},
      {0x10002, "Oczekiwanie zakończone upłynięciem czasu (timeout). (DLL: 10002h)"},
      {0x1000A, "Błąd obsługi rozkazu nr 10 (DLL: 1000ah)"},
      {0x1000B, "Nieznany błąd (DLL: 1000bh)"},
      {0x10101, "Błędny 1 parametr polecenia. (DLL: 10101h)"},
      {0x10116, "Błędny 22 parametr polecenia. (DLL: 10116h)"},
      {0x10117, "Nieznany błąd (DLL: 10117h)"},
      {0x42FFFF, "Nieznany błąd (DLL: 42ffffh)"},
      // Register errors in both bases; a shared text; listed without a text; unlisted.
      {0x430387, "rekord nie istnieje (DLL: 430387h)"},
      {0x440387, "rekord nie istnieje (DLL: 440387h)"},
      {0x4303CF, "Nie ma więcej rekordów wg kontekstu (DLL: 4303cfh)"},
      {0x430032, "Błąd wykonywania operacji przez kasę. (DLL: 430032h)"},
      {0x430038, "Błąd wykonywania operacji przez kasę. (DLL: 430038h)"},
      {0x430039, "Nieznany błąd (DLL: 430039h)"},
      {0x430391, "Błąd kasy nr 913 (DLL: 430391h)"},
      {0x4303B3, "Błąd kasy nr 947 (DLL: 4303b3h)"},
      {0x4303B4, "Nieznany błąd (DLL: 4303b4h)"},
      {0x431A0A, "zbyt długi łańcuch (DLL: 431a0ah)"},
      {0x431A0C, "Błąd kasy nr 6668 (DLL: 431a0ch)"},
      {0x430000, "Nieznany błąd (DLL: 430000h)"},
      {0x44FFFF, "Nieznany błąd (DLL: 44ffffh)"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(cp1250ToUtf8(statusMessage(c.status)), c.message) << std::hex << c.status;
}

TEST(PosnetStatus, ListedSetsHaveTheirSizes) {
  int library = 0, registerNumbers = 0;
  for (std::uint32_t s = 1; s <= 0x42FFFF; ++s) library += statusListed(s);
  for (std::uint32_t n = 0; n <= 0xFFFF; ++n) registerNumbers += statusListed(0x430000 + n);
  EXPECT_EQ(library, 74);
  EXPECT_EQ(registerNumbers, 256);
  for (std::uint32_t n = 0; n <= 0xFFFF; ++n) ASSERT_EQ(statusText(0x430000 + n), statusText(0x440000 + n)) << n;
}

TEST(PosnetParameters, SerialParameterAndBarcodeLists) {
  SUConfig c{};
  std::strcpy(c.port, "COM2");
  c.speed = 19200;
  c.dataBits = 8;
  c.parity = 'E';
  c.stopBits = 1;
  EXPECT_EQ(serialParameter(c), "COM2,19200,8,E,1,N");
  std::memset(c.port, 'x', sizeof c.port);  // no terminator: the field's own size ends it
  EXPECT_EQ(serialParameter(c).size(), std::string(",19200,8,E,1,N").size() + sizeof c.port);

  struct Case {
    const char* kk;
    std::string dk;
    std::vector<std::string> further;
    const char* list;
  } cases[] = {
      {"590", "", {}, "590"},
      {"590", "111\xFF" "222\xFF", {"111", "222"}, "590\n111\n222"},
      {"", "111\xFF", {"111"}, "\n111"},
      {"590", "111\xFF\xFF" "333\xFF", {"111"}, "590\n111"},  // up to the first empty one
      {"590", "111\xFF" "222", {"111"}, "590\n111"},           // an unterminated rest is no barcode
  };
  for (const Case& k : cases) {
    EXPECT_EQ(furtherBarcodes(k.dk), k.further) << k.list;
    EXPECT_EQ(barcodeList(k.kk, furtherBarcodes(k.dk)), k.list);
  }
}

TEST(PosnetRecords, ScaledNumbers) {
  struct Case {
    const char* text;
    int decimals;
    std::optional<std::int64_t> raw;
  } cases[] = {
      {"1250", 2, 125000},        {"450", 2, 45000},          {"1500", 3, 15000},
      {"-300", 2, -30000},        {"0", 2, 0},                {"-0", 3, 0},
      {"", 2, std::nullopt},      {"-", 2, std::nullopt},     {"12.5", 2, std::nullopt},
      {" 12", 2, std::nullopt},   {"+12", 2, std::nullopt},   {"1x", 2, std::nullopt},
      {"92233720368547758", 2, 9223372036854775800},   {"92233720368547759", 2, std::nullopt},
      {"-92233720368547758", 2, -9223372036854775800}, {"99999999999999999999999", 2, std::nullopt},
      {"922337203685477580", 3, 9223372036854775800},  {"-922337203685477580", 3, -9223372036854775800},
  };
  for (const Case& c : cases) EXPECT_EQ(scaledNumber(c.text, c.decimals), c.raw) << c.text;
}

TEST(PosnetRecords, GoodsAndPackagingsFromBuffers) {
  const auto goods = [](const std::function<void(PluResult&)>& set) {
    PluResult r;
    r.plu = 12;
    put(r.name, "Mleko \xB3\xB9kowe");  // windows-1250 "łą"
    put(r.barcode, "5901234123457");
    put(r.price, "1250");
    put(r.price2, "0");
    r.vat = 2;
    r.group = 5;
    r.fixedPrice = 1;
    set(r);
    CTowar t;
    const MapResult m = mapPlu(r, t);
    return outcome(m, describe(t));
  };
  const auto packaging = [](const std::function<void(PackResult&)>& set) {
    PackResult r;
    r.plu = 3;
    put(r.name, "Butelka");
    put(r.price, "50");
    set(r);
    CTowar t;
    const MapResult m = mapPack(r, t);
    return outcome(m, describe(t));
  };
  struct Case {
    std::string got;
    const char* expected;
  } cases[] = {
      {goods([](PluResult&) {}), "Ty=T KP=12 Na=Mleko łąkowe KK=5901234123457 Ce=12.5 Va=2 CO=0 Gr=5 DK="},
      {goods([](PluResult& r) { put(r.barcodes, "111\n222"); }), "Ty=T KP=12 Na=Mleko łąkowe KK=5901234123457 Ce=12.5 Va=2 CO=0 Gr=5 DK=111|222|"},
      {goods([](PluResult& r) { put(r.barcodes, "\n111\n\n222\n"); }), "Ty=T KP=12 Na=Mleko łąkowe KK=5901234123457 Ce=12.5 Va=2 CO=0 Gr=5 DK=111|222|"},
      {goods([](PluResult& r) {
         r.barcode[0] = 0;
         r.linkedPack = 3;
         r.unit = 2;
         r.fixedPrice = 0;
       }),
       "Ty=T KP=12 Na=Mleko łąkowe Ce=12.5 KO=3 JM=2 Va=2 CO=1 Gr=5 DK="},
      {goods([](PluResult& r) { r.inactive = 1; }), "skipped"},
      {goods([](PluResult& r) { r.plu = 0; }), "bad: towar: numer PLU 0 poza zakresem"},
      {goods([](PluResult& r) { fill(r.name); }), "bad: towar PLU 12: nazwa nie mieści się w buforze 41 bajtów (brak znaku końca)"},
      {goods([](PluResult& r) { fill(r.barcode); }), "bad: towar PLU 12: kod kreskowy nie mieści się w buforze 21 bajtów (brak znaku końca)"},
      {goods([](PluResult& r) { fill(r.barcodes); }),
       "bad: towar PLU 12: lista dodatkowych kodów kreskowych nie mieści się w buforze 4096 bajtów (brak znaku końca)"},
      {goods([](PluResult& r) { put(r.price, "12,50"); }), "bad: towar PLU 12: cena \"12,50\" nie jest liczbą"},
      {goods([](PluResult& r) { put(r.price, "1\x01"); }), "bad: towar PLU 12: cena \"1?\" nie jest liczbą"},
      {goods([](PluResult& r) { put(r.price, ""); }), "bad: towar PLU 12: cena \"\" nie jest liczbą"},
      {goods([](PluResult& r) { put(r.barcodes, "111\xFF"); }), "bad: towar PLU 12: lista dodatkowych kodów kreskowych zawiera bajt 0xFF"},
      {goods([](PluResult& r) { fill(r.price2); }), "Ty=T KP=12 Na=Mleko łąkowe KK=5901234123457 Ce=12.5 Va=2 CO=0 Gr=5 DK="},
      {packaging([](PackResult&) {}), "Ty=O KP=3 Na=Butelka Ce=0.5 CO=1"},
      {packaging([](PackResult& r) {
         put(r.barcode, "200");
         r.fixedPrice = 1;
       }),
       "Ty=O KP=3 Na=Butelka KK=200 Ce=0.5 CO=0"},
      {packaging([](PackResult& r) { r.plu = 0; }), "bad: opakowanie: numer PLU 0 poza zakresem"},
      {packaging([](PackResult& r) { fill(r.price); }), "bad: opakowanie PLU 3: cena nie mieści się w buforze 24 bajtów (brak znaku końca)"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.expected);
}

TEST(PosnetRecords, SalesFromBuffers) {
  const auto goods = [](const char* value, const char* quantity, std::uint16_t plu = 7) {
    PluStatResult r;
    r.plu = plu;
    put(r.value, value);
    put(r.quantity, quantity);
    fill(r.aux);  // not used, not read
    CTowar t;
    const MapResult m = mapPluStat(r, t);
    return outcome(m, describe(t));
  };
  const auto packaging = [](const char* soldQ, const char* retQ, const char* soldV, const char* retV) {
    PackStatResult r;
    r.plu = 4;
    put(r.soldQuantity, soldQ);
    put(r.returnedQuantity, retQ);
    put(r.soldValue, soldV);
    put(r.returnedValue, retV);
    CTowar sold, returned;
    const MapResult m = mapPackStat(r, sold, returned);
    return outcome(m, describe(sold) + " / " + describe(returned));
  };
  struct Case {
    std::string got;
    const char* expected;
  } cases[] = {
      {goods("450", "1500"), "Ty=T IdUF=7 Il=1.5 Wa=4.5"},
      {goods("0", "0"), "Ty=T IdUF=7 Il=0 Wa=0"},
      {goods("-120", "-1000"), "Ty=T IdUF=7 Il=-1 Wa=-1.2"},
      {goods("450", "1500", 0), "bad: sprzedaż towaru: numer PLU 0 poza zakresem"},
      {goods("4.50", "1500"), "bad: sprzedaż towaru PLU 7: wartość \"4.50\" nie jest liczbą"},
      {goods("450", "x"), "bad: sprzedaż towaru PLU 7: ilość \"x\" nie jest liczbą"},
      {packaging("5000", "2000", "250", "100"), "Ty=O IdUF=4 Il=5 Wa=2.5 / Ty=O IdUF=4 Il=-2 Wa=-1"},
      {packaging("5000", "0", "250", "0"), "Ty=O IdUF=4 Il=5 Wa=2.5 / Ty=O IdUF=4 Il=0 Wa=0"},
      {packaging("5000", "-", "250", "0"), "bad: obrót opakowania PLU 4: ilość zwrócona \"-\" nie jest liczbą"},
      {packaging("1", "1", "1", "-92233720368547758"), "Ty=O IdUF=4 Il=0.001 Wa=0.01 / Ty=O IdUF=4 Il=-0.001 Wa=922337203685477.58"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.expected);
}
