// `quorvel dump FILE.dmp`: one line per record, and a clear message (never a crash) for
// missing, cut, damaged and foreign files.
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
  const Outcome r = dumpCommand({writeSampleDump(dir)});
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
    const Outcome r = dumpCommand({c.path});
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
