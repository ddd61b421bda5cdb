// Elcom wire codec: frames, records and number encodings against known byte vectors, every
// truncated prefix and single changed bytes.
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

// The first PLU frame of a job: KP 1, KK 123, Na Chleb, JM 1, no CO, no KO, Va 1, price 2.50.
const Bytes kChlebFrame = [] {
  Bytes f = hex({0xFE, 0x02, 0x20, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x23,
                 0x43, 0x68, 0x6C, 0x65, 0x62});
  f.insert(f.end(), 9, 0x00);
  const Bytes tail = hex({0x18, 0x00, 0x1F, 0xFA, 0x00, 0x00, 0x00, 0x34, 0x03});
  f.insert(f.end(), tail.begin(), tail.end());
  return f;
}();

}  // namespace

TEST(ElcomFrames, FixedAndCommandFramesMatchTheWire) {
  struct Case {
    const char* what;
    Bytes built;
    Bytes wire;
  } cases[] = {
      {"hello to register 1", helloFrame(1), hex({0xFE, 0x00, 0x01, 0x00, 0x01, 0x01, 0x00})},
      {"command 157, 0, 2000, model 1", commandFrame(10, 157, 0, 2000),
       hex({0xFE, 0x01, 0x06, 0x00, 0x0A, 0x9D, 0x00, 0x00, 0xD0, 0x07, 0x7E, 0x01})},
      {"acknowledgement", ackFrame(), hex({0xFE, 0x03, 0x01, 0x00, 0x00, 0x00, 0x00})},
      {"end", endFrame(), hex({0xFE, 0x04, 0x01, 0x00, 0x00, 0x00, 0x00})},
      {"status 18", statusFrame(18), hex({0xFE, 0x03, 0x01, 0x00, 0x12, 0x12, 0x00})},
  };
  for (const auto& c : cases) EXPECT_EQ(c.built, c.wire) << c.what;
}

TEST(ElcomFrames, ChecksumWrapsAt16Bits) {
  const Bytes payload(300, 0xFF);  // 76500 = 0x12AD4
  EXPECT_EQ(checksum(payload), 0x2AD4);
  const Bytes f = buildFrame(kData, payload);
  EXPECT_EQ(f[2], 0x2C);
  EXPECT_EQ(f[3], 0x01);
  EXPECT_EQ(f[f.size() - 2], 0xD4);
  EXPECT_EQ(f[f.size() - 1], 0x2A);
}

TEST(ElcomFrames, SentPluRecordMatchesTheWire) {
  PluDefinition plu;
  plu.barcode = "123";
  plu.name = "Chleb";
  plu.unit = unitByte(1);
  plu.group = groupByte(false, std::nullopt, false);
  plu.tax = taxByte(1, true, false);
  plu.price = priceToWire(25000);
  EXPECT_EQ(buildFrame(kData, encodeSentPlu(0, 1, plu, false)), kChlebFrame);
}

TEST(ElcomFrames, ReaderTakesAFrameInAnyPieces) {
  Bytes stream = kChlebFrame;
  const Bytes next = helloFrame(7);
  stream.insert(stream.end(), next.begin(), next.end());
  for (std::size_t piece = 1; piece <= 7; ++piece) {
    FrameReader r(kCapTransfer, kData);
    std::size_t at = 0;
    while (r.state() == FrameReader::State::kNeedMore && at < stream.size()) {
      const std::size_t n = std::min(piece, stream.size() - at);
      at += r.feed(ByteView(stream).subspan(at, n));
    }
    ASSERT_EQ(r.state(), FrameReader::State::kDone) << "piece " << piece;
    EXPECT_EQ(at, kChlebFrame.size()) << "the reader must stop at the frame's end";
    EXPECT_EQ(r.payload().size(), 32u);
    EXPECT_EQ(r.stored().size(), 36u);
    EXPECT_TRUE(r.checksumMatches());
  }
}

