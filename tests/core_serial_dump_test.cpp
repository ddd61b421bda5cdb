// The transmission dump: file name, header, RC4 body under the fixed key (checked against an
// independent RC4), the three record kinds, restarts, failures, and the decoder over cut and
// damaged files.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "core/error_state.h"
#include "core/serial/dump.h"
#include "core/serial/rs232.h"
#include "platform/clock.h"
#include "platform/cp1250.h"
#include "platform/serial_backend.h"
#include "platform/ui.h"
#include "tests/support/test_support.h"

namespace {

// Plain RC4, written from its definition, to check the file independently of the writer.
std::string rc4Keystream(const std::string& key, std::size_t n) {
  unsigned char s[256];
  for (int i = 0; i < 256; ++i) s[i] = static_cast<unsigned char>(i);
  for (int i = 0, j = 0; i < 256; ++i) {
    j = (j + s[i] + static_cast<unsigned char>(key[static_cast<std::size_t>(i) % key.size()])) % 256;
    std::swap(s[i], s[j]);
  }
  std::string out;
  for (std::size_t k = 0, i = 0, j = 0; k < n; ++k) {
    i = (i + 1) % 256;
    j = (j + s[i]) % 256;
    std::swap(s[i], s[j]);
    out += static_cast<char>(s[(s[i] + s[j]) % 256]);
  }
  return out;
}

// The 36-character key text and its terminating zero.
const std::string kKey("5d2e9a40-3c71-4f8b-a6d0-1e7b94c2f385", 37);

std::string xorWith(const std::string& a, const std::string& b) {
  std::string out = a;
  for (std::size_t k = 0; k < out.size(); ++k) out[k] = static_cast<char>(out[k] ^ b[k]);
  return out;
}

std::vector<std::string> dumpFiles(const std::string& dir) {
  std::vector<std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    if (e.path().extension() == ".dmp") files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

class DumpOnScriptedLine : public ::testing::Test {
 protected:
  void SetUp() override {
    quorvel::platform::SetSerialBackend(&device);
    quorvel::ui::SetMessageBoxHook([](const std::string&, const std::string&, quorvel::ui::Icon) {});
    ClearError("");
  }
  void TearDown() override {
    quorvel::ui::SetMessageBoxHook(nullptr);
    quorvel::platform::SetSerialBackend(nullptr);
  }
  quorvel::test::ScratchDir dir;
  quorvel::platform::VirtualClockScope clock;
  quorvel::platform::ScriptedSerialBackend device;
};

}  // namespace

TEST(DumpCipher, IndependentRc4MatchesAPublishedVector) {
  // RC4 with the key "Key" enciphers "Plaintext" to BB F3 16 E8 D9 40 AF 0A D3.
  EXPECT_EQ(xorWith("Plaintext", rc4Keystream("Key", 9)), "\xBB\xF3\x16\xE8\xD9\x40\xAF\x0A\xD3");
}

TEST(DumpFileName, IsTheLocalTimeStampThenTheNameThenDmp) {
  const std::string operation = "PrzesyłanieTowarów"_cp;
  auto stamp = [] {
    const std::time_t now = std::time(nullptr);
    std::tm t{};
    localtime_r(&now, &t);
    char s[32];
    std::strftime(s, sizeof s, "%y%m%d%H%M%S_", &t);
    return std::string(s);
  };
  const std::string before = stamp();
  const std::string name = GetDumpFileName(operation);
  const std::string after = stamp();
  const std::string tail = operation + ".dmp";
  ASSERT_EQ(name.size(), 13 + tail.size());
  EXPECT_TRUE(name.substr(0, 13) == before || name.substr(0, 13) == after) << name;
  EXPECT_EQ(name.substr(13), tail);
}

TEST_F(DumpOnScriptedLine, RecordsAreEncipheredWithOneKeystreamFromTheFirstBodyByte) {
  CRS232 port;
  port.SetBinDump("PrzesyłanieTowarów"_cp);
  // Created at once, header only, under the UTF-8 form of the windows-1250 name.
  auto files = dumpFiles(dir.path());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_NE(files[0].find("PrzesyłanieTowarów.dmp"), std::string::npos) << files[0];
  EXPECT_EQ(quorvel::test::readFile(files[0]), "DMP\x01");

  ASSERT_EQ(port.Open(), 0);
  device.input = {0x06};
  char c;
  EXPECT_EQ(port.Write('\x41'), 0);
  EXPECT_EQ(port.Read(c), 0);
  std::string file = quorvel::test::readFile(files[0]);
  ASSERT_EQ(file.size(), 8u);
  EXPECT_EQ(file.substr(4), xorWith("\x02\x41\x01\x06", rc4Keystream(kKey, 4)));

  // A 12-byte frame from a buffer: marker, length 12 as 4 little-endian bytes, the frame.
  const std::string frame("\xFE\x01\x06\x00\x0A\x9D\x00\x00\xD0\x07\x7E\x01", 12);
  CBufor buffer(12);
  buffer.PutBytes(frame.data(), 12);
  EXPECT_EQ(port.Write(buffer), 0);
  file = quorvel::test::readFile(files[0]);
  ASSERT_EQ(file.size(), 8u + 17u);
  const std::string plain = std::string("\x02\x41\x01\x06", 4) + std::string("\x04\x0C\x00\x00\x00", 5) + frame;
  EXPECT_EQ(file.substr(4), xorWith(plain, rc4Keystream(kKey, plain.size())));
}

TEST_F(DumpOnScriptedLine, SwitchingTheDumpOnAgainStartsANewFileWithAFreshKeystream) {
  CRS232 port;
  port.SetBinDump("first");
  ASSERT_EQ(port.Open(), 0);
  EXPECT_EQ(port.Write('\x41'), 0);
  port.SetBinDump("second");
  EXPECT_EQ(port.Write('\x41'), 0);
  port.Close();
  const auto files = dumpFiles(dir.path());
  ASSERT_EQ(files.size(), 2u);
  const std::string expected = std::string("DMP\x01") + xorWith("\x02\x41", rc4Keystream(kKey, 2));
  for (const auto& f : files) EXPECT_EQ(quorvel::test::readFile(f), expected) << f;
}

TEST(DumpWriter, AnUncreatableFileOnlyStopsTheRecording) {
  quorvel::test::ScratchDir dir;
  CDumpSComm writer;
  writer.SetFileName("no-such-folder/x.dmp");
  EXPECT_FALSE(writer.Open());
  EXPECT_FALSE(writer.OnRead(1));
  EXPECT_FALSE(writer.OnWrite(static_cast<unsigned char>(2)));
  EXPECT_FALSE(writer.OnWrite("abc"));
}

TEST(DumpWriter, EmptyRecordsAreRefusedAndAnEmptyNameGetsTheDefaultFile) {
  quorvel::test::ScratchDir dir;
  CDumpSComm writer;
  ASSERT_TRUE(writer.Open());
  EXPECT_FALSE(writer.OnWrite(""));
  EXPECT_FALSE(writer.OnWrite(static_cast<const char*>(nullptr)));
  EXPECT_FALSE(writer.OnWrite("abc", 0));
  EXPECT_FALSE(writer.OnWrite(static_cast<const void*>(nullptr), 3));
  EXPECT_TRUE(writer.OnRead(7));
  writer.Close();
  EXPECT_FALSE(writer.OnRead(8));  // closed: dropped
  const std::string file = quorvel::test::readFile(dir.file("Binarny zapis transmisji z urządzeniem.dmp"));
  EXPECT_EQ(file, std::string("DMP\x01") + xorWith("\x01\x07", rc4Keystream(kKey, 2)));
}

TEST(DumpDecoder, EveryCutOfAWholeDumpGivesItsWholeRecordsAndSaysWhereItBroke) {
  quorvel::test::ScratchDir dir;
  CDumpSComm writer;
  writer.SetFileName("d.dmp");
  ASSERT_TRUE(writer.Open());
  writer.OnWrite(static_cast<unsigned char>(0xFE));
  writer.OnWrite("\x01\x02\x03", 3);
  writer.OnRead(0x06);
  writer.Close();
  const std::string whole = quorvel::test::readFile(dir.file("d.dmp"));
  ASSERT_EQ(whole.size(), 4u + 2 + 8 + 2);
  const auto all = quorvel::dump::Decode(whole);
  ASSERT_EQ(all.error, "");
  ASSERT_EQ(all.records.size(), 3u);
  EXPECT_EQ(all.records[1].bytes, "\x01\x02\x03");
  // Records end after 6, 14 and 16 bytes: a file ending there is whole, any other is cut.
  for (std::size_t n = 0; n < whole.size(); ++n) {
    const auto part = quorvel::dump::Decode(whole.substr(0, n));
    const std::size_t complete = n >= 14 ? 2 : n >= 6 ? 1 : 0;
    EXPECT_EQ(part.records.size(), complete) << n;
    EXPECT_EQ(part.error.empty(), n == 4 || n == 6 || n == 14) << n << ": " << part.error;
  }
}

TEST(DumpDecoder, DamagedFilesAreReportedNotTrusted) {
  const struct {
    std::string bytes;
    std::string error;
  } cases[] = {
      {"", "empty file, not a transmission dump"},
      {"DM", "file cut inside the header"},
      {"PK\x03\x04zip", "not a transmission dump (no DMP header)"},
      {std::string("DMP\x02", 4), "not a transmission dump (no DMP header)"},
  };
  for (const auto& c : cases) EXPECT_EQ(quorvel::dump::Decode(c.bytes).error, c.error);

  // A block whose length announces more than the file holds, and an unknown marker.
  const std::string block = xorWith(std::string("\x04\xFF\xFF\xFF\xFF\x01", 6), rc4Keystream(kKey, 6));
  EXPECT_EQ(quorvel::dump::Decode("DMP\x01" + block).error, "block record at offset 4 announces 4294967295 bytes, 1 remain");
  const std::string unknown = xorWith("\x01\x05\x09\x00", rc4Keystream(kKey, 4));
  const auto u = quorvel::dump::Decode("DMP\x01" + unknown);
  EXPECT_EQ(u.error, "unknown record kind 09 at offset 6");
  EXPECT_EQ(u.records.size(), 1u);
}
