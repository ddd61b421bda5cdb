// Named registers and the job files the program writes itself, through the real program: a
// registers file naming a simulated Elcom register (pseudo-terminal) and a simulated POSNET
// register (TCP), used by name for a connection check, a send from the shipped price list and
// a sales read-out; registers files and price lists that are refused, with their messages.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/elcom_harness.h"
#include "tests/posnet_harness.h"
#include "tests/support/test_support.h"

namespace {

using quorvel::test::HostRun;
using quorvel::test::hostPath;
using quorvel::test::JobDir;
using quorvel::test::runProgram;
using quorvel::test::RunOptions;
using quorvel::test::slurp;

bool contains(const std::string& hay, const std::string& needle) { return hay.find(needle) != std::string::npos; }

const std::string kPriceList = std::string(QUORVEL_SOURCE_DIR) + "/examples/cennik.csv";

HostRun quorvel(std::vector<std::string> args, const RunOptions& options = {}) {
  args.insert(args.begin(), hostPath());
  return runProgram(args, options);
}

TEST(NamedRegisters, CheckSendAndSalesByNameOnElcomAndPosnet) {
  quorvel::test::elcom::ElcomJob elcom(1);
  quorvel::test::posnet::PosnetJob posnet(quorvel::test::posnet::Line::tcp);
  JobDir shop("registers", false);
  const std::string conf = shop.file("registers.conf");
  // The keys of each register, as the registers file and `quorvel config` take them.
  const std::vector<std::string> elcomKeys = {"port=" + elcom.file("ttyElcom"), "speed=9600",
                                              "model=Quorvel_Elcom_Euro500T2"};
  const std::vector<std::string> posnetKeys = {"connection=Ethernet", "ip=" + posnet.address()};
  std::string text = "# the shop's registers\n[kasa1]\ndriver = quorvel_elcom\n";
  for (const auto& k : elcomKeys) text += k.substr(0, k.find('=')) + " = " + k.substr(k.find('=') + 1) + "\n";
  text += "\n; over the network\n[kasa2]\ndriver = quorvel_posnet\n";
  for (const auto& k : posnetKeys) text += k + "\n";
  shop.put("registers.conf", text);
  RunOptions env;
  env.environment = {"QUORVEL_LIBRARY_PATH=" + posnet.libraryDir(), "QUORVEL_VIRTUAL_CLOCK=" + shop.file("clock.txt"),
                     "QUORVEL_REGISTERS=" + conf};

  HostRun r = quorvel({"registers"}, env);
  EXPECT_EQ(r.exitStatus, 0) << r.output;
  EXPECT_TRUE(contains(r.output, "kasa1        quorvel_elcom    " + elcom.file("ttyElcom"))) << r.output;
  EXPECT_TRUE(contains(r.output, "kasa2        quorvel_posnet   " + posnet.address())) << r.output;
  EXPECT_NE(r.output.find("    answers\n"), r.output.rfind("    answers\n")) << "both answer\n" << r.output;

  struct Register {
    std::string name, driver;
    const std::vector<std::string>& keys;
    std::function<int(const std::string&)> sell;  // makes sales in the register's simulator
    std::string sold;                                // a sales record read back
  } registers[] = {
      {"kasa1", "quorvel_elcom", elcomKeys, [&](const std::string& a) { return elcom.sim(a); },
       "<Obrót><IdUF>1</IdUF><Typ>T</Typ><Ilość>2</Ilość><Wartość>8.4</Wartość></Obrót>"},
      {"kasa2", "quorvel_posnet", posnetKeys, [&](const std::string& a) { return posnet.sim(a); },
       "<Obrót><IdUF>1</IdUF><Typ>T</Typ><Ilość>2</Ilość><Wartość>8.4</Wartość></Obrót>"},
  };
  for (const Register& reg : registers) {
    SCOPED_TRACE(reg.name);
    JobDir job("registers-job", false), made("registers-cfg", false);
    r = quorvel({"check", reg.name, "-C", job.path()}, env);
    EXPECT_EQ(r.exitStatus, 0) << r.output;
    EXPECT_TRUE(contains(job.raport(), "<Typ>OK</Typ>")) << job.raport();
    // PROG_KOM.CFG is the file `quorvel config` makes of the same keys.
    std::vector<std::string> config = {"config", reg.driver, "-C", made.path()};
    config.insert(config.end(), reg.keys.begin(), reg.keys.end());
    ASSERT_EQ(quorvel(config).exitStatus, 0);
    EXPECT_EQ(slurp(job.file("PROG_KOM.CFG")), slurp(made.file("PROG_KOM.CFG")));

    // The shipped price list, sent by name into the register's own folder.
    r = quorvel({"send", reg.name, "--goods", kPriceList}, env);
    EXPECT_LE(r.exitStatus, 1) << r.output;
    const std::string jobDir = shop.file(reg.name + ".d/job");
    EXPECT_TRUE(contains(quorvel::test::cp1250ToUtf8(slurp(jobDir + "/PROG_KOM.XML")), "<Towar><Id>108</Id></Towar>"))
        << r.output << quorvel::test::cp1250ToUtf8(slurp(jobDir + "/RAPORT.XML"));
    EXPECT_EQ(quorvel::test::schemaErrors(jobDir + "/VEXA_JOB.XML", "Dane.xsd"), "");
    // The register's folder keeps what it confirmed: the same list again, changed only, sends
    // nothing and still lists every goods as accepted.
    r = quorvel({"send", reg.name, "--goods", kPriceList, "--changed-only"}, env);
    EXPECT_LE(r.exitStatus, 1) << r.output;
    EXPECT_TRUE(contains(r.output, "goods skipped as unchanged since the register confirmed them; 0 to send"))
        << r.output;
    EXPECT_TRUE(contains(quorvel::test::cp1250ToUtf8(slurp(jobDir + "/PROG_KOM.XML")), "<Towar><Id>108</Id></Towar>"));

    ASSERT_EQ(reg.sell(reg.driver == "quorvel_elcom" ? "sell plu 1 2 8.40" : "sell goods 1 2 8.40"), 0);
    r = quorvel({"sales", reg.name}, env);
    EXPECT_EQ(r.exitStatus, 64) << "a read-out clears the counters: only with --clear\n" << r.output;
    r = quorvel({"sales", reg.name, "--clear"}, env);
    EXPECT_LE(r.exitStatus, 0) << r.output;
    EXPECT_TRUE(contains(quorvel::test::cp1250ToUtf8(slurp(jobDir + "/PROG_KOM.XML")), reg.sold))
        << quorvel::test::cp1250ToUtf8(slurp(jobDir + "/PROG_KOM.XML"));
    r = quorvel({"report", jobDir});
    EXPECT_TRUE(contains(r.output, "OdbiórSprzedaży")) << r.output;
  }
}

TEST(NamedRegisters, RefusedRegistersFilesNameTheLine) {
  JobDir dir("registers-refused", false);
  const std::string f = dir.file("r.conf");
  const struct {
    const char* text;
    std::string message;
  } cases[] = {
      {"[k]\ndriver = quorvel_elcom\nbaud = 9600\n", f + ":3: [k] unknown key 'baud'; the keys are port, speed"},
      {"[k]\ndriver = quorvel_elcom\n# fast\nspeed = 1234\n", f + ":4: [k] the value of speed is refused:\n    must be one of 9600, 38400"},
      {"[k]\ndriver = quorvel_elcom\nmodel = Euro\n", f + ":3: [k] the value of model is refused:\n    must be one of Quorvel_Elcom_Euro500T2"},
      {"[k]\ndriver = quorvel_posnet\nmodel = Combo\n",
       f + ":3: [k] model: Combo is no model of quorvel_posnet (its models: Quorvel_Posnet_Combo)"},
      {"[k]\nport = COM1\n", f + ":1: [k] names no driver (driver = quorvel_...)"},
      {"[k]\ndriver = quorvel_elcom\n\n[k]\ndriver = quorvel_posnet\n",
       f + ":4: the register [k] is named twice (first on line 1)"},
      {"[k]\ndriver = quorvel_elcom\nport = COM1\nport = COM2\n",
       f + ":4: the key port is given twice in [k] (first on line 3)"},
      {"driver = quorvel_elcom\n[k]\n", f + ":1: a key before the first [name]"},
      {"[quorvel_elcom]\ndriver = quorvel_elcom\n", f + ":1: 'quorvel_elcom' cannot name a register"},
      {"[k]\ndriver = quorvel_elcom\nport COM1\n", f + ":3: a line is written key = value"},
      {"[k\n", f + ":1: a section header is written [name]"},
      {"[k]\ndriver = quorvel_nothing\n", f + ":2: cannot load the driver plug-in quorvel_nothing"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    dir.put("r.conf", c.text);
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"config", "k", "--config", f}, {"run", "k", "--config", f, "-C", dir.path()}}) {
      const HostRun r = quorvel(command);
      EXPECT_EQ(r.exitStatus, 64) << r.output;
      EXPECT_TRUE(contains(r.output, "quorvel: " + c.message)) << r.output;
    }
    EXPECT_FALSE(quorvel::test::fileExists(dir.file("PROG_KOM.CFG")));
  }
  // A name the file asked for does not hold; a plug-in name never looks into the file.
  dir.put("r.conf", "[k]\ndriver = quorvel_elcom\n");
  EXPECT_TRUE(contains(quorvel({"config", "kasa9", "--config", f}).output, f + ": no register [kasa9]"));
  EXPECT_EQ(quorvel({"config", "quorvel_elcom", "--config", f, "-C", dir.path()}).exitStatus, 0);
  // A dry run by name takes the section's configuration into its private copy only.
  dir.put("r.conf", "[k]\ndriver = quorvel_posnet\nconnection = Ethernet\nip = 10.0.0.9\n");
  std::filesystem::remove(dir.file("PROG_KOM.CFG"));
  EXPECT_TRUE(contains(quorvel({"config", "k", "--config", f}).output, "connection = Ethernet\nip = 10.0.0.9\n"));
  ASSERT_EQ(quorvel({"job", "new", "check", "-C", dir.path(), "--model", "Quorvel_Posnet_Combo"}).exitStatus, 0);
  const HostRun dry = quorvel({"run", "--dry-run", "k", "--config", f, "-C", dir.path()});
  EXPECT_EQ(dry.exitStatus, 0) << dry.output;
  EXPECT_FALSE(quorvel::test::fileExists(dir.file("PROG_KOM.CFG")));
}

