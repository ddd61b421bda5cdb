// PROG_KOM.CFG: record images, checksum, every read and save error with its report message,
// a longer file cut to the saved record, and the load sequence every plug-in runs.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#include "core/error_state.h"
#include "core/globals.h"
#include "core/xml/raport_xml.h"
#include "drivers/elcom/config.h"
#include "drivers/elzab/config.h"
#include "drivers/posnet/config.h"
#include "platform/cp1250.h"
#include "plugin/config_store.h"
#include "plugin/plugin_frame.h"
#include "tests/support/file_faults.h"
#include "tests/support/test_support.h"

using namespace quorvel;
using quorvel::test::readFile;
using quorvel::test::ScratchDir;
using quorvel::test::writeFile;

namespace {

constexpr const char* kCfg = "PROG_KOM.CFG";

std::string le32(std::uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
  return s;
}

std::uint32_t checksumOf(const std::string& bytes) {
  return plugin::configChecksum(
      std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

// A whole configuration file: checksum word over the given record bytes, then the bytes.
std::string cfgFile(const std::string& record) {
  return plugin::configFileBytes(
      std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(record.data()), record.size()));
}

template <class Image>
std::string bytesOf(const Image& image) {
  return std::string(reinterpret_cast<const char*>(image.data()), image.size());
}

// The report of a piece of work: RAPORT.XML in the scratch directory, linked to the error state.
class Report {
 public:
  Report() : raport_(new CRaportXml) {
    ErrorSetRaport(raport_);
    raport = raport_;
  }
  ~Report() { delete raport_; raport = nullptr; }
  // Finishes RAPORT.XML and gives its text (UTF-8 for readable assertions).
  std::string finish() {
    delete raport_;
    raport_ = nullptr;
    raport = nullptr;
    EXPECT_EQ(test::schemaErrors("RAPORT.XML", "Raport.xsd"), "");
    return test::cp1250ToUtf8(readFile("RAPORT.XML"));
  }

 private:
  CRaportXml* raport_;
};

class ConfigStore : public ::testing::Test {
 protected:
  void SetUp() override {
    SetErrorNum(0);
    elcom::setModelPluCapacity(2000);
  }
  ScratchDir dir;
};

elcom::SUConfig elcomDefaults() {
  elcom::SUConfig c;
  elcom::setDefaultConfig(c);
  return c;
}

}  // namespace

TEST(ConfigChecksum, BytesFoldAsSignedValuesShiftedByTheirRemainder) {
  struct Case {
    std::uint8_t byte;
    std::uint32_t contribution;
  } cases[] = {
      {0x41, 65u << 17},          // r = 17
      {0xFF, 0x80000000u},        // -1: r = -1, k = 31
      {0x00, 0},
      {0x18, 24},                 // r = 0
      {0xE8, 0xFFFFFFE8u},        // -24: r = 0, sign-extended
      {0x80, 0x80000000u},        // -128: r = -8, k = 24
      {0x17, 23u << 23},
  };
  for (const Case& c : cases) EXPECT_EQ(plugin::foldChecksum(0, c.byte), c.contribution) << int(c.byte);
  // XOR: the same byte twice cancels out.
  EXPECT_EQ(checksumOf("AA"), 0u);
  EXPECT_EQ(checksumOf("AB"), (65u << 17) ^ (66u << 18));
}

TEST_F(ConfigStore, ElcomDefaultsHaveTheirByteImage) {
  std::string want(280, '\0');
  std::memcpy(&want[0], "COM1", 4);
  want.replace(252, 4, le32(9600));
  want.replace(260, 4, le32(1));     // multiplexer type Elzab 4x
  want.replace(264, 4, le32(1));     // channel
  want.replace(268, 4, le32(2000));  // the model's PLU capacity
  want.replace(272, 4, le32(1));     // register number
  EXPECT_EQ(bytesOf(elcom::toImage(elcomDefaults())), want);
}

TEST_F(ConfigStore, ElzabAndPosnetDefaultsHaveTheirByteImages) {
  elzab::SUConfig z;
  elzab::setDefaultConfig(z);
  std::string wz(600, '\0');
  std::memcpy(&wz[0], "COM1", 4);
  wz.replace(252, 4, le32(9600));
  wz.replace(256, 4, le32(3));
  wz.replace(264, 4, le32(1));
  wz.replace(268, 4, le32(1));
  wz.replace(272, 4, le32(1));
  wz.replace(276, 4, le32(1));
  wz.replace(580, 4, le32(60));
  wz.replace(584, 4, le32(40));
  wz.replace(588, 4, le32(4));
  wz.replace(596, 4, le32(1));
  EXPECT_EQ(bytesOf(elzab::toImage(z)), wz);

  posnet::SUConfig p;
  posnet::setDefaultConfig(p);
  std::string wp(304, '\0');
  std::memcpy(&wp[0], "COM1", 4);
  wp.replace(252, 4, le32(9600));
  wp.replace(256, 4, le32(8));
  wp[260] = 'N';
  wp.replace(264, 4, le32(1));
  wp.replace(272, 4, le32(1));
  wp.replace(276, 4, le32(1));
  wp.replace(280, 4, le32(1));
  std::memcpy(&wp[284], "10.0.0.1", 8);
  EXPECT_EQ(bytesOf(posnet::toImage(p)), wp);
}

TEST(ConfigRecords, ImagesRoundTripEveryByteIncludingAlignment) {
  // Any byte image becomes a record and back unchanged: no field is lost or moved.
  elcom::Image e;
  elzab::Image z;
  posnet::Image p;
  for (std::size_t i = 0; i < e.size(); ++i) e[i] = static_cast<std::uint8_t>(i * 7 + 1);
  for (std::size_t i = 0; i < z.size(); ++i) z[i] = static_cast<std::uint8_t>(i * 13 + 5);
  for (std::size_t i = 0; i < p.size(); ++i) p[i] = static_cast<std::uint8_t>(i * 3 + 2);
  EXPECT_EQ(elcom::toImage(elcom::fromImage(e)), e);
  EXPECT_EQ(elzab::toImage(elzab::fromImage(z)), z);
  EXPECT_EQ(posnet::toImage(posnet::fromImage(p)), p);
  // Integers are little-endian at their offsets.
  e.fill(0);
  e[252] = 0x00;
  e[253] = 0x96;
  e[276] = 1;
  const elcom::SUConfig c = elcom::fromImage(e);
  EXPECT_EQ(c.speed, 38400);
  EXPECT_EQ(c.binDump, 1);
}

TEST(ConfigRecords, ElzabPasswordScramblesPerPosition) {
  char pw[50] = "ab";
  elzab::scramblePassword(pw, sizeof pw);
  EXPECT_EQ(pw[0], 'a');
  EXPECT_EQ(pw[1], static_cast<char>('b' ^ 14));
  elzab::scramblePassword(pw, sizeof pw);
  EXPECT_STREQ(pw, "ab");
}

TEST_F(ConfigStore, SavedRecordsReadBackIdenticallyForEveryPlugin) {
  // Each plug-in's record: file of 4 + N bytes, checksum over the image, read back equal.
  {
    elcom::SUConfig c = elcomDefaults();
    std::strcpy(c.port, "ttyUSB0");
    c.speed = 38400;
    c.muxOn = 1;
    c.muxType = 2;
    c.muxChannel = 15;
    c.registerNumber = 42;
    c.binDump = 1;
    c.align250[0] = 0x5A;  // whatever a file held there is kept
    ASSERT_EQ(elcom::saveConfig(c), 0);
    const std::string file = readFile(kCfg);
    ASSERT_EQ(file.size(), 284u);
    EXPECT_EQ(file.substr(4), bytesOf(elcom::toImage(c)));
    EXPECT_EQ(file.substr(0, 4), le32(checksumOf(file.substr(4))));
    elcom::SUConfig back{};
    ASSERT_EQ(elcom::readConfig(back, false), 0);
    EXPECT_EQ(elcom::toImage(back), elcom::toImage(c));
    std::filesystem::remove(kCfg);
  }
  {
    elzab::SUConfig c;
    elzab::setDefaultConfig(c);
    std::strcpy(c.phone, "0 22 555 01 02");
    c.modemOn = 1;
    c.connector = 5;
    ASSERT_EQ(elzab::saveConfig(c), 0);
    ASSERT_EQ(readFile(kCfg).size(), 604u);
    elzab::SUConfig back{};
    ASSERT_EQ(elzab::readConfig(back, false), 0);
    EXPECT_EQ(elzab::toImage(back), elzab::toImage(c));
    std::filesystem::remove(kCfg);
  }
  {
    posnet::SUConfig c;
    posnet::setDefaultConfig(c);
    c.parity = 'E';
    c.connectionType = posnet::kConnectionEthernet;
    std::strcpy(c.ipAddress, "192.168.100.200");
    ASSERT_EQ(posnet::saveConfig(c), 0);
    ASSERT_EQ(readFile(kCfg).size(), 308u);
    posnet::SUConfig back{};
    ASSERT_EQ(posnet::readConfig(back, false), 0);
    EXPECT_EQ(posnet::toImage(back), posnet::toImage(c));
  }
}

TEST_F(ConfigStore, MissingFileGivesDefaultsOnlyWhenAsked) {
  elcom::SUConfig c{};
  EXPECT_EQ(elcom::readConfig(c, true), 0);
  EXPECT_EQ(elcom::toImage(c), elcom::toImage(elcomDefaults()));
  EXPECT_FALSE(test::fileExists(kCfg));
  EXPECT_EQ(GetErrorNum(), 0);

  Report report;
  elcom::SUConfig d{};
  EXPECT_EQ(elcom::readConfig(d, false), 2);
  EXPECT_EQ(GetErrorNum(), 2);
  EXPECT_STREQ(GetErrorMsg(), "Brak pliku konfiguracji PROG_KOM.CFG");
  const std::string xml = report.finish();
  EXPECT_NE(xml.find("<Treść>Brak pliku konfiguracji PROG_KOM.CFG</Treść>"), std::string::npos) << xml;
}

// Files that are not a valid configuration: each read gives error 3 and its report message.
TEST_F(ConfigStore, InvalidFilesGiveError3WithTheirMessage) {
  const std::string good = cfgFile(bytesOf(elcom::toImage(elcomDefaults())));
  std::string altered = good;
  altered[0] ^= 0x01;
  std::string flipped = good;
  flipped[10] ^= 0x40;
  struct Case {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"empty file", ""},
      {"one zero byte", std::string(1, '\0')},
      {"one byte", "A"},
      {"three zero bytes", std::string(3, '\0')},
      {"checksum word altered", altered},
      {"record byte altered", flipped},
      {"cut after 100 record bytes", good.substr(0, 104)},
      {"one byte beyond the record", good + "X"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    writeFile(kCfg, c.bytes);
    SetErrorNum(0);
    Report report;
    elcom::SUConfig rec{};
    EXPECT_EQ(elcom::readConfig(rec, true), 3);
    EXPECT_STREQ(GetErrorMsg(), "Nieprawid\xB3owy plik konfiguracji PROG_KOM.CFG");
    const std::string xml = report.finish();
    EXPECT_NE(xml.find("<Treść>Nieprawidłowy plik konfiguracji PROG_KOM.CFG</Treść>"), std::string::npos) << xml;
  }
}

TEST_F(ConfigStore, EveryTruncatedFileReadsOnlyItsOwnBytes) {
  // Each prefix of a saved file: the bytes it holds reach the record, the rest of the record
  // keeps the caller's bytes, and the read succeeds exactly when the checksum word is whole
  // and matches what is there.
  elcom::SUConfig c = elcomDefaults();
  std::strcpy(c.port, "ttyUSB0");
  c.binDump = 1;
  const std::string file = cfgFile(bytesOf(elcom::toImage(c)));
  elcom::Image filler;
  filler.fill(0xEE);
  for (std::size_t len = 0; len <= file.size(); ++len) {
    SCOPED_TRACE(len);
    writeFile(kCfg, file.substr(0, len));
    SetErrorNum(0);
    elcom::SUConfig rec = elcom::fromImage(filler);
    const int err = elcom::readConfig(rec, false);
    const std::size_t got = len > 4 ? len - 4 : 0;
    const bool whole = len >= 4 && checksumOf(file.substr(4, got)) == checksumOf(file.substr(4));
    EXPECT_EQ(err, whole ? 0 : 3);
    const std::string image = bytesOf(elcom::toImage(rec));
    EXPECT_EQ(image.substr(0, got), file.substr(4, got));
    EXPECT_EQ(image.substr(got), std::string(280 - got, '\xEE'));
  }
}

TEST_F(ConfigStore, ChecksumMismatchStillOverwritesTheRecord) {
  elcom::SUConfig c = elcomDefaults();
  c.registerNumber = 77;
  std::string file = cfgFile(bytesOf(elcom::toImage(c)));
  file[1] ^= 0x10;
  writeFile(kCfg, file);
  elcom::SUConfig rec = elcomDefaults();
  EXPECT_EQ(elcom::readConfig(rec, false), 3);
  EXPECT_EQ(rec.registerNumber, 77);
}

TEST_F(ConfigStore, ShortFileWithMatchingChecksumFillsOnlyItsBytes) {
  // A record that ends early (checksum over what is there) is taken as far as it goes; the
  // rest of the record keeps what the caller had.
  elcom::SUConfig c = elcomDefaults();
  std::strcpy(c.port, "COM3");
  const std::string head = bytesOf(elcom::toImage(c)).substr(0, 256);
  writeFile(kCfg, cfgFile(head));
  elcom::SUConfig rec = elcomDefaults();
  rec.registerNumber = 9;
  EXPECT_EQ(elcom::readConfig(rec, false), 0);
  EXPECT_STREQ(rec.port, "COM3");
  EXPECT_EQ(rec.speed, 9600);
  EXPECT_EQ(rec.registerNumber, 9);
}

TEST_F(ConfigStore, ElzabFileReadByElcomTakesTheFirst280Bytes) {
  elzab::SUConfig z;
  elzab::setDefaultConfig(z);
  std::strcpy(z.port, "COM2");
  z.speed = 19200;
  ASSERT_EQ(elzab::saveConfig(z), 0);
  ASSERT_EQ(readFile(kCfg).size(), 604u);
  const std::string before = readFile(kCfg);

  // The checksum covers all 600 bytes and matches; only the first 280 are taken.
  elcom::SUConfig e{};
  EXPECT_EQ(elcom::readConfig(e, false), 0);
  EXPECT_EQ(bytesOf(elcom::toImage(e)), before.substr(4, 280));
  EXPECT_STREQ(e.port, "COM2");
  EXPECT_EQ(e.speed, 19200);

  // Saved by Elcom: the file is cut to Elcom's 284 bytes, so that the record just saved
  // reads back (a tail left standing would fall under the checksum and fail every read).
  e.registerNumber = 5;
  ASSERT_EQ(elcom::saveConfig(e), 0);
  const std::string after = readFile(kCfg);
  ASSERT_EQ(after.size(), 284u);
  EXPECT_EQ(after.substr(0, 4), le32(checksumOf(after.substr(4, 280))));
  elcom::SUConfig again{};
  EXPECT_EQ(elcom::readConfig(again, false), 0);
  EXPECT_EQ(again.registerNumber, 5);
}

TEST_F(ConfigStore, SaveThatCannotCreateTheFileGivesError1) {
  std::filesystem::create_directory(kCfg);
  Report report;
  EXPECT_EQ(elcom::saveConfig(elcomDefaults()), 1);
  EXPECT_STREQ(GetErrorMsg(), "B\xB3\xB9" "d tworzenia pliku PROG_KOM.CFG");
  const std::string xml = report.finish();
  EXPECT_NE(xml.find("<Treść>Błąd tworzenia pliku PROG_KOM.CFG</Treść>"), std::string::npos) << xml;
}

TEST_F(ConfigStore, SaveOntoAFullDeviceGivesError4) {
  // The bytes meet the device at the flush; that failure must not pass for a clean save.
  if (!test::fileExists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  std::filesystem::create_symlink("/dev/full", kCfg);
  Report report;
  EXPECT_EQ(elcom::saveConfig(elcomDefaults()), 4);
  EXPECT_STREQ(GetErrorMsg(), "B\xB3\xB9" "d zapisu pliku PROG_KOM.CFG");
  const std::string xml = report.finish();
  EXPECT_NE(xml.find("<Treść>Błąd zapisu pliku PROG_KOM.CFG</Treść>"), std::string::npos) << xml;
}

// Every file operation of a save (in place, and whole through a file aside), and of a read,
// failing in turn: the failure is reported with its number and text, never as success, and
// the file holds either the old record or the whole new one, never a mix of both.
TEST_F(ConfigStore, EveryFailingFileOperationIsReported) {
  elcom::SUConfig older = elcomDefaults();
  std::strcpy(older.port, "COM7");
  elcom::SUConfig newer = elcomDefaults();
  std::strcpy(newer.port, "COM2");
  const std::string oldFile = cfgFile(bytesOf(elcom::toImage(older)));
  const std::string newFile = cfgFile(bytesOf(elcom::toImage(newer)));
  const std::string create = "B\xB3\xB9" "d tworzenia pliku PROG_KOM.CFG";
  const std::string write = "B\xB3\xB9" "d zapisu pliku PROG_KOM.CFG";
  int result = 0;
  elcom::SUConfig read = elcomDefaults();
  const auto prepare = [&] {
    writeFile(kCfg, oldFile);
    SetErrorNum(0);
    ClearError("");
  };
  const struct {
    const char* what;
    std::function<void()> work;
    std::function<void(const test::FileFault&)> check;
  } cases[] = {
      {"save in place", [&] { result = elcom::saveConfig(newer); },
       [&](const test::FileFault& f) {
         const bool open = f.op == platform::FileOp::Open;
         EXPECT_EQ(result, open ? 1 : 4);
         EXPECT_EQ(GetErrorMsg(), open ? create : write);
         const std::string now = readFile(kCfg);
         EXPECT_TRUE(now == oldFile || now == newFile) << now.size();
       }},
      {"save whole", [&] { result = plugin::replaceConfigImage(elcom::toImage(newer)); },
       [&](const test::FileFault& f) {
         const bool open = f.op == platform::FileOp::Open;
         EXPECT_EQ(result, open ? 1 : 4);
         EXPECT_EQ(GetErrorMsg(), open ? create : write);
         EXPECT_EQ(readFile(kCfg), oldFile);
         std::size_t files = 0;
         for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(".")) ++files;
         EXPECT_EQ(files, 1u) << "a file aside is left";
       }},
      {"read", [&] { result = elcom::readConfig(read, false); },
       [&](const test::FileFault& f) {
         const bool open = f.op == platform::FileOp::Open;
         EXPECT_EQ(result, open ? 2 : 5);
         EXPECT_STREQ(GetErrorMsg(), open ? "Brak pliku konfiguracji PROG_KOM.CFG"
                                       : "B\xB3\xB9" "d odczytu pliku PROG_KOM.CFG");
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    prepare();
    c.work();
    ASSERT_EQ(result, 0);
    EXPECT_GE(test::forEachFileFault(prepare, c.work, c.check), 3u);
  }
}

TEST_F(ConfigStore, UnreadableOrNonRegularFilesGiveError5AtOnce) {
  // A FIFO that nobody writes would block the open for ever: the alarm turns a hang into a
  // failure.
  const struct {
    const char* what;
    std::function<void()> make;
  } cases[] = {
      {"a directory", [] { std::filesystem::create_directory(kCfg); }},
      {"a FIFO", [] { ASSERT_EQ(::mkfifo(kCfg, 0644), 0); }},
      {"a device", [] { std::filesystem::create_symlink("/dev/zero", kCfg); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(kCfg);
    c.make();
    Report report;
    elcom::SUConfig rec = elcomDefaults();
    ::alarm(20);
    const int err = elcom::readConfig(rec, true);
    ::alarm(0);
    EXPECT_EQ(err, 5);
    EXPECT_STREQ(GetErrorMsg(), "B\xB3\xB9" "d odczytu pliku PROG_KOM.CFG");
    EXPECT_EQ(elcom::toImage(rec), elcom::toImage(elcomDefaults()));
    const std::string xml = report.finish();
    EXPECT_NE(xml.find("<Treść>Błąd odczytu pliku PROG_KOM.CFG</Treść>"), std::string::npos) << xml;
  }
}

// ---------------------------------------------------------------------------------------------
// The load sequence of every plug-in.

TEST_F(ConfigStore, LoadSequenceReadsRefusesAndOpensAsTheOperationSays) {
  struct Case {
    const char* what;
    const char* file;  // "none", "good", "bad"
    const char* operation;
    int deviceResult;
    bool loads;
    bool deviceOpened;
    int error;
  } cases[] = {
      {"configuration without a file opens with defaults", "none", "Konfiguracja", 0, true, false, 0},
      {"other operation without a file is refused", "none", "PrzesyłanieTowarów", 0, false, false, 2},
      {"a corrupt file refuses even the configuration", "bad", "Konfiguracja", 0, false, false, 3},
      {"a corrupt file refuses other operations", "bad", "SprawdzeniePołączenia", 0, false, false, 3},
      {"a good file opens the device", "good", "SprawdzeniePołączenia", 0, true, true, 0},
      {"a device that does not open refuses the load", "good", "SprawdzeniePołączenia", 1002, false, true, 1002},
      {"operation names compare exactly", "none", "konfiguracja", 0, false, false, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(kCfg);
    SetErrorNum(0);
    elcom::SUConfig saved = elcomDefaults();
    saved.registerNumber = 12;
    if (std::string(c.file) != "none") {
      std::string bytes = cfgFile(bytesOf(elcom::toImage(saved)));
      if (std::string(c.file) == "bad") bytes[2] ^= 1;
      writeFile(kCfg, bytes);
    }
    elcom::SUConfig rec{};
    bool opened = false;
    const bool loads = plugin::loadSequence(rec, std::string(c.operation), [&] {
      opened = true;
      return c.deviceResult ? SetError(c.deviceResult, "COM1") : 0;
    });
    EXPECT_EQ(loads, c.loads);
    EXPECT_EQ(opened, c.deviceOpened);
    EXPECT_EQ(GetErrorNum(), c.error);
    if (loads) {
      EXPECT_EQ(rec.registerNumber, std::string(c.file) == "good" ? 12 : 1);
    }
  }
}

TEST_F(ConfigStore, FormThatCannotBeShownIsReportedAndSavesNothing) {
  setenv("QUORVEL_UI", "none", 1);
  struct NoFields : plugin::ConfigForm<elcom::SUConfig> {
    void store(elcom::SUConfig& c) const override { c.registerNumber = 99; }
  } form;
  form.title = "Konfiguracja kasy";
  Report report;
  elcom::SUConfig rec = elcomDefaults();
  EXPECT_EQ(plugin::runConfiguration(rec, form), 0);
  EXPECT_EQ(rec.registerNumber, 1);
  EXPECT_FALSE(test::fileExists(kCfg));
  const std::string xml = report.finish();
  EXPECT_NE(xml.find("<Typ>W</Typ>"), std::string::npos) << xml;
  EXPECT_NE(xml.find("formularza konfiguracji"), std::string::npos) << xml;
}
