// quorvel_elzab end to end over the register's limits: one job holding every kind of goods the
// register cannot hold as given, beside ordinary goods, sent through `quorvel run` to the
// simulated WinIP, once as a UTF-8 job and once as the same job in windows-1250, then a price
// change of the same kinds. What the register then holds (its state file), RAPORT.XML and
// PROG_KOM.XML are compared byte for byte with the files under tests/data/elzab_limits/send/
// and .../prices/; both encodings must give the very same bytes.
//
// QUORVEL_UPDATE_EXPECTED=1 writes the files of this run there instead (for a deliberate change;
// read the differences before committing them).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "drivers/elzab/config.h"
#include "platform/cp1250.h"
#include "plugin/config_store.h"
#include "tests/support/job_checks.h"
#include "tests/support/job_harness.h"
#include "tests/support/test_support.h"

namespace {

namespace elzab = quorvel::elzab;

// One goods of the job: what it shows, and its Towar element (UTF-8).
struct Case {
  const char* what;
  const char* towar;
};

// In job order; the plan judges goods in this order (the first of two with one PLU is sent).
const Case kCases[] = {
    {"ordinary goods with a barcode, a further one and a linked packaging",
     "<Id>1</Id><KP>1</KP><KK>5901234123457</KK><DK>2000000000017</DK><Na>Chleb żytni</Na><Ce id=\"1\">2.50</Ce>"
     "<Va>1</Va><Gr>2</Gr><JM>1</JM><KO>100</KO>"},
    {"the packaging it links to", "<Id>2</Id><Ty>O</Ty><KP>100</KP><Na>Butelka zwrotna</Na><Ce id=\"1\">0.50</Ce><Va>4</Va>"},
    {"ordinary goods, group and unit left to the register", "<Id>3</Id><KP>3</KP><Na>Masło</Na><Ce id=\"1\">6.99</Ce><Va>2</Va>"},
    {"a name longer than the register holds: cut", "<Id>4</Id><KP>4</KP><Na>Ser żółty gouda plastry 150 g</Na><Ce id=\"1\">5</Ce><Va>2</Va>"},
    {"19 characters: held whole", "<Id>5</Id><KP>5</KP><Na>Kiełbasa śląska 100</Na><Ce id=\"1\">19.99</Ce><Va>2</Va>"},
    {"cut to the name of goods 5", "<Id>6</Id><KP>6</KP><Na>Kiełbasa śląska 1000</Na><Ce id=\"1\">19.99</Ce><Va>2</Va>"},
    {"cut to the name of goods 5 too", "<Id>7</Id><KP>7</KP><Na>Kiełbasa śląska 1001</Na><Ce id=\"1\">19.99</Ce><Va>2</Va>"},
    {"quotes the register lacks", "<Id>8</Id><KP>8</KP><Na>Piwo „Żywiec” 0,5l</Na><Ce id=\"1\">3.49</Ce><Va>1</Va>"},
    {"euro, dashes, an ellipsis", "<Id>9</Id><KP>9</KP><Na>Ab€ – b — c…</Na><Ce id=\"1\">1</Ce><Va>1</Va>"},
    {"trade mark and foreign letters", "<Id>10</Id><KP>10</KP><Na>Škoda™ žel Ž š</Na><Ce id=\"1\">1</Ce><Va>1</Va>"},
    {"a barcode of letters", "<Id>11</Id><KP>11</KP><KK>ABCDEFGH</KK><Na>Kod z literami</Na><Ce id=\"1\">1</Ce><Va>1</Va>"},
    {"a barcode of 14 digits", "<Id>12</Id><KP>12</KP><KK>12345678901234</KK><Na>Kod za długi</Na><Ce id=\"1\">1</Ce><Va>1</Va>"},
    {"a further barcode of 16 digits", "<Id>13</Id><KP>13</KP><DK>1234567890123456</DK><Na>Drugi kod za długi</Na><Ce id=\"1\">1</Ce><Va>1</Va>"},
    {"VAT rate 9", "<Id>14</Id><KP>14</KP><Na>Zła stawka</Na><Ce id=\"1\">1</Ce><Va>9</Va>"},
    {"no VAT rate", "<Id>15</Id><KP>15</KP><Na>Bez stawki</Na><Ce id=\"1\">1</Ce>"},
    {"unit 77", "<Id>16</Id><KP>16</KP><Na>Zła jednostka</Na><Ce id=\"1\">1</Ce><Va>1</Va><JM>77</JM>"},
    {"group 100", "<Id>17</Id><KP>17</KP><Na>Zła grupa</Na><Ce id=\"1\">1</Ce><Va>1</Va><Gr>100</Gr>"},
    {"group 0", "<Id>18</Id><KP>18</KP><Na>Grupa zero</Na><Ce id=\"1\">1</Ce><Va>1</Va><Gr>0</Gr>"},
    {"KO not a number", "<Id>19</Id><KP>19</KP><Na>Kaucja litery</Na><Ce id=\"1\">1</Ce><Va>1</Va><KO>abc</KO>"},
    {"KO beyond the PLU range", "<Id>20</Id><KP>20</KP><Na>Kaucja za duża</Na><Ce id=\"1\">1</Ce><Va>1</Va><KO>1000000</KO>"},
    {"no name", "<Id>21</Id><KP>21</KP><Ce id=\"1\">1</Ce><Va>1</Va>"},
    {"the PLU of goods 1 again", "<Id>22</Id><KP>1</KP><Na>Chleb drugi</Na><Ce id=\"1\">2</Ce><Va>1</Va>"},
    {"a packaging under the PLU of goods 3", "<Id>23</Id><Ty>O</Ty><KP>3</KP><Na>Skrzynka</Na><Ce id=\"1\">9</Ce><Va>4</Va>"},
    {"a price above the register's highest", "<Id>24</Id><KP>24</KP><Na>Za drogi</Na><Ce id=\"1\">1000000.00</Ce><Va>1</Va>"},
    {"a negative price", "<Id>25</Id><KP>25</KP><Na>Ujemna cena</Na><Ce id=\"1\">-1</Ce><Va>1</Va>"},
    {"the highest price, finer than a grosz: cut to whole grosze",
     "<Id>26</Id><KP>26</KP><Na>Najdroższy</Na><Ce id=\"1\">999999.999</Ce><Va>1</Va>"},
    {"a price finer than a grosz", "<Id>27</Id><KP>27</KP><Na>Grosz i pół</Na><Ce id=\"1\">1.995</Ce><Va>1</Va>"},
    {"goods without Id and with a bad VAT rate: named by its PLU", "<KP>29</KP><Na>Bez Id</Na><Ce id=\"1\">1</Ce><Va>0</Va>"},
    {"a name the register holds under another PLU: its refusal names the goods",
     "<Id>30</Id><KP>30</KP><Na>Cukier</Na><Ce id=\"1\">3</Ce><Va>1</Va>"},
    {"linked to goods, not to a packaging: the link refused, the goods held",
     "<Id>31</Id><KP>31</KP><Na>Woda</Na><Ce id=\"1\">1.50</Ce><Va>1</Va><KO>3</KO>"},
    {"ordinary goods after all of them", "<Id>32</Id><KP>32</KP><Na>Żurek</Na><Ce id=\"1\">4.20</Ce><Va>2</Va><Gr>99</Gr><JM>15</JM>"},
};

// A price change after the send: only PLU numbers and prices are checked, before the register's
// goods are read back.
const Case kPrices[] = {
    {"a new price", "<Id>1</Id><KP>1</KP><Ce id=\"1\">2.80</Ce>"},
    {"a price above the register's highest", "<Id>3</Id><KP>3</KP><Ce id=\"1\">1000000</Ce>"},
    {"a price finer than a grosz", "<Id>5</Id><KP>5</KP><Ce id=\"1\">21.499</Ce>"},
    {"the PLU of goods 1 again", "<Id>22</Id><KP>1</KP><Ce id=\"1\">3</Ce>"},
    {"a PLU the register does not hold", "<Id>40</Id><KP>40</KP><Ce id=\"1\">1</Ce>"},
    {"a packaging", "<Id>2</Id><Ty>O</Ty><KP>100</KP><Ce id=\"1\">0.60</Ce>"},
};

// One job of `cases`, in UTF-8 or in windows-1250 (the same text, each declaring its encoding).
template <std::size_t N>
std::string job(const char* operation, const Case (&cases)[N], bool cp1250) {
  std::string goods;
  for (const Case& c : cases) goods += std::string("<Towar>") + c.towar + "</Towar>\n";
  const std::string text = std::string("<?xml version=\"1.0\" encoding=\"") + (cp1250 ? "windows-1250" : "UTF-8") +
                           "\"?>\n<Dane operacja=\"" + operation + "\" idModelu=\"Elzab Omega\" "
                           "xmlns=\"http://schemas.quorvel.org/UF/Dane.xsd\">\n" +
                           goods + "</Dane>\n";
  return cp1250 ? quorvel::cp1250::fromUtf8(text) : text;
}

}  // namespace

