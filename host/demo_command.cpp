// `quorvel demo`: runs the Elcom driver end to end against the simulated register, the way a
// shop's sales application would, one job after the other in one job directory.
#include "host/demo_command.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "host/report_view.h"
#include "platform/module.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitError = 2;
constexpr int kExitUsage = 64;

// The register models as a job names them (elcom_sim --model 1 to 7).
constexpr const char* kModels[] = {
    "",
    "Quorvel_Elcom_Euro500T2",
    "Quorvel_Elcom_Euro500T10",
    "Quorvel_Elcom_Euro500TX2",
    "Quorvel_Elcom_Euro500TX10",
    "Quorvel_Elcom_EuroSmart",
    "Quorvel_Elcom_Euro2100TX8",
    "Quorvel_Elcom_Euro2100TX27",
};

// The demo shop's goods: identifier, PLU code, name, price, VAT index, unit, barcode.
struct Goods {
  int id, kp;
  const char* name;
  const char* price;
  int vat, unit;
  const char* barcode;
};
const Goods kGoods[] = {
    {101, 1, "Chleb żytni", "4.20", 3, 1, "5901234123457"},
    {102, 2, "Bułka pszenna", "0.65", 3, 1, ""},
    {103, 3, "Masło ekstra", "7.49", 3, 1, "5900512300108"},
    {104, 4, "Mleko 3,2% 1l", "3.29", 3, 1, "5900820000127"},
    {105, 5, "Ser żółty", "29.90", 3, 2, ""},
    {106, 6, "Kiełbasa śląska", "24.50", 3, 2, ""},
    {107, 7, "Jabłka Szampion", "4.99", 4, 2, ""},
    {108, 8, "Ziemniaki", "2.49", 4, 2, ""},
    {109, 9, "Woda źródlana 1,5l", "1.99", 2, 1, "5901549275001"},
    {110, 10, "Sok pomarańczowy", "5.79", 2, 1, ""},
    {111, 11, "Czekolada gorzka", "6.30", 2, 1, "5901588016443"},
    {112, 12, "Kawa ziarnista", "32.00", 2, 1, ""},
    {113, 13, "Herbata czarna", "8.45", 2, 1, ""},
    {114, 14, "Cukier biały 1kg", "4.10", 2, 1, ""},
    {115, 15, "Mąka pszenna", "3.15", 2, 1, ""},
    {116, 16, "Jajka L 10 szt.", "11.90", 3, 1, ""},
    {117, 17, "Śmietana 18%", "3.59", 3, 1, ""},
    {118, 18, "Piwo jasne 0,5l", "3.99", 1, 1, "5900535000014"},
    {119, 19, "Zapałki", "0.50", 1, 1, ""},
    {120, 20, "Torba foliowa", "0.00", 1, 1, ""},  // no price and no open price: skipped
};
// Returnable packages: identifier, package number 1..50, name, deposit.
struct Package {
  int id, kp;
  const char* name;
  const char* price;
};
const Package kPackages[] = {
    {201, 1, "Butelka zwrotna", "0.50"},
    {202, 2, "Skrzynka na piwo", "10.00"},
    {203, 3, "Transporter", "7.00"},
};

std::string quoted(const std::string& s) { return "'" + s + "'"; }

bool writeBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out.flush());
}

// The job file, in UTF-8 (the job reader takes any encoding the XML parser knows).
std::string job(const char* operation, const char* model, const std::string& goods) {
  return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Dane operacja=\"") + operation + "\" idModelu=\"" +
         model + "\" xmlns=\"http://schemas.quorvel.org/UF/Dane.xsd\">\n" + goods + "</Dane>\n";
}

std::string goodsXml() {
  std::string x;
  for (const Goods& g : kGoods) {
    x += "  <Towar><Id>" + std::to_string(g.id) + "</Id><Ty>T</Ty><KP>" + std::to_string(g.kp) + "</KP>";
    if (*g.barcode) x += std::string("<KK>") + g.barcode + "</KK>";
    x += std::string("<Na>") + g.name + "</Na><Ce>" + g.price + "</Ce><Va>" + std::to_string(g.vat) + "</Va><JM>" +
         std::to_string(g.unit) + "</JM></Towar>\n";
  }
  for (const Package& p : kPackages)
    x += "  <Towar><Id>" + std::to_string(p.id) + "</Id><Ty>O</Ty><KP>" + std::to_string(p.kp) + "</KP><Na>" + p.name +
         "</Na><Ce>" + p.price + "</Ce></Towar>\n";
  return x;
}

// The records of PROG_KOM.XML, one line each.
void showDeviceData(const std::string& path) {
  quorvel::host::DeviceDataView data;
  if (!quorvel::host::readDeviceData(path, data)) {
    std::printf("    (%s)\n", data.error.c_str());
    return;
  }
  quorvel::host::printDeviceData(data, stdout);
}

}  // namespace

