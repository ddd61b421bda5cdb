// The shared pieces of `quorvel demo`'s tours.
#include "host/demo_support.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "host/report_view.h"
#include "platform/module.h"
#include "platform/stop_signals.h"

#ifndef QUORVEL_INSTALL_LIBEXECDIR
#define QUORVEL_INSTALL_LIBEXECDIR "libexec"
#endif

namespace quorvel::demo {

std::string quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

bool writeBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out.flush());
}

std::string jobXml(const char* operation, const char* model, const std::string& goods) {
  return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Dane operacja=\"") + operation + "\" idModelu=\"" +
         model + "\" xmlns=\"http://schemas.quorvel.org/UF/Dane.xsd\">\n" + goods + "</Dane>\n";
}

std::string goodsXml(const DemoGoods& g) {
  std::string x = "  <Towar><Id>" + std::to_string(g.id) + "</Id><Ty>T</Ty><KP>" + std::to_string(g.plu) + "</KP>";
  if (*g.barcode) x += std::string("<KK>") + g.barcode + "</KK>";
  const std::string further = g.further;
  for (std::size_t at = 0; !further.empty() && at != std::string::npos;) {
    const std::size_t comma = further.find(',', at);
    x += "<DK>" + further.substr(at, comma == std::string::npos ? std::string::npos : comma - at) + "</DK>";
    at = comma == std::string::npos ? comma : comma + 1;
  }
  if (*g.linked) x += std::string("<KO>") + g.linked + "</KO>";
  x += std::string("<Na>") + g.name + "</Na><Ce>" + g.price + "</Ce><Va>" + std::to_string(g.vat) + "</Va>";
  if (g.group != 0) x += "<Gr>" + std::to_string(g.group) + "</Gr>";
  return x + "<JM>" + std::to_string(g.unit) + "</JM></Towar>\n";
}

std::string goodsXml(const DemoPackaging& p, const char* more) {
  return "  <Towar><Id>" + std::to_string(p.id) + "</Id><Ty>O</Ty><KP>" + std::to_string(p.plu) + "</KP><Na>" + p.name +
         "</Na><Ce>" + p.price + "</Ce>" + more + "</Towar>\n";
}

void showDeviceData(const std::string& path) {
  quorvel::host::DeviceDataView data;
  if (!quorvel::host::readDeviceData(path, data)) {
    std::printf("    (%s)\n", data.error.c_str());
    return;
  }
  quorvel::host::printDeviceData(data, stdout);
}

Tour::Tour(std::string dir) : dir_(std::move(dir)) {}

namespace {

// The private folder of an installation, and the build tree's layout beside it.
std::string installedFolder() {
  return quorvel::platform::ExecutableDirectory() + "/../" QUORVEL_INSTALL_LIBEXECDIR "/quorvel";
}

}  // namespace

std::string Tour::self() { return quorvel::platform::ExecutableDirectory() + "/quorvel"; }

std::string Tour::simulator(const std::string& program) {
  for (const std::string& folder : {installedFolder(), quorvel::platform::ExecutableDirectory()}) {
    const std::string path = folder + "/" + program;
    if (quorvel::platform::FileExecutable(path.c_str())) return path;
  }
  return "";
}

std::string Tour::simulatorFolders() {
  return installedFolder() + " and " + quorvel::platform::ExecutableDirectory();
}

std::string Tour::standinDir() {
  for (const std::string& folder : {installedFolder() + "/standins", quorvel::platform::ExecutableDirectory() + "/../standins"})
    if (quorvel::platform::FileExists(folder.c_str())) return folder;
  return "";
}

std::string Tour::standinFolders() {
  return installedFolder() + "/standins and " + quorvel::platform::ExecutableDirectory() + "/../standins";
}

void Tour::useStandins() {
  // The simulated register must answer whatever the environment named before: the stand-ins
  // alone, never a shop's real library from an earlier setting.
  quorvel::platform::SetEnvironmentVariable(quorvel::platform::kLibraryPathVariable, standinDir().c_str());
}

void Tour::checkpoint() {
  if (quorvel::platform::StopSignalReceived()) throw DemoStopped{false};
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) throw DemoStopped{true};
}

void Tour::step(const std::string& title, const char* operation) {
  checkpoint();
  if (operation)
    std::printf("== %d. %s (%s)\n", ++step_, title.c_str(), operation);
  else
    std::printf("== %d. %s\n", ++step_, title.c_str());
  checkpoint();
}

int Tour::runJob(const char* plugin, const std::string& title, const char* operation, const char* model,
                 const std::string& goods, bool showData) {
  step(title, operation);
  writeBytes(file("VEXA_JOB.XML"), jobXml(operation, model, goods));
  const int rc = quorvel::platform::RunProgram({self(), "run", plugin, "-C", dir_});
  checkpoint();
  const int status = rc >= 0 ? rc : kExitError;
  if (status >= kExitError && worst_ < status) worst_ = status;
  if (showData) {
    std::printf("  PROG_KOM.XML:\n");
    showDeviceData(file("PROG_KOM.XML"));
  }
  std::printf("\n");
  checkpoint();
  return status;
}

int Tour::shell(const std::string& command, bool mustSucceed) {
  checkpoint();
  const int rc = quorvel::platform::RunShellCommand(command);
  checkpoint();
  const int status = rc >= 0 ? rc : kExitError;
  if (status != 0 && mustSucceed) fail();
  return status;
}

bool Background::start(const std::vector<std::string>& argv, const std::string& readyPath) {
  if (argv.empty()) return false;
  Tour::checkpoint();
  pid_ = quorvel::platform::StartBackgroundProcess(argv);
  if (pid_ < 0) return false;
  // Up to two seconds, unless the demo is to end meanwhile.
  for (int i = 0; i < 100 && !readyPath.empty() && !quorvel::platform::FileExists(readyPath.c_str()); ++i) {
    Tour::checkpoint();
    quorvel::platform::WaitForFile(readyPath.c_str(), 20);
  }
  Tour::checkpoint();
  return true;
}

Background::~Background() {
  quorvel::platform::StopProcess(pid_);
}

}  // namespace quorvel::demo