TEST(ElzabLimitsEndToEnd, WhatTheReportCallsAcceptedIsWhatTheRegisterHolds) {
  const bool update = std::getenv("QUORVEL_UPDATE_EXPECTED") != nullptr;
  const std::string sim = std::string(QUORVEL_BIN_DIR) + "/elzab_sim";
  for (const bool cp1250 : {false, true}) {
    SCOPED_TRACE(cp1250 ? "windows-1250 job" : "UTF-8 job");
    quorvel::test::JobDir dir("elzab-limits", /*enter=*/false);
    const std::string state = dir.file("ELZAB_SIM.TXT");
    ASSERT_EQ(quorvel::test::simCommand(sim, state, "init"), 0);
    ASSERT_EQ(quorvel::test::simCommand(sim, state, "goods 50 Cukier 3.00 1"), 0);
    elzab::SUConfig config{};
    elzab::setDefaultConfig(config);
    dir.writeConfigFile(quorvel::plugin::configFileBytes(elzab::toImage(config)));

    const struct Step {
      const char* folder;
      std::string job;
    } steps[] = {{"send", job("PrzesyłanieTowarów", kCases, cp1250)}, {"prices", job("ZmianaCenTowarów", kPrices, cp1250)}};
    for (const Step& step : steps) {
      SCOPED_TRACE(step.folder);
      dir.put("VEXA_JOB.XML", step.job);
      quorvel::test::RunOptions options;
      options.environment.push_back(std::string("QUORVEL_LIBRARY_PATH=") + QUORVEL_STANDIN_DIR);
      const quorvel::test::HostRun& run = dir.runHost("quorvel_elzab", options);
      quorvel::test::expectEndedAsReported(run, dir.raport());
      quorvel::test::expectValidResultFiles(dir);

      for (const char* name : {"ELZAB_SIM.TXT", "RAPORT.XML", "PROG_KOM.XML"}) {
        SCOPED_TRACE(name);
        const std::string expected = std::string(QUORVEL_ELZAB_LIMITS_DATA) + "/" + step.folder + "/" + name;
        const std::string got = quorvel::test::slurp(dir.file(name));
        if (update && !cp1250) {
          std::ofstream(expected, std::ios::binary | std::ios::trunc) << got;
          continue;
        }
        // The text first (a readable difference), then the bytes.
        EXPECT_EQ(quorvel::cp1250::toUtf8(got), quorvel::cp1250::toUtf8(quorvel::test::slurp(expected)));
        EXPECT_EQ(got, quorvel::test::slurp(expected));
      }
    }
  }
}
