// quorvel_elcom against what the register can hold, end to end: each case sends one job through
// `quorvel run quorvel_elcom` to elcom_sim and compares the register's state file, RAPORT.XML
// and PROG_KOM.XML byte for byte with the files of tests/data/elcom_limits/CASE.{state,raport,
// progkom} (kept as UTF-8; the report files are compared as the windows-1250 bytes they stand
// for). The goods hold every kind of value the register cannot take as given, beside ordinary
// ones. QUORVEL_UPDATE_EXPECTED=1 writes the files from the run instead (review them before
// committing).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/cp1250.h"
#include "tests/elcom_harness.h"
#include "tests/support/job_checks.h"

namespace {

using quorvel::test::slurp;

struct Case {
  const char* name;
  int model;
  int maxPlu;             // PROG_KOM.CFG's max-plu; 0: the model's capacity
  const char* operation;
  bool windows1250;       // the job file in windows-1250 rather than UTF-8
  const char* registerHas;  // state lines of the register before the job
  std::string goods;      // the Towar elements (UTF-8 here)
};

std::string towar(int id, char ty, long kp, const std::string& fields) {
  return "<Towar><Id>" + std::to_string(id) + "</Id><Ty>" + ty + "</Ty><KP>" + std::to_string(kp) + "</KP>" + fields +
         "</Towar>\n";
}

const Case kCases[] = {
    {"send_utf8", 1, 1000, "PrzesyłanieTowarów", false, "",
     towar(1, 'T', 1, "<KK>5901234123457</KK><Na>Chleb żytni</Na><Ce>2.50</Ce><Va>1</Va>") +
         towar(2, 'T', 2, "<Na>Piwo „Żywiec” 0,5l</Na><Ce>3.49</Ce><Va>1</Va><JM>1</JM><KO>5</KO>") +
         towar(3, 'T', 70000, "<Na>Daleki kod</Na><Ce>1</Ce><Va>1</Va>") +          // beyond 16 bits
         towar(4, 'T', 1500, "<Na>Ponad max-plu</Na><Ce>1</Ce><Va>1</Va>") +       // beyond the configured 1000
         towar(5, 'O', 60, "<Na>Skrzynka</Na><Ce>5.00</Ce>") +                     // package beyond 50
         towar(6, 'O', 3, "<Na>Butelka</Na><Ce>0.50</Ce>") +
         towar(7, 'T', 7, "<KK>ABCDEFGH</KK><Na>Litery</Na><Ce>1</Ce><Va>1</Va>") +
         towar(8, 'T', 8, "<KK>12345678901234567890</KK><Na>Dwadzieścia</Na><Ce>1</Ce><Va>1</Va>") +
         towar(9, 'T', 9, "<Na>Jednostka 77</Na><Ce>1</Ce><Va>1</Va><JM>77</JM>") +
         towar(10, 'T', 10, "<Na>Stawka 9</Na><Ce>1</Ce><Va>9</Va>") +
         towar(11, 'T', 11, "<Ce>1</Ce><Va>1</Va>") +                               // no name
         towar(12, 'T', 12, "<Na>Masło</Na><Ce>6.99</Ce><Va>2</Va>") +
         towar(13, 'T', 12, "<Na>Margaryna</Na><Ce>4.99</Ce><Va>2</Va>") +         // the same KP again
         towar(14, 'T', 14, "<Na>Kiełbasa śląska 1</Na><Ce>20</Ce><Va>2</Va>") +
         towar(15, 'T', 15, "<Na>Kiełbasa śląska 2</Na><Ce>21</Ce><Va>2</Va>") +   // the same 14 characters
         towar(16, 'T', 16, "<Na>Ab€</Na><Ce>1</Ce><Va>1</Va>") +
         towar(17, 'T', 17, "<Na>Zapałki</Na><Ce>0</Ce><Va>2</Va>") +              // zero price, no open price
         towar(18, 'T', 18, "<Na>Bez stawki</Na><Ce>1</Ce>") +
         towar(19, 'T', 19, "<Na>Grupa 200</Na><Ce>1</Ce><Va>1</Va><KO>200</KO>") +
         towar(20, 'T', 20, "<Na>Grosz i pół</Na><Ce>1.005</Ce><Va>1</Va>") +
         towar(21, 'T', 21, "<Na>Woda</Na><Ce>0</Ce><CO>1</CO><Va>2</Va><JM>3</JM><KO>127</KO>") +
         towar(22, 'T', 22, "<Na>Chleb żytni</Na><Ce>2.60</Ce><Va>1</Va>") +      // the register has the name
         towar(23, 'T', 1000, "<Na>Ostatni kod</Na><Ce>9.99</Ce><Va>7</Va><JM>8</JM>") +
         towar(24, 'T', 23, "<Na>Ujemna</Na><Ce>-1</Ce><Va>1</Va>")},
    {"send_cp1250", 6, 0, "PrzesyłanieTowarów", true, "",
     towar(1, 'T', 1, "<KK>123456789012345678</KK><Na>„Ab” €</Na><Ce>1.20</Ce><Va>1</Va>") +
         towar(2, 'T', 2, "<Na>Piwo „Żywiec” 0,5l</Na><Ce>3.49</Ce><Va>1</Va>") +
         towar(3, 'T', 3, "<Na>Kawa – 100g…</Na><Ce>12.99</Ce><Va>2</Va>") +
         towar(4, 'T', 4, "<Na>Šampon™ Żółć</Na><Ce>8.50</Ce><Va>2</Va>") +
         towar(5, 'T', 5, "<Na>Zażółć gęślą jaźń i więcej</Na><Ce>1</Ce><Va>3</Va>") +
         towar(6, 'T', 6, "<KK>1234567890123456789</KK><Na>Za długi kod</Na><Ce>1</Ce><Va>1</Va>") +
         towar(7, 'T', 7, "<Na>Ser — żółty</Na><Ce>2</Ce><Va>1</Va>")},
    {"delete_beyond_16_bits", 2, 0, "UsuwanieTowarów", false,
     "plu 4464 24 1 31 500 0 0 - Stary towar\nplu 5 24 1 31 100 0 0 - Do usunięcia\n",
     towar(1, 'T', 70000, "<Na>Daleki kod</Na>") + towar(2, 'T', 5, "<Na>Do usunięcia</Na>")},
    {"price_change", 1, 0, "ZmianaCenTowarów", false, "plu 1 24 1 31 250 0 0 - Chleb\n",
     towar(1, 'T', 1, "<Ce>2.75</Ce>") + towar(2, 'T', 70000, "<Ce>1</Ce>") + towar(3, 'T', 2, "<Ce>3</Ce>")},
};

std::string expectedPath(const Case& c, const char* kind) {
  return std::string(QUORVEL_SOURCE_DIR) + "/tests/data/elcom_limits/" + c.name + "." + kind;
}

}  // namespace

