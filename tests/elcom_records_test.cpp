// Elcom records: number encodings, packed barcodes, names in the register's code page, the
// attribute bytes, and each record layout in both variants (round trip, truncation, sizes).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "drivers/elcom/protocol.h"
#include "drivers/elcom/records.h"
#include "platform/cp1250.h"

using namespace quorvel::elcom;

namespace {
Bytes hex(std::initializer_list<int> v) {
  Bytes b;
  for (int x : v) b.push_back(static_cast<std::uint8_t>(x));
  return b;
}
}  // namespace

TEST(ElcomNumbers, PricesValuesQuantities) {
  EXPECT_EQ(priceToWire(123456), 1234u) << "12.3456 drops the fraction below one hundredth";
  EXPECT_EQ(priceToWire(25000), 250u);
  EXPECT_EQ(priceToWire(0), 0u);
  // Only prices that the 32-bit field of hundredths holds can be sent; others would wrap.
  struct Fit {
    std::int64_t amount;
    bool fits;
  } fits[] = {{0, true}, {99, true}, {-99, true}, {-100, false}, {-50000, false},
              {429496729599, true}, {429496729600, false}, {std::numeric_limits<std::int64_t>::max(), false},
              {std::numeric_limits<std::int64_t>::min(), false}};
  for (const auto& f : fits) EXPECT_EQ(priceFitsWire(f.amount), f.fits) << f.amount;
  EXPECT_EQ(priceToWire(429496729599), 0xFFFFFFFFu);
  EXPECT_EQ(quantityFromWire(1500), 15000) << "1500 thousandths is 1.5";
  EXPECT_EQ(quantityFromWire(1), 10);
  EXPECT_EQ(quantityToWire(15000), 1500u);
  EXPECT_EQ(valueFromWire(250.0), 25000) << "250 hundredths is 2.5";
  EXPECT_EQ(valueFromWire(250.99), 25000) << "truncated";
  EXPECT_EQ(valueFromWire(-500.0), -50000);
  EXPECT_EQ(valueToWire(-50000), -500.0);
  // Register bytes that are no sensible number never overflow.
  EXPECT_EQ(valueFromWire(std::nan("")), 0);
  EXPECT_GT(valueFromWire(std::numeric_limits<double>::infinity()), 0);
  EXPECT_LT(valueFromWire(-1e300), 0);
}

