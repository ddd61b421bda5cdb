// The POSNET tour of `quorvel demo`: the POSNET driver through the stand-ins for libposnet and
// libhlapi against the simulated register, first over TCP, then one step over the serial line
// (a pseudo-terminal), the way a shop's sales application runs it, one job after the other.

#include <cstdio>
#include <fstream>
#include <string>

#include "host/demo_support.h"
#include "platform/job_dir.h"

namespace quorvel::demo {
namespace {

constexpr const char* kModel = "Quorvel_Posnet_Combo";

// The demo shop's goods: identifier, PLU, name, price, VAT rate, group, unit, barcode, further
// barcodes, linked packaging.
const DemoGoods kGoods[] = {
    {101, 1, "Chleb żytni", "4.20", 1, 2, 1, "5901234123457", "", ""},
    {102, 2, "Bułka pszenna", "0.65", 1, 2, 1, "", "", ""},
    {103, 3, "Masło ekstra", "7.49", 1, 1, 1, "5900512300108", "", ""},
    {104, 4, "Mleko 3,2% 1l", "3.29", 1, 1, 1, "5900820000127", "5900820000134,5900820000141", ""},
    {105, 5, "Ser żółty", "29.90", 1, 1, 2, "", "", ""},
    {106, 6, "Kiełbasa śląska", "24.50", 1, 1, 2, "", "", ""},
    {107, 7, "Jabłka Szampion", "4.99", 2, 1, 2, "", "", ""},
    {108, 8, "Woda źródlana 1,5l", "1.99", 0, 1, 1, "5901549275001", "", ""},
    {109, 9, "Piwo jasne 0,5l", "3.99", 0, 1, 1, "5900535000014", "", "1"},
    {110, 10, "Śmietana 18%", "3.59", 1, 7, 1, "", "", ""},  // group 7 is not programmed: refused
};
// Returnable packagings: identifier, PLU, name, deposit.
const DemoPackaging kPackagings[] = {
    {201, 1, "Butelka zwrotna", "0.50"},
    {202, 2, "Skrzynka na piwo", "10.00"},
};

std::string goodsXml() {
  std::string x;
  for (const DemoPackaging& p : kPackagings) x += goodsXml(p);
  for (const DemoGoods& g : kGoods) x += goodsXml(g);
  return x;
}

std::string firstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

}  // namespace

int runPosnetTour(Tour& tour, const DemoOptions&) {
  const std::string sim = Tour::simulator("posnet_sim");
  const std::string state = tour.file("kasa.txt");
  const std::string tty = tour.file("ttyPosnet");
  const std::string portFile = tour.file("posnet.port");
  // The driver finds the stand-ins for the vendor's libraries through QUORVEL_LIBRARY_PATH,
  // where a shop names the folder of its libposnet and libhlapi.
  Tour::useStandins();

  std::printf("Quorvel demo: POSNET %s on a simulated register, over TCP and over a serial line\nJob directory: %s\n\n",
              kModel, tour.dir().c_str());
  if (tour.shell(quoted(sim) + " init --state " + quoted(state)) != 0 ||
      tour.shell(quoted(sim) + " add group 2 Pieczywo --state " + quoted(state)) != 0)
    return kExitError;
  quorvel::platform::RemoveFile(portFile.c_str());
  Background simulator;
  if (!simulator.start({sim, "serve", "--state", state, "--port", "0", "--port-file", portFile, "--link", tty},
                       portFile))
    return kExitError;
  const std::string address = "127.0.0.1:" + firstLine(portFile);
  auto configure = [&](const std::string& settings) {
    return tour.shell(quoted(Tour::self()) + " config quorvel_posnet -C " + quoted(tour.dir()) + " " + settings +
                      " >/dev/null");
  };
  // PROG_KOM.CFG as a shop would make it without a terminal: `quorvel config`.
  if (configure("connection=Ethernet " + quoted("ip=" + address)) != 0) return kExitError;

  auto runJob = [&](const char* title, const char* operation, const std::string& goods, bool showData) {
    tour.runJob("quorvel_posnet", title, operation, kModel, goods, showData);
  };
  auto showRegister = [&](const char* title) {
    std::printf("-- %s:\n", title);
    tour.shell(quoted(sim) + " show --state " + quoted(state));
    std::printf("\n");
  };

  std::printf("-- Over TCP, %s\n\n", address.c_str());
  runJob("Connection check", "SprawdzeniePołączenia", "", false);
  runJob("Sending packagings and goods (group 7 is not in the register)", "PrzesyłanieTowarów", goodsXml(), true);
  showRegister("The register now holds");
  runJob("Importing the register's goods and packagings", "ImportTowarów", "", true);
  const char* sales[] = {"sell goods 1 3 12.60",   "sell goods 4 2 6.58", "sell goods 5 0.456 13.63",
                         "sell goods 9 6 23.94",   "sell pack 1 6 3.00",  "return pack 1 4 2.00",
                         "return pack 2 1 10.00"};
  tour.step("A few sales at the register");
  for (const char* s : sales) {
    std::printf("    %s\n", s);
    tour.shell(quoted(sim) + " " + s + " --state " + quoted(state));
  }
  std::printf("\n");
  runJob("Reading the sales and clearing the counters", "OdbiórSprzedaży", "", true);
  showRegister("The register after the read-out (counters cleared)");

  // The same register on its serial line.
  if (configure("connection=RS-232 " + quoted("port=" + tty) + " speed=115200") != 0) return kExitError;
  std::printf("-- Over the serial line %s at 115200 bit/s\n\n", tty.c_str());
  runJob("New prices over the serial line", "ZmianaCenTowarów",
         "  <Towar><Id>101</Id><Ty>T</Ty><KP>1</KP><Na>Chleb żytni</Na><Ce>4.50</Ce></Towar>\n"
         "  <Towar><Id>201</Id><Ty>O</Ty><KP>1</KP><Na>Butelka zwrotna</Na><Ce>0.60</Ce></Towar>\n",
         true);
  return tour.exitStatus();
}

}  // namespace quorvel::demo
