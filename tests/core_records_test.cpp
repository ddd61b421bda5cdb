// Job records: defaults, not-given markers, and copies that carry values but never a place in
// a catalogue.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/records.h"
#include "core/xml/vexa_xml.h"

namespace {

// Every marker of a goods record, for checks that must not forget one.
std::vector<bool> markers(const CTowar& t) {
  std::vector<bool> m = {t.Id_brak, t.Ty_brak, t.Sy_brak, t.KP_brak, t.KK_brak, t.DK_brak,
                         t.KO_brak, t.Na_brak, t.CO_brak, t.Va_brak, t.Gr_brak, t.JM_brak,
                         t.Wa_brak, t.Op_brak, t.Uw_brak, t.OW_brak, t.DW_brak, t.SW_brak,
                         t.PK_brak, t.IdUF_brak, t.Ilość_brak, t.Wartość_brak};
  for (bool b : t.Ce_brak) m.push_back(b);
  for (bool b : t.Wł_brak) m.push_back(b);
  return m;
}

// A record with every field given and a non-default value.
CTowar filled() {
  CTowar t;
  t.Id = 4294967295u;
  t.Ty = 'O';
  t.Sy = "sy";
  t.KP = 999999;
  t.KK = "5901234123457";
  t.DK = "1\xFF" "2\xFF";
  t.KO = "7";
  t.Na = "Mas\xB3o";
  t.Ce[0] = CUfCurrency(1, 5000);
  t.Ce[1] = CUfCurrency(-2, 0);
  t.CO = true;
  t.Va = -3;
  t.Gr = 12;
  for (int i = 0; i < CTowar::kWlasne; ++i) t.Wł[i] = std::string(1, static_cast<char>('a' + i));
  t.JM = 2;
  t.Wa = true;
  t.Op = "op";
  t.Uw = "uw";
  t.OW = 77;
  t.DW = CDateTime(2024, 2, 29, 0, 0, 0);
  t.SW = "sw";
  t.PK = "pk";
  t.IdUF = "uf";
  t.Ilość = CUfCurrency(3, 0);
  t.Wartość = CUfCurrency(4, 2500);
  t.Id_brak = t.Ty_brak = t.Sy_brak = t.KP_brak = t.KK_brak = t.DK_brak = t.KO_brak = false;
  t.Na_brak = t.CO_brak = t.Va_brak = t.Gr_brak = t.JM_brak = t.Wa_brak = t.Op_brak = false;
  t.Uw_brak = t.OW_brak = t.DW_brak = t.SW_brak = t.PK_brak = t.IdUF_brak = false;
  t.Ilość_brak = t.Wartość_brak = false;
  t.Ce_brak[0] = t.Ce_brak[1] = false;
  for (bool& b : t.Wł_brak) b = false;
  return t;
}

void expectSameValue(const CTowar& a, const CTowar& b) {
  EXPECT_EQ(a.Id, b.Id);
  EXPECT_EQ(a.Ty, b.Ty);
  EXPECT_EQ(a.Sy, b.Sy);
  EXPECT_EQ(a.KP, b.KP);
  EXPECT_EQ(a.KK, b.KK);
  EXPECT_EQ(a.DK, b.DK);
  EXPECT_EQ(a.KO, b.KO);
  EXPECT_EQ(a.Na, b.Na);
  EXPECT_EQ(a.Ce[0], b.Ce[0]);
  EXPECT_EQ(a.Ce[1], b.Ce[1]);
  EXPECT_EQ(a.CO, b.CO);
  EXPECT_EQ(a.Va, b.Va);
  EXPECT_EQ(a.Gr, b.Gr);
  for (int i = 0; i < CTowar::kWlasne; ++i) EXPECT_EQ(a.Wł[i], b.Wł[i]);
  EXPECT_EQ(a.JM, b.JM);
  EXPECT_EQ(a.Wa, b.Wa);
  EXPECT_EQ(a.Op, b.Op);
  EXPECT_EQ(a.Uw, b.Uw);
  EXPECT_EQ(a.OW, b.OW);
  EXPECT_EQ(a.DW, b.DW);
  EXPECT_EQ(a.SW, b.SW);
  EXPECT_EQ(a.PK, b.PK);
  EXPECT_EQ(a.IdUF, b.IdUF);
  EXPECT_EQ(a.Ilość, b.Ilość);
  EXPECT_EQ(a.Wartość, b.Wartość);
  EXPECT_EQ(markers(a), markers(b));
}

TEST(Records, GoodsRecordStartsWithDefaultsAndEveryMarkerSet) {
  CTowar fresh;
  CTowar reset = filled();
  reset.zero();
  for (const CTowar* t : {&fresh, &reset}) {
    EXPECT_EQ(t->Id, 0u);
    EXPECT_EQ(t->Ty, 'T');
    EXPECT_EQ(t->KP, 0u);
    EXPECT_TRUE(t->Sy.empty() && t->KK.empty() && t->DK.empty() && t->KO.empty());
    EXPECT_TRUE(t->Na.empty() && t->Op.empty() && t->Uw.empty() && t->SW.empty());
    EXPECT_TRUE(t->PK.empty() && t->IdUF.empty());
    EXPECT_EQ(t->Ce[0], CUfCurrency());
    EXPECT_EQ(t->Ce[1], CUfCurrency());
    EXPECT_FALSE(t->CO);
    EXPECT_FALSE(t->Wa);
    EXPECT_EQ(t->Va, 0);
    EXPECT_EQ(t->Gr, 0);
    EXPECT_EQ(t->JM, 0);
    EXPECT_EQ(t->OW, 0u);
    for (const std::string& w : t->Wł) EXPECT_TRUE(w.empty());
    EXPECT_EQ(t->DW, CDateTime());
    EXPECT_EQ(t->Ilość, CUfCurrency());
    EXPECT_EQ(t->Wartość, CUfCurrency());
    EXPECT_EQ(markers(*t), std::vector<bool>(markers(*t).size(), true));
    EXPECT_EQ(markers(*t).size(), 32u);
  }
}

TEST(Records, CopiesCarryEveryFieldAndMarker) {
  const CTowar original = filled();
  CTowar copied(original);
  expectSameValue(copied, original);
  CTowar assigned;
  assigned = original;
  expectSameValue(assigned, original);

  CTowar partial;
  partial.Ce[1] = CUfCurrency(5, 0);
  partial.Ce_brak[1] = false;  // one price given, the other not
  CTowar partialCopy = partial;
  EXPECT_TRUE(partialCopy.Ce_brak[0]);
  EXPECT_FALSE(partialCopy.Ce_brak[1]);
}

// The catalogue keeps its goods packed: every field and marker must come back as it was given,
// whatever its size, and so must those of a copy of the catalogue.
TEST(Records, TheCatalogueGivesBackEveryFieldAndMarker) {
  std::vector<CTowar> cases = {filled(), CTowar()};
  CTowar odd = filled();
  odd.Na = std::string(200, '\xB3');         // a length of two bytes in the packed form
  odd.Uw = std::string(70000, 'u');           // three bytes, and larger than an arena block share
  odd.Wł[3].clear();                          // empty, yet marked as given
  odd.Wł_brak[5] = true;                      // given text, marker set
  odd.Ce[1].SetStatus(CUfCurrency::invalid);
  odd.Wartość.SetStatus(CUfCurrency::invalid);
  odd.DW.DosTime()->ti_hund = 42;
  odd.DW.SetNumber(7);
  odd.Ty_brak = odd.Na_brak = odd.Ilość_brak = true;
  cases.push_back(odd);

  CVexaXml v;
  for (const CTowar& t : cases) v.DodajTowar(t);
  const CVexaXml copy(v);
  for (const CVexaXml* source : {&std::as_const(v), &copy}) {
    CVexaXml w(*source);
    w.TwIterReset(CVexaXml::sortNone, ' ');
    for (const CTowar& expected : cases) {
      ASSERT_FALSE(w.TwIterEmpty());
      const CTowar& got = w.TwIterGetNext();
      expectSameValue(got, expected);
      for (int i = 0; i < CTowar::kCeny; ++i) EXPECT_EQ(got.Ce[i].GetStatus(), expected.Ce[i].GetStatus());
      EXPECT_EQ(got.Ilość.GetStatus(), expected.Ilość.GetStatus());
      EXPECT_EQ(got.Wartość.GetStatus(), expected.Wartość.GetStatus());
      EXPECT_EQ(got.DW.DosTime()->ti_hund, expected.DW.DosTime()->ti_hund);
      EXPECT_EQ(got.DW.GetNumber(), expected.DW.GetNumber());
    }
  }

  // Thousands of records, over more than one block of records and of texts.
  CVexaXml many;
  for (std::uint32_t i = 0; i < 10000; ++i) {
    CTowar t;
    t.Id = i;
    t.KK = std::to_string(i * 7);
    t.Na = std::string(i % 300, static_cast<char>('a' + i % 26));
    many.DodajTowar(t);
  }
  many.TwIterReset(CVexaXml::sortNone, ' ');
  for (std::uint32_t i = 0; i < 10000; ++i) {
    const CTowar& t = many.TwIterGetNext();
    ASSERT_EQ(t.Id, i);
    ASSERT_EQ(t.KK, std::to_string(i * 7));
    ASSERT_EQ(t.Na, std::string(i % 300, static_cast<char>('a' + i % 26)));
  }
}

TEST(Records, CopiesNeverCarryTheCataloguePlace) {
  CVexaXml v;
  v.DodajTowar(filled());
  v.DodajTowar(CTowar());
  v.TwIterReset();
  const CTowar& first = v.TwIterGetNext();
  const CTowar& second = v.TwIterGetNext();

  CTowar outside = first;
  EXPECT_EQ(v.TwIterGetReadWrite(outside), nullptr);

  // The catalogue keeps its own copy: the caller's record may change or go away.
  {
    CTowar temporary = filled();
    temporary.KP = 5;
    v.DodajTowar(temporary);
    temporary.Na = "changed";
  }
  v.TwIterReset(CVexaXml::sortKP, ' ');
  CTowar key;
  key.KP = 5;
  const CTowar* kept = v.SearchTowar(key);
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(kept->Na, "Mas\xB3o");
  v.TwIterReset(CVexaXml::sortNone, ' ');

  // Assigning a catalogue record over another keeps the target's own place.
  CTowar* target = v.TwIterGetReadWrite(second);
  ASSERT_NE(target, nullptr);
  *target = first;
  expectSameValue(*target, first);
  EXPECT_EQ(v.TwIterGetReadWrite(second), target);
  EXPECT_EQ(v.TwIterGetReadWrite(first), &first);
}

TEST(Records, PositionDocumentAndCustomerDefaults) {
  CTowarDF p;
  p.Id = 3;
  p.TR = 'P';
  p.Wł[7] = "x";
  p.WB0 = CUfCurrency(1, 0);
  p.zero();
  EXPECT_EQ(p.Id, 0u);
  EXPECT_EQ(p.Ty, 'T');
  EXPECT_EQ(p.TR, ' ');
  EXPECT_TRUE(p.Wł[7].empty());
  EXPECT_EQ(p.WB0, CUfCurrency());

  CDokument d;
  d.Ty = 'F';
  d.Nu = "FV/1";
  d.ZK = CUfCurrency(9, 0);
  d.DS = CDateTime(2020, 1, 1, 0, 0, 0);
  d.Ko.Na = "Firma";
  CDokument copy = d;
  EXPECT_EQ(copy.Ko.Na, "Firma");
  EXPECT_EQ(copy.ZK, CUfCurrency(9, 0));
  d.zero();
  EXPECT_EQ(d.Ty, ' ');
  EXPECT_TRUE(d.Nu.empty());
  EXPECT_EQ(d.ZK, CUfCurrency());
  EXPECT_EQ(d.DS, CDateTime());
  EXPECT_TRUE(d.Ko.Na.empty());
  EXPECT_EQ(copy.Ko.Na, "Firma");  // the copy is its own
}

TEST(Records, JobDocumentStartsEmpty) {
  CVexaXml v;
  EXPECT_TRUE(v.GetOperacja().empty());
  EXPECT_TRUE(v.GetIdModelu().empty());
  EXPECT_TRUE(v.GetIdTowaru().empty());
  EXPECT_TRUE(v.GetIdOpakowania().empty());
  EXPECT_TRUE(v.GetExePath().empty());
  EXPECT_EQ(v.GetDataOd(), CDateTime());
  EXPECT_EQ(v.GetDataDo(), CDateTime());
  EXPECT_FALSE(v.IsFiskalny());
  EXPECT_EQ(v.GetDokument().Ty, ' ');
  EXPECT_EQ(v.IleTow(), 0u);
  EXPECT_EQ(v.IleOpk(), 0u);
}

}  // namespace