TEST(ElcomBarcodes, PackAndUnpack) {
  struct Case {
    const char* text;
    std::size_t size;
    Bytes packed;
    const char* unpacked;
  } cases[] = {
      {"5901234123457", 7, hex({0x05, 0x90, 0x12, 0x34, 0x12, 0x34, 0x57}), "5901234123457"},
      {"123", 7, hex({0, 0, 0, 0, 0, 0x01, 0x23}), "123"},
      {"", 7, hex({0, 0, 0, 0, 0, 0, 0}), ""},
      {"", 9, Bytes(9, 0), ""},
      {"123456789012345678", 9, hex({0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x34, 0x56, 0x78}), "123456789012345678"},
      {"99123456789012345678", 9, hex({0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x34, 0x56, 0x78}),
       "123456789012345678"},  // only the last 18 digits
      {"0042", 7, hex({0, 0, 0, 0, 0, 0, 0x42}), "42"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(packBarcode(c.text, c.size), c.packed) << c.text;
    EXPECT_EQ(unpackBarcode(c.packed), c.unpacked) << c.text;
  }
  EXPECT_EQ(unpackBarcode(hex({0, 0, 0, 0, 0, 0x01, 0x23})), "123");
  EXPECT_EQ(unpackBarcode(hex({0xAB})), ":;") << "nibbles above 9 pass as '0' + nibble";
}

TEST(ElcomNames, CodePageAndPadding) {
  const std::string polish = "ąćęłńóśźżĄĆĘŁŃÓŚŹŻ"_cp;
  const Bytes dev = nameToDevice(polish, 20);
  EXPECT_EQ(dev, hex({0x7C, 0x7E, 0x80, 0x82, 0x84, 0x86, 0x88, 0x8A, 0x8C, 0x7B, 0x7D, 0x7F, 0x81, 0x83, 0x85,
                      0x87, 0x89, 0x8B, 0, 0}));
  EXPECT_EQ(nameFromDevice(dev), polish);
  EXPECT_EQ(nameToDevice("Chleb razowy duzy XL", 14), nameToDevice("Chleb razowy d", 14));
  EXPECT_EQ(nameFromDevice(hex({'A', 0, 'b', ' ', '\t', 0, ' ', 0})), "Ab");
  EXPECT_EQ(nameFromDevice(hex({' ', 'x'})), " x") << "leading blanks stay";
  EXPECT_EQ(deletedName(12), std::string("12usunięty"_cp));
  EXPECT_EQ(deletedName(70000), std::string("70000usunięty"_cp));
}

TEST(ElcomAttributes, UnitGroupTax) {
  EXPECT_EQ(unitByte(3), 0x58);
  EXPECT_EQ(unitByte(0), 0xF8);
  EXPECT_EQ(unitByte(9), 0x18);
  EXPECT_EQ(unitByte(std::nullopt), 0x18);
  EXPECT_EQ(unitFromByte(0x58), 3);
  EXPECT_EQ(groupByte(true, std::string("5"), false), 0x85);
  EXPECT_EQ(taxByte(2, true, false), 0x2F);
  EXPECT_EQ(groupByte(true, std::string("5"), true), 0);
  EXPECT_EQ(taxByte(2, true, true), 0);
  EXPECT_EQ(taxByte(std::nullopt, false, false), 0x0E);
  EXPECT_EQ(groupByte(false, std::string("130"), false), 0x02) << "low 7 bits of 130";
  EXPECT_EQ(groupFromByte(0x85), std::optional<std::string>("5"));
  EXPECT_EQ(groupFromByte(0x80), std::nullopt);
  EXPECT_TRUE(openPriceFromByte(0x85));
  EXPECT_EQ(taxFromByte(0x2F), 2);
}

TEST(ElcomRecords, RoundTripsInBothVariants) {
  for (bool longRecords : {false, true}) {
    PluDefinition plu{"5901234123457", "Żółw ąę"_cp, unitByte(2), 0x85, 0x2F, 199};
    std::uint16_t seq = 0, code = 0;
    PluDefinition back;
    const Bytes sent = encodeSentPlu(65535, 4464, plu, longRecords);
    ASSERT_EQ(sent.size(), sentPluSize(longRecords));
    ASSERT_EQ(decodeSentPlu(sent, longRecords, seq, code, back), 0);
    EXPECT_EQ(seq, 65535);
    EXPECT_EQ(code, 4464);
    EXPECT_EQ(back.barcode, plu.barcode);
    EXPECT_EQ(back.name, plu.name);
    EXPECT_EQ(back.price, 199u);
    EXPECT_EQ(back.tax, 0x2F);

    const Bytes def = encodePluDefinition(plu, longRecords);
    ASSERT_EQ(def.size(), pluDefinitionSize(longRecords));
    ASSERT_EQ(decodePluDefinition(def, longRecords, back), 0);
    EXPECT_EQ(back.unit, plu.unit);
    EXPECT_EQ(back.group, 0x85);
    EXPECT_TRUE(back.programmed());

    CounterRecord rec{7, "", "Skrzynka", 1250, -500.0, 2000};
    CounterRecord got;
    const Bytes pkg = encodePackage(rec, longRecords);
    ASSERT_EQ(pkg.size(), packageSize(longRecords));
    ASSERT_EQ(decodePackage(pkg, longRecords, got), 0);
    EXPECT_EQ(got.name, "Skrzynka");
    EXPECT_EQ(got.price, 1250u);
    EXPECT_EQ(got.value, -500.0);
    EXPECT_EQ(got.quantity, 2000u);

    const Bytes sales = encodePluSales(rec, longRecords);
    ASSERT_EQ(sales.size(), pluSalesSize(longRecords));
    ASSERT_EQ(decodePluSales(sales, longRecords, got), 0);
    EXPECT_EQ(got.index, 7);
    EXPECT_EQ(got.quantity, 2000u);

    // Every shorter or longer record is refused, never read past.
    for (std::size_t n = 0; n + 1 < sales.size(); ++n) {
      EXPECT_EQ(decodeSentPlu(ByteView(sales).first(n), longRecords, seq, code, back) == 0,
                n == sentPluSize(longRecords));
      EXPECT_EQ(decodePluDefinition(ByteView(sales).first(n), longRecords, back) == 0,
                n == pluDefinitionSize(longRecords));
      EXPECT_EQ(decodePackage(ByteView(sales).first(n), longRecords, got) == 0, n == packageSize(longRecords));
      EXPECT_EQ(decodePluSales(ByteView(sales).first(n), longRecords, got), kBadData);
    }
  }
  EXPECT_EQ(sentPluSize(false), 32u);
  EXPECT_EQ(sentPluSize(true), 40u);
  EXPECT_EQ(pluDefinitionSize(false), 32u);
  EXPECT_EQ(pluDefinitionSize(true), 40u);
  EXPECT_EQ(packageSize(false), 44u);
  EXPECT_EQ(packageSize(true), 52u);
  EXPECT_EQ(pluSalesSize(false), 46u);
  EXPECT_EQ(pluSalesSize(true), 54u);
}

TEST(ElcomRecords, ProgrammedFlag) {
  struct Case {
    std::uint8_t group, tax;
    bool programmed;
  } cases[] = {{0, 0, false}, {0, 0x0E, false}, {0, 0x1F, true}, {0x80, 0x10, true}, {0x7F, 0xFE, false}};
  for (const auto& c : cases) {
    PluDefinition p;
    p.group = c.group;
    p.tax = c.tax;
    EXPECT_EQ(p.programmed(), c.programmed) << int(c.group) << "/" << int(c.tax);
  }
}

TEST(ElcomRecords, PackagePricesAndClearing) {
  PackagePrices prices{};
  prices[0] = 50;
  prices[49] = 0x01020304;
  const Bytes p = encodePackagePrices(prices);
  ASSERT_EQ(p.size(), 200u);
  EXPECT_EQ(p[0], 50);
  EXPECT_EQ(p[196], 0x04);
  EXPECT_EQ(p[199], 0x01);
  PackagePrices back{};
  ASSERT_EQ(decodePackagePrices(p, back), 0);
  EXPECT_EQ(back, prices);
  EXPECT_EQ(decodePackagePrices(ByteView(p).first(199), back), kBadData);
  EXPECT_EQ(salesClearingPayload(), hex({1}));
}

TEST(ElcomRecords, DataFramesMustHoldWholeRecords) {
  std::vector<ByteView> recs;
  const Bytes payload(2 + 3 * 46, 0);
  EXPECT_EQ(splitRecords(payload, 2, 46, recs), 0);
  EXPECT_EQ(recs.size(), 3u);
  for (std::size_t n = 0; n < payload.size(); ++n) {
    const int err = splitRecords(ByteView(payload).first(n), 2, 46, recs);
    EXPECT_EQ(err == 0, n >= 2 && (n - 2) % 46 == 0) << n;
  }
  EXPECT_EQ(splitRecords(Bytes(44 * 2, 0), 0, 44, recs), 0);
  EXPECT_EQ(recs.size(), 2u);
  EXPECT_EQ(splitRecords(Bytes(), 0, 44, recs), 0);
  EXPECT_TRUE(recs.empty());
}
