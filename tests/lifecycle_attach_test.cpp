// The core's load and unload handlers called directly (static copy of the core): every
// allocation of the load failing in turn, and loads following each other in one process.
// Whatever fails, the load is refused with nothing left behind and both result files are
// complete and valid.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>

#include <gtest/gtest.h>

#include "core/error_state.h"
#include "core/globals.h"
#include "core/progress.h"
#include "platform/cp1250.h"
#include "tests/support/test_support.h"

extern "C" int quorvel_module_attach();
extern "C" void quorvel_module_detach();
extern "C" const char* quorvel_module_refusal();
extern "C" int Quorvel_holdJobDirectory();

namespace {

// Allocation number `g_failAt` (counted from 1 while armed) fails once; g_throwing chooses
// whether the throwing or the non-throwing allocations are counted.
int g_failAt = 0;
int g_count = 0;
bool g_throwing = false;

bool failNow(bool throwing) { return g_failAt != 0 && throwing == g_throwing && ++g_count == g_failAt; }

}  // namespace

// GCC pairs the built-in new with the free() below when it inlines these replacements.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t n) {
  if (failNow(true)) throw std::bad_alloc();
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  if (failNow(false)) return nullptr;
  return std::malloc(n ? n : 1);
}
void* operator new[](std::size_t n, const std::nothrow_t& t) noexcept { return operator new(n, t); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

using quorvel::test::readFile;
using quorvel::test::schemaErrors;
using quorvel::test::ScratchDir;
using quorvel::test::writeFile;

void writeJob() {
  writeFile("VEXA_JOB.XML",
            "<?xml version=\"1.0\" encoding=\"windows-1250\"?>\r\n"
            "<Dane operacja=\"UsuwanieTowar\xF3w\" idModelu=\"M\" xmlns=\"http://schemas.quorvel.org/UF/Dane.xsd\">\r\n"
            "<Towar><Id>1</Id><Na>Mleko</Na></Towar>\r\n<Towar><Id>2</Id><Ty>O</Ty></Towar>\r\n</Dane>\r\n");
}

// Both files complete and valid; or, when not even the report writer could be made, neither
// file (never the results of an earlier job).
void expectCompleteResults() {
  if (!quorvel::test::fileExists("RAPORT.XML")) {
    EXPECT_FALSE(quorvel::test::fileExists("PROG_KOM.XML"));
    return;
  }
  EXPECT_EQ(schemaErrors("RAPORT.XML", "Raport.xsd"), "") << readFile("RAPORT.XML");
  EXPECT_EQ(schemaErrors("PROG_KOM.XML", "Dane.xsd"), "") << readFile("PROG_KOM.XML");
  const std::string report = readFile("RAPORT.XML");
  EXPECT_TRUE(report.size() > 9 && report.compare(report.size() - 9, 9, "</Raport>") == 0) << report;
}

// The job objects are created with non-throwing allocations: each of them failing in turn.
TEST(CoreAttach, NoMemoryForAJobObjectRefusesTheLoadCleanly) {
  g_throwing = false;
  int failures = 0;
  for (int n = 1; n < 2000; ++n) {
    SCOPED_TRACE("allocation " + std::to_string(n));
    ScratchDir dir;
    writeJob();
    writeFile("RAPORT.XML", "stale");
    writeFile("PROG_KOM.XML", "stale");
    g_count = 0;
    g_failAt = n;
    const int loaded = quorvel_module_attach();
    const bool injected = g_count >= n;
    g_failAt = 0;
    if (loaded) {
      EXPECT_FALSE(injected);
      ASSERT_NE(raport, nullptr);
      quorvel_module_detach();
      expectCompleteResults();
      EXPECT_EQ(failures, 3);  // raport, vexa, progKom
      return;
    }
    ++failures;
    EXPECT_EQ(raport, nullptr);
    EXPECT_EQ(vexa, nullptr);
    EXPECT_EQ(progKom, nullptr);
    EXPECT_EQ(GetErrorNum(), ERR_NO_MEMORY);
    quorvel_module_detach();  // a refused load is detached as well: nothing happens twice
    expectCompleteResults();
    if (quorvel::test::fileExists("RAPORT.XML")) {
      EXPECT_NE(readFile("RAPORT.XML").find("Brak pami\xEA" "ci operacyjnej"), std::string::npos);
    }
  }
  FAIL() << "the load never succeeded";
}

// Any allocation failing inside the load (an exception from deep inside the reading) is
// stopped at the load handler: the load is refused, nothing is left behind.
TEST(CoreAttach, AnyFailedAllocationRefusesTheLoad) {
  g_throwing = true;
  for (int n = 1; n < 5000; ++n) {
    SCOPED_TRACE("allocation " + std::to_string(n));
    ScratchDir dir;
    writeJob();
    g_count = 0;
    g_failAt = n;
    const int loaded = quorvel_module_attach();
    const bool injected = g_count >= n;
    g_failAt = 0;
    if (loaded) {
      EXPECT_FALSE(injected);
      quorvel_module_detach();
      expectCompleteResults();
      return;
    }
    EXPECT_EQ(raport, nullptr);
    EXPECT_EQ(vexa, nullptr);
    EXPECT_EQ(progKom, nullptr);
    EXPECT_NE(GetErrorNum(), 0);
    // A finished report always has its root start tag, even when building it ran out of memory.
    const std::string report = readFile("RAPORT.XML");
    if (report.find("</Raport>") != std::string::npos) {
      EXPECT_NE(report.find("<Raport operacja="), std::string::npos) << report;
    }
    quorvel_module_detach();
  }
  FAIL() << "the load never succeeded";
}

// A refused job whose empty device-data file cannot be written either: that failure is named in
// the report, but the report's status and the error number stay the reason the job was refused.
TEST(CoreAttach, RefusedJobKeepsItsReasonWhenTheDeviceDataFileFailsToo) {
  const struct {
    const char* job;  // null: no job file
    const char* reason;
    int number;
  } cases[] = {
      {nullptr, "Brak pliku VEXA_JOB.XML", ERR_FILE_MISSING},
      {"<Dane operacja=\"Konfiguracja\">\n<X/></Dane>", "VEXA_JOB.XML: Nieprawidłowy element w linii 2 (kolumna 1, element X)"_cp,
       ERR_TEXT_ONLY},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reason);
    ScratchDir dir;
    if (c.job) writeFile("VEXA_JOB.XML", c.job);
    std::filesystem::create_directory("PROG_KOM.XML");
    EXPECT_EQ(quorvel_module_attach(), 0);
    quorvel_module_detach();
    EXPECT_EQ(GetErrorNum(), c.number);
    const std::string report = readFile("RAPORT.XML");
    EXPECT_EQ(schemaErrors("RAPORT.XML", "Raport.xsd"), "") << report;
    EXPECT_NE(report.find("<Treść>Błąd tworzenia pliku PROG_KOM.XML</Treść>"_cp), std::string::npos) << report;
    EXPECT_NE(report.find(std::string("<Status>\r\n\t\t<Typ>E</Typ>\r\n\t\t<Treść>"_cp) + c.reason + "</Treść>"_cp),
              std::string::npos)
        << report;
  }
}

