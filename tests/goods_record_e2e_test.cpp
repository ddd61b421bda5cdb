// Sending only what changed, end to end: `quorvel run quorvel_elcom --record DIR` against
// simulated Elcom registers (model 7, 27,000 PLUs) on the virtual clock. A catalogue sent
// whole, then again with 1% of it changed and --changed-only, must cost 1% of the PLU writes
// and leave the register exactly as a whole send of the changed catalogue leaves a fresh one;
// and the record must follow what each kind of job did to the register.
#include <chrono>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/elcom_harness.h"
#include "tests/support/test_support.h"

namespace {

using quorvel::test::HostRun;
using quorvel::test::slurp;
using quorvel::test::elcom::ElcomJob;

const std::string kSend = "PrzesyłanieTowarów";

// PLUs 1..count; every `changedEvery`-th one (0: none) costs a grosz more.
std::string catalogue(int count, int changedEvery = 0, int leaveOutFrom = 0) {
  std::string goods;
  for (int i = 1; i <= count; ++i) {
    if (leaveOutFrom > 0 && i >= leaveOutFrom) break;
    const int grosze = 100 + i % 900 + (changedEvery > 0 && i % changedEvery == 0 ? 1 : 0);
    goods += "<Towar><Id>" + std::to_string(1000 + i) + "</Id><KP>" + std::to_string(i) + "</KP><Na>Towar nr " +
             std::to_string(i) + "</Na><Ce>" + std::to_string(grosze / 100) + "." + std::to_string(grosze % 100 / 10) +
             std::to_string(grosze % 10) + "</Ce><Va>1</Va></Towar>\n";
  }
  return goods;
}

// `quorvel run quorvel_elcom -C JOB [--record RECORD] ARGS...` on the virtual clock.
HostRun run(const ElcomJob& job, const std::string& record, const std::vector<std::string>& args = {}) {
  std::vector<std::string> argv{quorvel::test::hostPath(), "run", "quorvel_elcom", "-C", job.path()};
  if (!record.empty()) argv.insert(argv.end(), {"--record", record});
  argv.insert(argv.end(), args.begin(), args.end());
  return quorvel::test::runProgram(argv, {{"QUORVEL_VIRTUAL_CLOCK=" + job.file("clock.txt")}});
}

// Has the simulated register count the PLU records it takes.
void countWrites(const ElcomJob& job) {
  std::ofstream(job.file("kasa.txt"), std::ios::app) << "written 0\n";
}

// The PLU records the simulated register took so far.
long writes(const ElcomJob& job) {
  std::smatch m;
  const std::string state = slurp(job.file("kasa.txt"));
  return std::regex_search(state, m, std::regex("\nwritten (\\d+)\n")) ? std::stol(m[1]) : 0;
}

// The register's goods and counters: its state file without the count of writes.
std::string registerState(const ElcomJob& job) {
  return std::regex_replace(slurp(job.file("kasa.txt")), std::regex("written \\d+\n"), "");
}

std::size_t confirmedCount(const ElcomJob& job) {
  const std::string data = job.progKom();
  std::size_t n = 0;
  for (auto at = data.find("<Towar><Id>"); at != std::string::npos; at = data.find("<Towar><Id>", at + 1)) ++n;
  return n;
}

TEST(GoodsRecordE2E, OnePercentChangedSendsOnePercentAndLeavesTheRegisterAsAWholeSend) {
  const auto start = std::chrono::steady_clock::now();
  ElcomJob job(7);
  countWrites(job);
  const std::string record = job.file("kasa1");
  job.writeJob(kSend, catalogue(27000));
  const HostRun whole = run(job, record);
  ASSERT_EQ(whole.exitStatus, 0) << whole.output;
  EXPECT_EQ(writes(job), 27000);
  EXPECT_EQ(confirmedCount(job), 27000u);

  job.writeJob(kSend, catalogue(27000, 100));
  const std::string jobFile = slurp(job.file("VEXA_JOB.XML"));
  const HostRun changed = run(job, record, {"--changed-only", "--delete-missing"});
  ASSERT_EQ(changed.exitStatus, 0) << changed.output;
  EXPECT_NE(changed.output.find("26730 of 27000 goods skipped as unchanged"), std::string::npos) << changed.output;
  EXPECT_NE(changed.output.find("No goods to delete"), std::string::npos) << changed.output;
  EXPECT_EQ(writes(job), 27000 + 270);
  // Every goods of the job stands confirmed: the 270 sent and the 26,730 the register holds.
  EXPECT_EQ(confirmedCount(job), 27000u);
  EXPECT_NE(job.raport().find("nieprzesłane ponownie: 26730"), std::string::npos) << job.raport();
  EXPECT_EQ(quorvel::test::schemaErrors(job.file("RAPORT.XML"), "Raport.xsd"), "");
  EXPECT_EQ(quorvel::test::schemaErrors(job.file("PROG_KOM.XML"), "Dane.xsd"), "");
  EXPECT_EQ(slurp(job.file("VEXA_JOB.XML")), jobFile);

  ElcomJob fresh(7);
  fresh.writeJob(kSend, catalogue(27000, 100));
  ASSERT_EQ(run(fresh, "").exitStatus, 0);
  EXPECT_EQ(registerState(job), registerState(fresh));
  std::printf("27,000 goods sent whole, then 1%% changed, then whole to a fresh register: %.1f s\n",
              std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
}

// One register and its record through a sequence of jobs: what each job writes to the
// register, and what the record makes of the next --changed-only send.
TEST(GoodsRecordE2E, RecordTransitions) {
  ElcomJob job(7);
  countWrites(job);
  const std::string record = job.file("kasa1");
  const struct Step {
    const char* what;
    std::string operation;
    std::string goods;
    std::vector<std::string> args;
    const char* fault;  // played by the register during the job
    int exitStatus;
    long writes;        // PLU records the register took; -1: not counted
    bool stale;         // the record's mark afterwards
  } steps[] = {
      {"whole send records", kSend, catalogue(20), {}, nullptr, 0, 20, false},
      {"nothing changed: nothing sent", kSend, catalogue(20), {"--changed-only"}, nullptr, 0, 0, false},
      {"one changed, two gone", kSend, catalogue(20, 10, 19), {"--changed-only", "--delete-missing"}, nullptr, 0, 3,
       false},
      {"the rest unchanged", kSend, catalogue(20, 10, 19), {"--changed-only"}, nullptr, 0, 0, false},
      {"an import that agrees", "ImportTowarów", "", {}, nullptr, 0, 0, false},
      {"delete all marks stale", "UsuwanieWszystkichTowarów", "", {}, nullptr, 0, -1, true},
      {"stale: sent whole", kSend, catalogue(20), {"--changed-only"}, nullptr, 0, 20, false},
      {"--full sends whole", kSend, catalogue(20), {"--full"}, nullptr, 0, 20, false},
      {"E ending: nothing recorded", kSend, catalogue(20, 5), {}, "hello silence always", 2, 0, false},
      {"so all of it is sent again", kSend, catalogue(20, 5), {"--changed-only"}, nullptr, 0, 20, false},
      {"a PLU the record lacks", "ImportTowarów", "", {}, "fill", 0, 0, true},
      {"stale again: sent whole", kSend, catalogue(20, 5), {"--changed-only"}, nullptr, 0, 20, false},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    job.writeJob(s.operation, s.goods);
    if (s.fault && std::string(s.fault) == "fill") {
      ASSERT_EQ(job.sim("fill 25"), 0);
    } else if (s.fault) {
      ASSERT_EQ(job.sim(std::string("fault ") + s.fault), 0);
    }
    const long before = writes(job);
    const HostRun r = run(job, record, s.args);
    job.sim("fault clear");
    EXPECT_EQ(r.exitStatus, s.exitStatus) << r.output;
    if (s.writes >= 0) {
      EXPECT_EQ(writes(job) - before, s.writes) << r.output;
    }
    const std::string kept = slurp(record + "/confirmed-goods.txt");
    EXPECT_NE(kept.find(s.stale ? "\nstale 1\n" : "\nstale 0\n"), std::string::npos) << kept;
    EXPECT_EQ(quorvel::test::schemaErrors(job.file("RAPORT.XML"), "Raport.xsd"), "");
  }
  // The goods gone from the job were deleted from the register by the job of its own.
  EXPECT_EQ(job.show().find("Towar nr 19\n"), std::string::npos);
}

}  // namespace
