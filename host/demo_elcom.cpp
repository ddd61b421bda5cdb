// The Elcom tour of `quorvel demo`: the Elcom driver against the simulated register on a
// pseudo-terminal, the way a shop's sales application runs it, one job after the other.

#include <cstdio>
#include <string>

#include "host/demo_support.h"

namespace quorvel::demo {
namespace {

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

// The demo shop's goods (no groups, further barcodes or linked packagings on this register).
const DemoGoods kGoods[] = {
    {101, 1, "Chleb żytni", "4.20", 3, 0, 1, "5901234123457", "", ""},
    {102, 2, "Bułka pszenna", "0.65", 3, 0, 1, "", "", ""},
    {103, 3, "Masło ekstra", "7.49", 3, 0, 1, "5900512300108", "", ""},
    {104, 4, "Mleko 3,2% 1l", "3.29", 3, 0, 1, "5900820000127", "", ""},
    {105, 5, "Ser żółty", "29.90", 3, 0, 2, "", "", ""},
    {106, 6, "Kiełbasa śląska", "24.50", 3, 0, 2, "", "", ""},
    {107, 7, "Jabłka Szampion", "4.99", 4, 0, 2, "", "", ""},
    {108, 8, "Ziemniaki", "2.49", 4, 0, 2, "", "", ""},
    {109, 9, "Woda źródlana 1,5l", "1.99", 2, 0, 1, "5901549275001", "", ""},
    {110, 10, "Sok pomarańczowy", "5.79", 2, 0, 1, "", "", ""},
    {111, 11, "Czekolada gorzka", "6.30", 2, 0, 1, "5901588016443", "", ""},
    {112, 12, "Kawa ziarnista", "32.00", 2, 0, 1, "", "", ""},
    {113, 13, "Herbata czarna", "8.45", 2, 0, 1, "", "", ""},
    {114, 14, "Cukier biały 1kg", "4.10", 2, 0, 1, "", "", ""},
    {115, 15, "Mąka pszenna", "3.15", 2, 0, 1, "", "", ""},
    {116, 16, "Jajka L 10 szt.", "11.90", 3, 0, 1, "", "", ""},
    {117, 17, "Śmietana 18%", "3.59", 3, 0, 1, "", "", ""},
    {118, 18, "Piwo jasne 0,5l", "3.99", 1, 0, 1, "5900535000014", "", ""},
    {119, 19, "Zapałki", "0.50", 1, 0, 1, "", "", ""},
    {120, 20, "Torba foliowa", "0.00", 1, 0, 1, "", "", ""},  // no price and no open price: skipped
};
// Returnable packages: identifier, package number 1..50, name, deposit.
const DemoPackaging kPackages[] = {
    {201, 1, "Butelka zwrotna", "0.50"},
    {202, 2, "Skrzynka na piwo", "10.00"},
    {203, 3, "Transporter", "7.00"},
};

std::string goodsXml() {
  std::string x;
  for (const DemoGoods& g : kGoods) x += goodsXml(g);
  for (const DemoPackaging& p : kPackages) x += goodsXml(p);
  return x;
}

}  // namespace

int runElcomTour(Tour& tour, const DemoOptions& options) {
  const int model = options.model == 0 ? 1 : options.model;
  if (model < 1 || model > 7) {
    std::fprintf(stderr, "quorvel demo: the Elcom model must be 1 to 7\n");
    return kExitUsage;
  }
  const std::string sim = Tour::simulator("elcom_sim");
  const std::string state = tour.file("kasa.txt");
  const std::string tty = tour.file("ttyElcom");

  std::printf("Quorvel demo: Elcom %s on a simulated register\nJob directory: %s\n\n", kModels[model],
              tour.dir().c_str());
  if (tour.shell(quoted(sim) + " init --state " + quoted(state) + " --model " + std::to_string(model)) != 0)
    return kExitError;
  Background simulator;
  if (!simulator.start({sim, "serve", "--state", state, "--link", tty}, tty)) return kExitError;
  // PROG_KOM.CFG as a shop would make it without a terminal: `quorvel config`.
  if (tour.shell(quoted(Tour::self()) + " config quorvel_elcom -C " + quoted(tour.dir()) + " " +
                 quoted("port=" + tty) + " model=" + kModels[model] + " >/dev/null") != 0)
    return kExitError;

  // Each job runs in its own `quorvel run`, as a sales application runs one job at a time.
  auto runJob = [&](const char* title, const char* operation, const std::string& goods, bool showData) {
    tour.runJob("quorvel_elcom", title, operation, kModels[model], goods, showData);
  };
  auto showRegister = [&](const char* title) {
    std::printf("-- %s:\n", title);
    tour.shell(quoted(sim) + " show --state " + quoted(state));
    std::printf("\n");
  };

  runJob("Connection check", "SprawdzeniePołączenia", "", false);
  runJob("Sending goods and packages", "PrzesyłanieTowarów", goodsXml(), true);
  showRegister("The register now holds");
  runJob("Importing the register's goods", "ImportTowarów", "", true);
  const char* sales[] = {"plu 1 3 12.60", "plu 4 2 6.58", "plu 5 0.456 13.63", "plu 9 6 11.94",
                         "plu 18 4 15.96", "package 1 4 2.00"};
  tour.step("A few sales at the register");
  for (const char* s : sales) {
    std::printf("    sell %s\n", s);
    tour.shell(quoted(sim) + " sell --state " + quoted(state) + " " + s);
  }
  std::printf("\n");
  runJob("Reading the sales and clearing the counters", "OdbiórSprzedaży", "", true);
  showRegister("The register after the read-out (PLU counters cleared; package counters need a report)");
  return tour.exitStatus();
}

}  // namespace quorvel::demo
