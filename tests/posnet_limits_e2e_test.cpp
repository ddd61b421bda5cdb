// quorvel_posnet and the register's limits, end to end: each job under tests/data/posnet_limits
// (one in UTF-8 holding every kind of goods the register cannot take as given beside ordinary
// ones, one in windows-1250 with the characters the register lacks) is sent through the host
// program, the plug-in, the stand-in libraries and the simulated register, and the register's
// state file, RAPORT.XML and PROG_KOM.XML are compared byte for byte with the expected files
// beside the job. QUORVEL_UPDATE_EXPECTED=1 writes what the run gave in their place instead
// (to be read through before it is committed).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/posnet_harness.h"
#include "tests/support/job_checks.h"
#include "tests/support/test_support.h"

namespace {

using quorvel::test::readFile;
using quorvel::test::writeFile;
using quorvel::test::posnet::Line;
using quorvel::test::posnet::PosnetJob;

const std::string kData = std::string(QUORVEL_SOURCE_DIR) + "/tests/data/posnet_limits/";

TEST(PosnetLimits, WhatTheReportCallsAcceptedIsWhatTheRegisterHolds) {
  const bool update = std::getenv("QUORVEL_UPDATE_EXPECTED") != nullptr;
  for (const char* jobName : {"utf8", "cp1250"}) {
    SCOPED_TRACE(jobName);
    const std::string dir = kData + jobName + "/";
    PosnetJob job(Line::tcp);
    // The register knows group 5 beside the general group 1.
    ASSERT_EQ(job.sim("add group 5 Nabiał"), 0);
    job.put("VEXA_JOB.XML", readFile(dir + "VEXA_JOB.XML"));
    const auto& run = job.run();
    EXPECT_EQ(run.signal, 0) << run.output;
    quorvel::test::expectEndedAsReported(run, job.raport());
    quorvel::test::expectValidResultFiles(job, true, jobName);
    job.show();  // the register's changes are in its state file once it lets `show` read it
    for (const char* file : {"kasa.txt", "RAPORT.XML", "PROG_KOM.XML"}) {
      const std::string got = readFile(job.file(file));
      if (update) {
        writeFile(dir + file, got);
        continue;
      }
      EXPECT_EQ(got, readFile(dir + file)) << file << " of the job " << jobName;
    }
  }
}

}  // namespace