int runDemoCommand(int argc, char** argv) {
  std::string dir;
  int model = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "-C" && i + 1 < argc) {
      dir = argv[++i];
    } else if (a == "--model" && i + 1 < argc) {
      model = std::atoi(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: quorvel demo [-C DIR] [--model 1..7]\n");
      return kExitUsage;
    }
  }
  if (model < 1 || model > 7) {
    std::fprintf(stderr, "quorvel demo: the model must be 1 to 7\n");
    return kExitUsage;
  }
  if (dir.empty()) {
    char tmpl[] = "/tmp/quorvel-demo-XXXXXX";
    if (!::mkdtemp(tmpl)) {
      std::perror("quorvel demo");
      return kExitError;
    }
    dir = tmpl;
  } else if (::access(dir.c_str(), F_OK) != 0 && std::system(("mkdir -p " + quoted(dir)).c_str()) != 0) {
    return kExitError;
  }
  const std::string sim = quorvel::platform::executableDirectory() + "/elcom_sim";
  const std::string state = dir + "/kasa.txt";
  const std::string tty = dir + "/ttyElcom";
  if (::access(sim.c_str(), X_OK) != 0) {
    std::fprintf(stderr, "quorvel demo: the simulated register %s is missing (build the target elcom_sim)\n",
                 sim.c_str());
    return kExitError;
  }

  std::printf("Quorvel demo: Elcom %s on a simulated register\nJob directory: %s\n\n", kModels[model],
              dir.c_str());
  if (std::system((quoted(sim) + " init --state " + quoted(state) + " --model " + std::to_string(model)).c_str()) != 0)
    return kExitError;
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::execl(sim.c_str(), sim.c_str(), "serve", "--state", state.c_str(), "--link", tty.c_str(), nullptr);
    ::_exit(127);
  }
  for (int i = 0; i < 100 && ::access(tty.c_str(), F_OK) != 0; ++i) ::usleep(20000);
  // PROG_KOM.CFG as a shop would make it without a terminal: `quorvel config`.
  const std::string self = quorvel::platform::executableDirectory() + "/quorvel";
  if (std::system((quoted(self) + " config quorvel_elcom -C " + quoted(dir) + " " + quoted("port=" + tty) + " model=" +
                   kModels[model] + " >/dev/null")
                      .c_str()) != 0)
    return kExitError;

  // Each job runs in its own `quorvel run`, as a sales application runs one job at a time.
  int worst = 0;
  int step = 0;
  auto runJob = [&](const char* title, const char* operation, const std::string& goods, bool showData) {
    std::printf("== %d. %s (%s)\n", ++step, title, operation);
    std::fflush(stdout);
    writeBytes(dir + "/VEXA_JOB.XML", job(operation, kModels[model], goods));
    const int rc = std::system((quoted(self) + " run quorvel_elcom -C " + quoted(dir)).c_str());
    const int status = WIFEXITED(rc) ? WEXITSTATUS(rc) : kExitError;
    if (status >= kExitError && worst < status) worst = status;
    if (showData) {
      std::printf("  PROG_KOM.XML:\n");
      showDeviceData(dir + "/PROG_KOM.XML");
    }
    std::printf("\n");
  };
  auto showRegister = [&](const char* title) {
    std::printf("-- %s:\n", title);
    std::fflush(stdout);
    std::system((quoted(sim) + " show --state " + quoted(state)).c_str());
    std::printf("\n");
  };

  runJob("Connection check", "SprawdzeniePołączenia", "", false);
  runJob("Sending goods and packages", "PrzesyłanieTowarów", goodsXml(), true);
  showRegister("The register now holds");
  runJob("Importing the register's goods", "ImportTowarów", "", true);
  const char* sales[] = {"plu 1 3 12.60", "plu 4 2 6.58", "plu 5 0.456 13.63", "plu 9 6 11.94",
                         "plu 18 4 15.96", "package 1 4 2.00"};
  std::printf("== %d. A few sales at the register\n", ++step);
  for (const char* s : sales) {
    std::printf("    sell %s\n", s);
    std::system((quoted(sim) + " sell --state " + quoted(state) + " " + s).c_str());
  }
  std::printf("\n");
  runJob("Reading the sales and clearing the counters", "OdbiórSprzedaży", "", true);
  showRegister("The register after the read-out (PLU counters cleared; package counters need a report)");

  ::kill(pid, SIGTERM);
  ::waitpid(pid, nullptr, 0);
  std::printf("Done. The files of the last job are in %s\n", dir.c_str());
  return worst == 0 ? kExitOk : kExitError;
}