TEST(ElcomFrames, EveryTruncatedPrefixIsIncomplete) {
  for (std::size_t n = 0; n < kChlebFrame.size(); ++n) {
    FrameReader r(kCapTransfer, kData);
    r.feed(ByteView(kChlebFrame).first(n));
    EXPECT_EQ(r.state(), FrameReader::State::kNeedMore) << n;
    EXPECT_GT(r.wanted(), 0u);
    if (n >= kHeaderSize) {
      EXPECT_EQ(r.wanted(), kChlebFrame.size() - n) << n;
    } else {
      EXPECT_EQ(r.wanted(), kHeaderSize + kChecksumSize - n) << "a lower bound until the length is known";
    }
    Frame f;
    EXPECT_EQ(parseFrame(ByteView(kChlebFrame).first(n), kCapTransfer, kData, f), kBadData) << n;
  }
}

TEST(ElcomFrames, SingleChangedBytes) {
  // Start byte and type are judged, the length moves the end, a changed sum is still accepted.
  for (std::size_t i = 0; i < kChlebFrame.size(); ++i) {
    Bytes f = kChlebFrame;
    f[i] ^= 0x01;
    Frame out;
    const int err = parseFrame(f, kCapTransfer, kData, out);
    if (i == 0 || i == 1) {
      EXPECT_EQ(err, kBadData) << i;
    } else if (i == 2) {  // length 33: the frame now needs one more byte than there is
      EXPECT_EQ(err, kBadData) << i;
    } else if (i == 3) {  // length 0x120 = 288: longer than the input
      EXPECT_EQ(err, kBadData) << i;
    } else {
      ASSERT_EQ(err, 0) << i;
      EXPECT_EQ(out.size, kChlebFrame.size());
      EXPECT_EQ(out.payload.size(), 32u);
      if (i >= 4 + 32) {
        EXPECT_NE(out.receivedChecksum, checksum(out.payload)) << "a wrong sum is kept, not judged";
      }
    }
  }
}

TEST(ElcomFrames, AnyTypeAndWrongStartOrType) {
  Frame out;
  EXPECT_EQ(parseFrame(kChlebFrame, kCapTransfer, std::nullopt, out), 0);
  EXPECT_EQ(out.type, kData);
  EXPECT_EQ(parseFrame(kChlebFrame, kCapTransfer, kEnd, out), kBadData);
  for (int start : {0x00, 0xFF, 0x7E, 0xFD}) {
    Bytes f = endFrame();
    f[0] = static_cast<std::uint8_t>(start);
    EXPECT_EQ(parseFrame(f, kCapEnd, std::nullopt, out), kBadData) << start;
  }
}

TEST(ElcomFrames, FramesLongerThanTheirBufferAreRefusedBeforeTheirPayload) {
  struct Case {
    std::size_t capacity;
    std::size_t payload;
    bool fits;
  } cases[] = {
      {kCapEnd, 3, true},       {kCapEnd, 4, false},         {kCapDataStatus, 5, true},
      {kCapDataStatus, 6, false}, {kCapInfo, 96, true},        {kCapInfo, 97, false},
      {kCapTransfer, 3996, true}, {kCapTransfer, 3997, false}, {kCapTransfer, 65535, false},
  };
  for (const auto& c : cases) {
    const Bytes f = buildFrame(kData, Bytes(c.payload, 0x11));
    FrameReader r(c.capacity);
    const std::size_t used = r.feed(f);
    if (c.fits) {
      EXPECT_EQ(r.state(), FrameReader::State::kDone) << c.capacity << "/" << c.payload;
    } else {
      EXPECT_EQ(r.error(), kBadData) << c.capacity << "/" << c.payload;
      EXPECT_EQ(used, kHeaderSize) << "nothing of the payload is taken";
      EXPECT_LE(r.stored().size(), c.capacity);
    }
  }
}