TEST(JobFiles, PriceListsAndTheJobFilesWritten) {
  JobDir dir("job-new", false);
  const std::string csv = dir.file("c.csv");
  const struct {
    std::string text;
    int status;
    std::string expected;  // the error, or a line of the job written
  } cases[] = {
      {"KP,Na,Ce\n1,Chleb,\"4,20\"\n", 0, "  <Towar><KP>1</KP><Na>Chleb</Na><Ce>4.20</Ce></Towar>\r\n"},
      // windows-1250 and a BOM-less Polish spreadsheet: ';' separates, a decimal comma, quotes
      {"na;ce;co;dk\n\"Mas\xB3o \"\"Extra\"\"\";7,99;tak;1 2\n", 0,
       "<Towar><DK>1</DK><DK>2</DK><Na>Masło \"Extra\"</Na><Ce>7.99</Ce><CO>1</CO></Towar>"},
      {"Id,Ty,Na\n1,T,\"Kawa\nmielona\"\n2,O,Butelka\n", 64, "c.csv:2: Na 'Kawa\nmielona': a control character"},
      {"KP,Cena\n1,2\n", 64, "c.csv:1: unknown column 'Cena'; the columns are Id,Ty,KP,KK,DK,Na,Ce,CO,Va,JM,Gr,KO"},
      {"KP,kp\n1,2\n", 64, "c.csv:1: the column KP is named twice"},
      {"KP,Na\n1,A\n\n1000000,B\n", 64, "c.csv:4: KP '1000000': not a number 1-999999"},
      {"KP,Ce\n1,4.2x\n", 64, "c.csv:2: Ce '4.2x': not a price"},
      {"KP,Ty\n1,X\n", 64, "c.csv:2: Ty 'X': not T (goods) or O (package)"},
      {"KP,Na\n1,A,B\n", 64, "c.csv:2: 3 cells, the header names 2"},
      {"KP,Na\n1,\"A\n", 64, "c.csv:2: a quoted cell does not end"},
      {"KP,Na\n", 64, "c.csv: no goods below the header row"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    dir.put("c.csv", c.text);
    const HostRun r = quorvel({"job", "new", "send", "--goods", csv, "-o", dir.file("job.xml"), "--force"});
    EXPECT_EQ(r.exitStatus, c.status) << r.output;
    EXPECT_TRUE(contains(c.status ? r.output : slurp(dir.file("job.xml")), c.status ? csv.substr(0, csv.size() - 5) + c.expected : c.expected))
        << r.output << slurp(dir.file("job.xml"));
  }

  // The shipped example: every goods, valid against the schema.
  HostRun r = quorvel({"job", "new", "send", "--goods", kPriceList, "--model", "Quorvel_Posnet_Combo"});
  ASSERT_EQ(r.exitStatus, 0) << r.output;
  dir.put("VEXA_JOB.XML", r.output);
  EXPECT_EQ(quorvel::test::schemaErrors(dir.file("VEXA_JOB.XML"), "Dane.xsd"), "");
  EXPECT_TRUE(contains(r.output, "<Dane operacja=\"PrzesyłanieTowarów\" idModelu=\"Quorvel_Posnet_Combo\""));
  EXPECT_TRUE(contains(r.output, "<Towar><Id>108</Id><Ty>T</Ty><KP>8</KP><KK>5900649060944</KK>"
                                 "<Na>Kawa \"Poranna\"</Na><Ce>18.99</Ce><CO>0</CO><Va>1</Va><JM>1</JM><Gr>1</Gr></Towar>"));

  // A host's job is never replaced unasked; a job the program wrote is.
  const std::string hostJob = "<?xml version=\"1.0\"?><Dane operacja=\"ImportTowarów\"/>";
  dir.put("VEXA_JOB.XML", hostJob);
  for (const auto& command : {std::vector<std::string>{"check", "quorvel_elcom", "-C", dir.path(), "--model", "Quorvel_Elcom_Euro500T2"},
                              {"job", "new", "import", "-C", dir.path()}}) {
    r = quorvel(command);
    EXPECT_EQ(r.exitStatus, 64) << r.output;
    EXPECT_TRUE(contains(r.output, "is a job this program did not write")) << r.output;
    EXPECT_EQ(slurp(dir.file("VEXA_JOB.XML")), hostJob);
  }
  EXPECT_EQ(quorvel({"job", "new", "import", "-C", dir.path(), "--force"}).exitStatus, 0);
  EXPECT_EQ(quorvel({"job", "new", "check", "-C", dir.path()}).exitStatus, 0);
  EXPECT_TRUE(contains(slurp(dir.file("VEXA_JOB.XML")), "operacja=\"SprawdzeniePołączenia\""));
  // An Elcom job needs its model, which the driver cannot guess.
  r = quorvel({"check", "quorvel_elcom", "-C", dir.path()});
  EXPECT_EQ(r.exitStatus, 64);
  EXPECT_TRUE(contains(r.output, "quorvel_elcom drives several models; name one with --model ID")) << r.output;
}

}  // namespace
