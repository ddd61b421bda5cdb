// The shared pieces of `quorvel demo`'s tours.
#include "host/demo_support.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "host/report_view.h"
#include "platform/module.h"

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

std::string Tour::self() { return quorvel::platform::ExecutableDirectory() + "/quorvel"; }
std::string Tour::binDir() { return quorvel::platform::ExecutableDirectory(); }
std::string Tour::standinDir() { return quorvel::platform::ExecutableDirectory() + "/../standins"; }

bool Tour::useStandins(const std::vector<std::string>& libraries, const char* buildHint) {
  const std::string folder = standinDir();
  for (const std::string& library : libraries) {
    const std::string path = folder + "/" + library;
    if (!quorvel::platform::FileReadable(path.c_str())) {
      std::fprintf(stderr, "quorvel demo: the stand-in %s is missing (%s)\n", path.c_str(), buildHint);
      return false;
    }
  }
  // The simulated register must answer whatever the environment named before: the stand-ins
  // alone, never a shop's real library from an earlier setting.
  quorvel::platform::SetEnvironmentVariable(quorvel::platform::kLibraryPathVariable, folder.c_str());
  return true;
}

void Tour::step(const std::string& title, const char* operation) {
  if (operation)
    std::printf("== %d. %s (%s)\n", ++step_, title.c_str(), operation);
  else
    std::printf("== %d. %s\n", ++step_, title.c_str());
  std::fflush(stdout);
}

int Tour::runJob(const char* plugin, const std::string& title, const char* operation, const char* model,
                 const std::string& goods, bool showData) {
  step(title, operation);
  writeBytes(file("VEXA_JOB.XML"), jobXml(operation, model, goods));
  const int rc = quorvel::platform::RunShellCommand(quoted(self()) + " run " + plugin + " -C " + quoted(dir_));
  const int status = rc >= 0 ? rc : kExitError;
  if (status >= kExitError && worst_ < status) worst_ = status;
  if (showData) {
    std::printf("  PROG_KOM.XML:\n");
    showDeviceData(file("PROG_KOM.XML"));
  }
  std::printf("\n");
  return status;
}

int Tour::shell(const std::string& command, bool mustSucceed) {
  std::fflush(stdout);
  const int rc = quorvel::platform::RunShellCommand(command);
  const int status = rc >= 0 ? rc : kExitError;
  if (status != 0 && mustSucceed) fail();
  return status;
}

bool Background::start(const std::vector<std::string>& argv, const std::string& readyPath) {
  if (argv.empty()) return false;
  std::fflush(stdout);
  pid_ = quorvel::platform::StartBackgroundProcess(argv);
  if (pid_ < 0) return false;
  if (!readyPath.empty()) quorvel::platform::WaitForFile(readyPath.c_str(), 2000);
  return true;
}

Background::~Background() {
  quorvel::platform::StopProcess(pid_);
}

}  // namespace quorvel::demo