TEST(ElcomFrames, AnswerPayloads) {
  std::uint16_t count = 0;
  EXPECT_EQ(parsePluCount(hex({0xD0, 0x07}), count), 0);
  EXPECT_EQ(count, 2000);
  EXPECT_EQ(parsePluCount(hex({0xD0}), count), kBadData);

  Bytes info(40, 0);
  info[38] = 0x78;
  info[39] = 0x69;  // 27000
  int base = 0;
  EXPECT_EQ(parseRegisterInfo(info, base), 0);
  EXPECT_EQ(base, 27000);
  info[38] = 0xFF;
  info[39] = 0xFF;
  EXPECT_EQ(parseRegisterInfo(info, base), 0);
  EXPECT_EQ(base, -1) << "the base size is signed";
  for (std::size_t n = 0; n < 40; ++n)
    EXPECT_EQ(parseRegisterInfo(ByteView(info).first(n), base), kBadData) << n;

  std::uint8_t status = 9;
  EXPECT_EQ(parseStatus({}, status), kBadData);
  EXPECT_EQ(parseStatus(hex({0x12, 0x00}), status), 0);
  EXPECT_EQ(status, 18);

  CommandFields cmd;
  Frame f;
  ASSERT_EQ(parseFrame(commandFrame(23, 255, 0x1234, 0xABCD), kCapStatus, kCommand, f), 0);
  ASSERT_EQ(parseCommand(f.payload, cmd), 0);
  EXPECT_EQ(cmd.modelCode, 23);
  EXPECT_EQ(cmd.command, 255);
  EXPECT_EQ(cmd.arg1, 0x1234);
  EXPECT_EQ(cmd.arg2, 0xABCD);
  EXPECT_EQ(parseCommand(ByteView(f.payload).first(5), cmd), kBadData);
}

TEST(ElcomModels, TableAndUnknownNames) {
  struct Case {
    const char* name;
    int number, code, capacity;
    bool longRecords, lineBreak;
    int check;
  } cases[] = {
      {"Quorvel_Elcom_Euro500T2", 1, 10, 2000, false, false, 129},
      {"Quorvel_Elcom_Euro500T10", 2, 11, 10000, false, false, 129},
      {"Quorvel_Elcom_Euro500TX2", 3, 13, 2000, false, false, 129},
      {"Quorvel_Elcom_Euro500TX10", 4, 14, 10000, false, false, 129},
      {"Quorvel_Elcom_EuroSmart", 5, 18, 2000, false, false, 129},
      {"Quorvel_Elcom_Euro2100TX8", 6, 23, 8000, true, true, 255},
      {"Quorvel_Elcom_Euro2100TX27", 7, 23, 27000, true, true, 255},
      {"quorvel_elcom_euro500t2", 0, 0, 0, false, false, 129},
      {"", 0, 0, 0, false, false, 129},
      {"Quorvel_Elcom_Euro500T2 ", 0, 0, 0, false, false, 129},
  };
  for (const auto& c : cases) {
    const Model& m = modelByJobName(c.name);
    EXPECT_EQ(m.number, c.number) << c.name;
    EXPECT_EQ(m.code, c.code) << c.name;
    EXPECT_EQ(m.pluCapacity, c.capacity) << c.name;
    EXPECT_EQ(m.longRecords, c.longRecords) << c.name;
    EXPECT_EQ(m.lineBreak, c.lineBreak) << c.name;
    EXPECT_EQ(m.checkCommand, c.check) << c.name;
    EXPECT_EQ(&modelByNumber(c.number), &m);
  }
}

TEST(ElcomStatus, TextsWithSignedNumbers) {
  EXPECT_EQ(statusMessage(18), std::string("Zdublowana nazwa towaru (błąd nr 18)"_cp));
  EXPECT_EQ(statusMessage(22), std::string("Nieznany błąd (błąd nr 22)"_cp));
  EXPECT_EQ(statusMessage(0xFF), std::string("Nieznany błąd (błąd nr -1)"_cp));
  EXPECT_EQ(statusMessage(0x80), std::string("Nieznany błąd (błąd nr -128)"_cp));
  EXPECT_EQ(statusMessage(3), std::string("Otwarty paragon uniemożliwia połączenie z kasą (błąd nr 3)"_cp));
  EXPECT_STREQ(statusText(17), "Link out");
  EXPECT_STREQ(statusText(19), "Nie można zrealizować polecenia, należy wykonać raport dobowy"_cp);
  EXPECT_STREQ(statusText(26), "Nieprawidłowy kod kreskowy"_cp);
  EXPECT_STREQ(statusText(20), "Nieznany błąd"_cp);
}
