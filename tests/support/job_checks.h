// The checks every end-to-end run of a job owes, for the tests built on the job harness: the
// program ended as its report says, no sanitizer spoke, and the result files are valid.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/support/job_harness.h"
#include "tests/support/test_support.h"

namespace quorvel::test {

// The exit status is the one the report RAPORT.XML (its UTF-8 text) asks for (0 for OK or I,
// 1 for W, 2 for E or no status), and the output holds no sanitizer's report.
inline void expectEndedAsReported(const HostRun& r, const std::string& raport) {
  EXPECT_EQ(r.exitStatus, exitStatusForReport(raport)) << r.output;
  EXPECT_FALSE(sanitizerReport(r.output)) << r.output;
}

// RAPORT.XML is valid against its schema, and so is PROG_KOM.XML where there is one (unless
// `progKom` is false: a file the disk had no room for cannot be whole). `context` names the
// run in a failure.
inline void expectValidResultFiles(const JobDir& job, bool progKom = true, const std::string& context = "") {
  EXPECT_EQ(schemaErrors(job.file("RAPORT.XML"), "Raport.xsd"), "") << context;
  if (progKom && fileExists(job.file("PROG_KOM.XML"))) {
    EXPECT_EQ(schemaErrors(job.file("PROG_KOM.XML"), "Dane.xsd"), "") << context;
  }
}

}  // namespace quorvel::test
