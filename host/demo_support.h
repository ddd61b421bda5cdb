// The pieces every tour of `quorvel demo` shares: the job directory of one tour, jobs run by
// `quorvel run` as a sales application runs them, and simulated registers in the background.
#pragma once

#include <string>
#include <vector>

#include "platform/process.h"

namespace quorvel::demo {

constexpr int kExitOk = 0;
constexpr int kExitError = 2;
constexpr int kExitUsage = 64;
constexpr int kExitMissing = 69;        // a simulator or stand-in is not there
constexpr int kExitInterrupted = 130;   // SIGINT, SIGTERM or SIGHUP ended the demo
constexpr int kExitOutputClosed = 141;  // whoever read the output went away (as SIGPIPE ends a program)

// Thrown through a tour that must end at once; the tour's simulators are stopped on the way out.
struct DemoStopped {
  bool outputClosed;  // false: a stop signal came
};

// What the command line chose for the tours (0: the tour's own default).
struct DemoOptions {
  int model = 0;
};

std::string quoted(const std::string& s);
bool writeBytes(const std::string& path, const std::string& bytes);
// The job file VEXA_JOB.XML in UTF-8 (the job reader takes any encoding the XML parser knows).
std::string jobXml(const char* operation, const char* model, const std::string& goods);
// The records of PROG_KOM.XML, one line each.
void showDeviceData(const std::string& path);

// A goods record of a tour's job: identifier, PLU, name, price, VAT, group (0: not given),
// unit, barcode, further barcodes ("a,b" or "") and linked packaging ("" or its PLU).
struct DemoGoods {
  int id, plu;
  const char* name;
  const char* price;
  int vat, group, unit;
  const char* barcode;
  const char* further;
  const char* linked;
};
// A returnable packaging of a tour's job: identifier, PLU (package number), name, deposit.
struct DemoPackaging {
  int id, plu;
  const char* name;
  const char* price;
};
// One <Towar> line of a job for each; `more` follows the packaging's price.
std::string goodsXml(const DemoGoods& g);
std::string goodsXml(const DemoPackaging& p, const char* more = "");

// One tour: its job directory, the numbered steps, and the worst exit status of its jobs.
class Tour {
 public:
  explicit Tour(std::string dir);
  const std::string& dir() const { return dir_; }
  std::string file(const std::string& name) const { return dir_ + "/" + name; }
  // This program.
  static std::string self();
  // The simulator `program` (elcom_sim, ...): in an installation in the private folder
  // libexec/quorvel, in the build tree beside this program; "" when it is in neither.
  static std::string simulator(const std::string& program);
  // The folder of the vendor-library stand-ins: libexec/quorvel/standins in an installation,
  // standins/ in the build tree; "" when neither is there.
  static std::string standinDir();
  // The folders looked in for simulators and stand-ins, for a message saying they are missing.
  static std::string simulatorFolders();
  static std::string standinFolders();
  // Names the stand-ins' folder in QUORVEL_LIBRARY_PATH for every job of the tour, as a shop
  // names the folder of its vendor libraries.
  static void useStandins();
  // Ends the tour by throwing DemoStopped when a stop signal came or the output is gone.
  static void checkpoint();

  // Prints "== N. title" (and the operation when given).
  void step(const std::string& title, const char* operation = nullptr);
  // Writes VEXA_JOB.XML and runs `quorvel run PLUGIN -C DIR`; shows PROG_KOM.XML when asked.
  // Returns the exit status of `quorvel run`; 2 and 3 make the tour fail.
  int runJob(const char* plugin, const std::string& title, const char* operation, const char* model,
             const std::string& goods, bool showData);
  // Runs a shell command; a non-zero exit makes the tour fail when `mustSucceed`.
  int shell(const std::string& command, bool mustSucceed = true);
  void fail() { worst_ = kExitError; }
  int exitStatus() const { return worst_ == 0 ? kExitOk : kExitError; }

 private:
  std::string dir_;
  int step_ = 0;
  int worst_ = 0;
};

// A simulated register serving in the background, stopped (SIGTERM) when this object goes; it
// ends with this program too, however that ends.
class Background {
 public:
  // Starts argv[0] with its output on /dev/null; when `readyPath` is given, waits up to two
  // seconds for it to appear. Returns false when the program cannot be started.
  bool start(const std::vector<std::string>& argv, const std::string& readyPath = "");
  ~Background();
  Background() = default;
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;

 private:
  quorvel::platform::ProcessId pid_ = -1;
};

// The tours. Each gets a fresh job directory and returns 0 or 2.
int runElcomTour(Tour& tour, const DemoOptions& options);
int runElzabTour(Tour& tour, const DemoOptions& options);
int runPosnetTour(Tour& tour, const DemoOptions& options);

}  // namespace quorvel::demo