TEST(ElcomLimitsEndToEnd, WhatTheReportCallsAcceptedIsWhatTheRegisterHolds) {
  const bool update = std::getenv("QUORVEL_UPDATE_EXPECTED") != nullptr;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    quorvel::test::elcom::ElcomJob job(c.model);
    if (c.maxPlu != 0) job.writeConfig(c.maxPlu, 1);
    {
      std::ofstream state(job.file("kasa.txt"), std::ios::app);
      state << c.registerHas;
    }
    if (c.windows1250) {
      job.put("VEXA_JOB.XML", quorvel::cp1250::fromUtf8("<?xml version=\"1.0\" encoding=\"windows-1250\"?>\n<Dane operacja=\"" +
                                                          std::string(c.operation) + "\" idModelu=\"" +
                                                          quorvel::test::elcom::modelJobName(c.model) + "\">\n" + c.goods +
                                                          "</Dane>\n"));
    } else {
      job.writeJob(c.operation, c.goods);
    }
    job.run();
    quorvel::test::expectEndedAsReported(job.lastRun(), job.raport());
    quorvel::test::expectValidResultFiles(job);

    // The state as the register keeps it (UTF-8), the result files as the core wrote them.
    const std::pair<const char*, std::string> results[] = {
        {"state", slurp(job.file("kasa.txt"))}, {"raport", job.raport()}, {"progkom", job.progKom()}};
    for (const auto& [kind, got] : results) {
      if (update) {
        std::ofstream(expectedPath(c, kind), std::ios::binary | std::ios::trunc) << got;
        continue;
      }
      const std::string expected = slurp(expectedPath(c, kind));
      if (std::string(kind) == "state") {
        EXPECT_EQ(got, expected) << kind;
      } else {
        const std::string file = std::string(kind) == "raport" ? "RAPORT.XML" : "PROG_KOM.XML";
        EXPECT_EQ(slurp(job.file(file)), quorvel::cp1250::fromUtf8(expected)) << kind << "\n" << got;
      }
    }
  }
}
