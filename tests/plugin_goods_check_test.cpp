// The checks of a job's goods against a model's limits: what each goods becomes or why it is
// skipped, line by line as a dry run shows it, and the plain form of the characters a
// register lacks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/globals.h"
#include "core/xml/vexa_xml.h"
#include "platform/cp1250.h"
#include "plugin/goods_check.h"

namespace {

using quorvel::plugin::GoodsPlan;
using quorvel::plugin::GoodsRules;
using quorvel::plugin::GoodsWork;

TEST(PlainText, KeepsPolishLettersAndAsciiAndSpellsOutTheRest) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"Zażółć gęślą jaźń ZAŻÓŁĆ", "Zażółć gęślą jaźń ZAŻÓŁĆ"},
      {"Piwo „Żywiec” 0,5l", "Piwo \"Żywiec\" 0,5l"},
      {"Ab€ – — … ™", "AbEUR - - ... TM"},
      {"Šš Žž Čč Ťť Ää Öö Üü ß é", "Ss Zz Cc Tt Aa Oo Uu ss e"},
      {"a\tb\nc", "a b c"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(quorvel::cp1250::toUtf8(quorvel::plugin::plainText(quorvel::cp1250::fromUtf8(c.in))), c.out) << c.in;
  }
  // A register whose code page spends some ASCII on its own letters.
  EXPECT_EQ(quorvel::plugin::plainText("a{b}|~[x]", "{}|~"), "a(b)/-[x]");
}

// One goods record of a job.
struct Goods {
  long id;  // -1: no Id
  char ty;
  long kp;
  const char* na;  // null: not given
  const char* kk;
  long jm, va;     // -1: not given
  const char* ko;
  long long price; // grosze * 100 (ten-thousandths); -1: not given
};

