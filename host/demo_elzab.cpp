// The Elzab tour of `quorvel demo`: the Elzab driver against the stand-in for Elzab's WinIP
// library, which plays a register kept in a file of the job directory, one job after the other.
#include <cstdio>
#include <string>

#include "host/demo_support.h"

namespace quorvel::demo {
namespace {

constexpr const char* kModel = "Quorvel_Elzab";

// The demo shop's goods (no groups on this register).
const DemoGoods kGoods[] = {
    {101, 1, "Chleb żytni", "4.20", 1, 0, 1, "5901234123457", "", ""},
    {102, 2, "Bułka pszenna", "0.65", 1, 0, 1, "", "", ""},
    {103, 3, "Mleko 3,2% 1l", "3.29", 1, 0, 1, "5900820000127", "5900820000134,2000000000015", ""},
    {104, 4, "Ser żółty", "29.90", 1, 0, 2, "", "", ""},
    {105, 5, "Kiełbasa śląska", "24.50", 1, 0, 2, "", "", ""},
    {106, 6, "Jabłka Szampion", "4.99", 2, 0, 2, "", "", ""},
    {107, 10, "Piwo jasne 0,5l", "3.99", 3, 0, 1, "5900535000014", "", "40"},
    {108, 11, "Piwo ciemne 0,5l", "4.49", 3, 0, 1, "5900535000021", "", "40"},
    {109, 12, "Woda źródlana 1,5l", "1.99", 2, 0, 1, "5901549275001", "", ""},
    {110, 20, "Śmietana 18%", "3.59", 1, 0, 1, "", "", ""},  // PLU 20 holds other goods: refused
};
// Returnable packagings: identifier, PLU, name, deposit.
const DemoPackaging kPackages[] = {
    {201, 40, "Butelka zwrotna", "0.50"},
    {202, 41, "Skrzynka na piwo", "10.00"},
};

std::string goodsXml() {
  std::string x;
  for (const DemoPackaging& p : kPackages) x += goodsXml(p, "<Va>4</Va><JM>1</JM>");
  for (const DemoGoods& g : kGoods) x += goodsXml(g);
  return x;
}

// New prices for two goods, and a PLU the register does not know.
const char* const kNewPrices =
    "  <Towar><Id>101</Id><Ty>T</Ty><KP>1</KP><Ce>4.50</Ce></Towar>\n"
    "  <Towar><Id>107</Id><Ty>T</Ty><KP>10</KP><Ce>4.19</Ce></Towar>\n"
    "  <Towar><Id>199</Id><Ty>T</Ty><KP>99</KP><Ce>9.99</Ce></Towar>\n";

}  // namespace

int runElzabTour(Tour& tour, const DemoOptions& /*options*/) {
  const std::string sim = Tour::simulator("elzab_sim");
  // The driver finds the stand-in through QUORVEL_LIBRARY_PATH, where a shop names the folder
  // of its WinIP; the job directory itself is never searched.
  Tour::useStandins();
  const std::string state = tour.file("ELZAB_SIM.TXT");
  // The stand-in in every job and elzab_sim here play the same register, whatever the
  // environment named before.
  quorvel::platform::SetEnvironmentVariable("QUORVEL_ELZAB_STATE", state.c_str());
  auto simCommand = [&](const std::string& args) { return quoted(sim) + " " + args + " --state " + quoted(state); };

  std::printf(
      "Quorvel demo: Elzab register through WinIP (a stand-in that simulates the register)\n"
      "Job directory: %s\n\n",
      tour.dir().c_str());
  // A register that already holds goods of its own at PLU 20.
  if (tour.shell(simCommand("init --register 1")) != 0 ||
      tour.shell(simCommand("goods 20 'Stary towar' 1.00 1 1 1")) != 0)
    return kExitError;
  // PROG_KOM.CFG as a shop would make it without a terminal: `quorvel config`. WinIP names
  // the register's line COM1 to COM4.
  if (tour.shell(quoted(Tour::self()) + " config quorvel_elzab -C " + quoted(tour.dir()) +
                 " port=COM1 speed=9600 register=1 >/dev/null") != 0)
    return kExitError;

  auto runJob = [&](const char* title, const char* operation, const std::string& goods, bool showData) {
    tour.runJob("quorvel_elzab", title, operation, kModel, goods, showData);
  };
  auto showRegister = [&](const char* title) {
    std::printf("-- %s:\n", title);
    tour.shell(simCommand("show"));
    std::printf("\n");
  };

  runJob("Connection check", "SprawdzeniePołączenia", "", false);
  runJob("Sending goods, packagings, links and further barcodes", "PrzesyłanieTowarów", goodsXml(), true);
  showRegister("The register now holds (PLU 20 kept its own goods)");
  runJob("Importing the register's goods", "ImportTowarów", "", true);
  runJob("Changing prices (PLU 99 is not in the register)", "ZmianaCenTowarów", kNewPrices, true);

  const char* const sales[] = {"sell 1 3 12.60", "sell 3 2 6.58",    "sell 4 0.456 13.63", "sell 10 6 23.94",
                               "sell 40 6 3.00", "return 40 4 2.00", "return 41 1 10.00"};
  tour.step("A few sales at the register (packagings sold with beer, some taken back)");
  for (const char* s : sales) {
    std::printf("    %s\n", s);
    tour.shell(simCommand(s));
  }
  std::printf("\n");
  runJob("Reading the sales", "OdbiórSprzedaży", "", true);
  showRegister("The register after the read-out (its counters cleared)");
  return tour.exitStatus();
}

}  // namespace quorvel::demo
