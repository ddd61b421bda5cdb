// `quorvel dump FILE.dmp`: one line per frame (or per record with --raw), and a clear message
// (never a crash) for missing, cut, damaged and foreign files.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/serial/dump.h"
#include "host/dump_command.h"
#include "tests/support/test_support.h"

namespace {

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

std::string slurp(std::FILE* f) {
  std::rewind(f);
  std::string s;
  char chunk[4096];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) s.append(chunk, n);
  std::fclose(f);
  return s;
}

Outcome dumpCommand(std::vector<std::string> args) {
  args.insert(args.begin(), "dump");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  const int status = runDumpCommand(static_cast<int>(args.size()), argv.data(), out, err);
  return {status, slurp(out), slurp(err)};
}

// A dump as the port writes it: a frame sent, one byte sent, two bytes received.
std::string writeSampleDump(const quorvel::test::ScratchDir& dir) {
  CDumpSComm writer;
  writer.SetFileName("sample.dmp");
  EXPECT_TRUE(writer.Open());
  writer.OnWrite("\xFE\x00\x01\x00\x01\x01\x00", 7);
  writer.OnWrite(static_cast<unsigned char>('A'));
  writer.OnRead(0x06);
  writer.OnRead('z');
  writer.Close();
  return dir.file("sample.dmp");
}

}  // namespace

TEST(DumpCommand, PrintsOneLinePerRecord) {
  quorvel::test::ScratchDir dir;
  const Outcome r = dumpCommand({writeSampleDump(dir), "--raw"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "TX      7  FE 00 01 00 01 01 00  |.......|\n"
            "TX      1  41  |A|\n"
            "RX      1  06  |.|\n"
            "RX      1  7A  |z|\n");
}

TEST(DumpCommand, AnEmptyDumpPrintsNothingAndSucceeds) {
  quorvel::test::ScratchDir dir;
  quorvel::test::writeFile(dir.file("e.dmp"), "DMP\x01");
  const Outcome r = dumpCommand({dir.file("e.dmp")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
}

TEST(DumpCommand, BadFilesGetAClearMessageAndAFailureStatus) {
  quorvel::test::ScratchDir dir;
  const std::string whole = quorvel::test::readFile(writeSampleDump(dir));
  quorvel::test::writeFile(dir.file("cut.dmp"), whole.substr(0, whole.size() - 1));
  quorvel::test::writeFile(dir.file("text.dmp"), "hello, not a dump\n");
  const struct {
    std::string path;
    std::string out;
    std::string err;
  } cases[] = {
      {dir.file("missing.dmp"), "", "quorvel dump: cannot open " + dir.file("missing.dmp") + ": No such file or directory\n"},
      {dir.path(), "", "quorvel dump: " + dir.path() + " is a directory, not a dump file\n"},
      {dir.file("text.dmp"), "", "quorvel dump: " + dir.file("text.dmp") + ": not a transmission dump (no DMP header) (0 records before it)\n"},
      {dir.file("cut.dmp"),
       "TX      7  FE 00 01 00 01 01 00  |.......|\nTX      1  41  |A|\nRX      1  06  |.|\n",
       "quorvel dump: " + dir.file("cut.dmp") + ": file cut inside the record at offset 20 (3 records before it)\n"},
  };
  for (const auto& c : cases) {
    const Outcome r = dumpCommand({c.path, "--raw"});
    EXPECT_EQ(r.status, 1) << c.path;
    EXPECT_EQ(r.out, c.out) << c.path;
    EXPECT_EQ(r.err, c.err) << c.path;
  }
}

TEST(DumpCommand, CommandLineMistakesShowTheUsage) {
  for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{"a.dmp", "b.dmp"}}) {
    const Outcome r = dumpCommand(args);
    EXPECT_EQ(r.status, 64);
    EXPECT_NE(r.err.find("Usage: quorvel dump FILE.dmp"), std::string::npos) << r.err;
  }
  const Outcome help = dumpCommand({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Usage: quorvel dump FILE.dmp"), std::string::npos);
}

// The frames view: a dump of a real Elcom connection check (model 7) read as frames, decoded,
// against the view kept beside it; a dump of another register grouped by direction and shown
// as text; the POSNET library's text log in place of a dump told for what it is.
TEST(DumpCommand, ShowsFramesDecodedAndRecognisesTheTextLog) {
  quorvel::test::ScratchDir dir;
  const std::string data = std::string(QUORVEL_SOURCE_DIR) + "/tests/data/dump/";
  const std::string log = "2024-05-06 10:11:12.345 opened TCP connection 127.0.0.1:6666\n"
                          "2024-05-06 10:11:12.346 > #1 VATGet\n    1b 02\n";
  quorvel::test::writeFile(dir.file("posnet.dmp"), log);
  const std::string logNote = "quorvel dump: " + dir.file("posnet.dmp") +
                              " is no transmission dump but a text log: the POSNET library's own log of the\n"
                              "transmission, which it writes under the dump's name. It follows as it is (or read it with less).\n";
  const struct {
    std::vector<std::string> args;
    std::string out;
    std::string err;
  } cases[] = {
      {{data + "elcom_check.dmp"}, quorvel::test::readFile(data + "elcom_check.frames"), ""},
      {{"--wide", data + "elcom_check.dmp"}, quorvel::test::readFile(data + "elcom_check.wide"), ""},
      {{writeSampleDump(dir)},
       "    1 >     8  FE 00 01 00 01 01 00 41                              |.......A|\n"
       "    2 <     2  06 7A                                                |.z|\n",
       ""},
      {{dir.file("posnet.dmp")}, log, logNote},
  };
  for (const auto& c : cases) {
    const Outcome r = dumpCommand(c.args);
    EXPECT_EQ(r.status, 0) << c.args.back() << r.err;
    EXPECT_EQ(r.out, c.out) << c.args.back();
    EXPECT_EQ(r.err, c.err) << c.args.back();
  }
  // The old view of the same dump stays one line per record.
  const Outcome raw = dumpCommand({data + "elcom_check.dmp", "--raw"});
  EXPECT_EQ(raw.status, 0);
  EXPECT_EQ(raw.out.substr(0, 45), "TX      7  FE 00 01 00 01 01 00  |.......|\nRX");
}