TEST(GoodsPlan, EveryCaseOfOneSendAsTheDryRunShowsIt) {
  const Goods job[] = {
      {1, 'T', 1, "Chleb", "5901234123457", 1, 1, nullptr, 25000},
      {2, 'T', 2, "Kiełbasa śląska 1", nullptr, 1, 1, nullptr, 100000},
      {3, 'T', 3, "Kiełbasa śląska 2", nullptr, 1, 1, nullptr, 100000},  // same name once cut
      {4, 'T', 4, "Piwo „Żywiec”", nullptr, 1, 1, nullptr, 39900},
      {5, 'T', 70000, "Za daleko", nullptr, 1, 1, nullptr, 100},
      {6, 'T', 1, "Ten sam PLU", nullptr, 1, 1, nullptr, 100},
      {7, 'T', 7, "Kod z literami", "ABCDEFGH", 1, 1, nullptr, 100},
      {8, 'T', 8, "Jednostka", nullptr, 77, 1, nullptr, 100},
      {9, 'T', 9, "Stawka", nullptr, 1, 9, nullptr, 100},
      {10, 'T', 10, nullptr, nullptr, 1, 1, nullptr, 100},
      {11, 'T', 11, "Grupa", nullptr, 1, 1, "200", 100},
      {12, 'T', 12, "Grosze", nullptr, 1, 1, "5", 12345},
      {13, 'O', 60, "Butelka", nullptr, -1, -1, nullptr, 5000},
      {-1, 'T', 14, "Bez Id", nullptr, 1, -1, nullptr, 100},
  };
  CVexaXml catalogue;
  for (const Goods& g : job) {
    CTowar t;
    if (g.id >= 0) t.UstawId(static_cast<std::uint32_t>(g.id));
    t.UstawTy(g.ty);
    t.UstawKP(static_cast<std::uint32_t>(g.kp));
    if (g.na) t.UstawNa(quorvel::cp1250::fromUtf8(g.na));
    if (g.kk) t.UstawKK(g.kk);
    if (g.jm >= 0) t.UstawJM(static_cast<std::int32_t>(g.jm));
    if (g.va >= 0) t.UstawVa(static_cast<std::int32_t>(g.va));
    if (g.ko) t.UstawKO(g.ko);
    if (g.price >= 0) t.UstawCe(0, CUfCurrency(CY{g.price}));
    catalogue.DodajTowar(t);
  }
  GoodsRules rules;
  QuorvelFieldLimits& l = rules.limits;
  l.nameLength = 14;
  l.pluMin = 1;
  l.pluMax = 65535;
  l.packageMin = 1;
  l.packageMax = 50;
  l.barcodeDigits = 14;
  l.unitMin = 1;
  l.unitMax = 8;
  l.vatMin = 1;
  l.vatMax = 7;
  l.groupField = "KO";
  l.groupMin = 0;
  l.groupMax = 127;
  l.priceMin = 0;
  l.priceMax = 4294967295LL;
  l.flags = QUORVEL_LIMIT_NAME_CUT | QUORVEL_LIMIT_NAME_REQUIRED | QUORVEL_LIMIT_VAT_REQUIRED;
  l.packageFields = QUORVEL_FIELD_CE;

  std::vector<std::string> lines;
  vexa = &catalogue;
  const GoodsPlan plan = GoodsPlan::check(rules, GoodsWork::Send,
                                          [&](const std::string& line) { lines.push_back(quorvel::cp1250::toUtf8(line)); });
  vexa = nullptr;
  const std::vector<std::string> expected = {
      "T Id 1, KP 1: Na \"Chleb\", KK 5901234123457, JM 1, Va 1, Ce 2.50",
      "T Id 2, KP 2: Na \"Kiełbasa śląsk\", JM 1, Va 1, Ce 10.00 (w zadaniu \"Kiełbasa śląska 1\")",
      "T Id 3, KP 3: pominięty - Nazwa skrócona do 14 znaków powtarza nazwę innego towaru zadania - pominięto",
      "T Id 4, KP 4: Na \"Piwo \"Żywiec\"\", JM 1, Va 1, Ce 3.99 (w zadaniu \"Piwo „Żywiec”\")",
      "T Id 5, KP 70000: pominięty - Kod PLU towaru spoza zakresu kasy 1-65535 - pominięto",
      "T Id 6, KP 1: pominięty - Kod PLU powtórzony w zadaniu - pominięto towar podany dalej",
      "T Id 7, KP 7: pominięty - Kod kreskowy (KK lub DK) nie z samych cyfr lub dłuższy niż 14 cyfr - pominięto",
      "T Id 8, KP 8: pominięty - Jednostka miary (JM) spoza zakresu kasy 1-8 - pominięto",
      "T Id 9, KP 9: pominięty - Stawka VAT (Va) spoza zakresu kasy 1-7 - pominięto",
      "T Id 10, KP 10: pominięty - Towar bez nazwy - pominięto",
      "T Id 11, KP 11: pominięty - Numer grupy towarowej (KO) spoza zakresu kasy 0-127 - pominięto",
      "T Id 12, KP 12: Na \"Grosze\", JM 1, Va 1, KO 5, Ce 1.23",
      "O Id 13, KP 60: pominięty - Kod PLU opakowania spoza zakresu kasy 1-50 - pominięto",
      "T Id -, KP 14: pominięty - Towar bez stawki VAT (Va) - pominięto",
  };
  EXPECT_EQ(lines, expected);
  EXPECT_EQ(plan.skippedCount(), 10u);
  EXPECT_EQ(plan.adaptedCount(), 3u);
  // The name with characters the register lacks is sent in its plain form.
  catalogue.TwIterReset(CVexaXml::sortNone, 'T');
  for (int i = 0; i < 3; ++i) catalogue.TwIterGetNext();
  EXPECT_EQ(quorvel::cp1250::toUtf8(catalogue.TwIterGetNext().Na), "Piwo \"Żywiec\"");
}

}  // namespace