TEST(CoreAttach, EachLoadIsAFreshJob) {
  ScratchDir dir;
  // No job file: refused with error 6 pending ...
  EXPECT_EQ(quorvel_module_attach(), 0);
  EXPECT_EQ(GetErrorNum(), ERR_FILE_MISSING);
  quorvel_module_detach();
  // ... which must not refuse the next job in the same process.
  writeJob();
  ASSERT_EQ(quorvel_module_attach(), 1);
  EXPECT_EQ(GetErrorNum(), 0);
  ASSERT_NE(raport, nullptr);
  ASSERT_NE(vexa, nullptr);
  ASSERT_NE(progKom, nullptr);
  quorvel_module_detach();
  EXPECT_EQ(raport, nullptr);
  EXPECT_EQ(vexa, nullptr);
  EXPECT_EQ(progKom, nullptr);
  // The error state no longer reaches the finished report.
  const std::string finished = readFile("RAPORT.XML");
  SetError(ERR_UNKNOWN_OPERATION, "late");
  EXPECT_EQ(readFile("RAPORT.XML"), finished);
  expectCompleteResults();
  quorvel_module_detach();  // a second unload finds nothing to do
  EXPECT_EQ(readFile("RAPORT.XML"), finished);
}

// One job per directory, seen from one process: a link planted under the lock file's name is
// never followed (the directory is locked instead), and a load while a job is still loaded is
// refused without touching that job; the unload that follows the refusal leaves it running.
TEST(CoreAttach, JobDirectoryLockWithinOneProcess) {
  ScratchDir dir;
  writeJob();
  std::filesystem::create_symlink("elsewhere.lck", "QUORVEL.LCK");
  ASSERT_EQ(quorvel_module_attach(), 1);
  EXPECT_FALSE(quorvel::test::fileExists("elsewhere.lck")) << "the link was followed";
  const std::string running = readFile("RAPORT.XML");

  EXPECT_EQ(quorvel_module_attach(), 0);
  ASSERT_NE(quorvel_module_refusal(), nullptr);
  EXPECT_EQ(std::string(quorvel_module_refusal()).rfind("Katalog zadania jest zajęty"_cp, 0), 0u);
  quorvel_module_detach();
  EXPECT_NE(raport, nullptr);
  EXPECT_NE(vexa, nullptr);
  EXPECT_NE(progKom, nullptr);
  EXPECT_EQ(GetErrorNum(), 0);
  EXPECT_EQ(readFile("RAPORT.XML"), running);

  // A host that holds the directory across the unload keeps it until it has read the results:
  // a job loaded meanwhile is refused and leaves them alone.
  const int held = Quorvel_holdJobDirectory();
  ASSERT_GE(held, 0);
  quorvel_module_detach();
  expectCompleteResults();
  const std::string finished = readFile("RAPORT.XML");
  EXPECT_EQ(quorvel_module_attach(), 0);
  EXPECT_NE(quorvel_module_refusal(), nullptr);
  quorvel_module_detach();
  EXPECT_EQ(readFile("RAPORT.XML"), finished);
  EXPECT_EQ(Quorvel_holdJobDirectory(), -1) << "no job holds the directory";
  ::close(held);
  // Then the lock is gone with the job: the next load in the directory goes on.
  ASSERT_EQ(quorvel_module_attach(), 1);
  quorvel_module_detach();
}

// Progress as the core passes it on: a file only while a job holds the directory, only a
// regular one (a FIFO is never waited on), and the reports thinned out also past the total a
// driver announced.
TEST(CoreProgress, FileNamesAndThinningOut) {
  ScratchDir dir;
  writeJob();
  EXPECT_EQ(Quorvel_setProgressFile("PROGRESS.TXT"), -1) << "no job holds the directory";
  EXPECT_FALSE(quorvel::test::fileExists("PROGRESS.TXT"));

  ASSERT_EQ(::mkfifo("FIFO.TXT", 0644), 0);
  std::filesystem::create_symlink("elsewhere.txt", "LINK.TXT");
  ASSERT_EQ(quorvel_module_attach(), 1);
  const struct {
    const char* name;
    int result;
  } names[] = {{"FIFO.TXT", -1}, {"LINK.TXT", -1}, {"quorvel.lck", -1}, {"raport.xml", -1},
               {"../PROGRESS.TXT", -1}, {"PROGRESS.TXT", 0}};
  for (const auto& n : names) {
    ::alarm(20);  // a FIFO waited on would stall here
    EXPECT_EQ(Quorvel_setProgressFile(n.name), n.result) << n.name;
    ::alarm(0);
  }
  EXPECT_FALSE(quorvel::test::fileExists("elsewhere.txt"));
  EXPECT_EQ(readFile("QUORVEL.LCK"), "");

  // A register that sends far more records than it announced: after the end of the work is
  // reported once, the rest is thinned out like any other record.
  long calls = 0;
  Quorvel_setProgress([](void* context, long, long, const char*) { ++*static_cast<long*>(context); }, &calls);
  const auto start = std::chrono::steady_clock::now();
  for (long done = 1; done <= 100000; ++done) QuorvelProgress(done, std::max(done, 10L), "Odczyt");
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  EXPECT_LE(calls, 3 + elapsed.count() / 200) << "in " << elapsed.count() << " ms";
  quorvel_module_detach();
  const std::string lines = readFile("PROGRESS.TXT");
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), calls) << lines;
  EXPECT_EQ(lines.rfind("1 10 Odczyt\r\n", 0), 0u) << lines;
}

}  // namespace
