// elzab_sim: makes, shows and edits the state of the simulated Elzab register that the WinIP
// stand-in (standins/libWinIP.so) plays, records sales at it and plans its misbehaviour.
//
// `elzab_sim --help` describes its commands (kHelp below).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "sim/sim_command_line.h"
#include "sim/winip/elzab_register.h"

using namespace quorvel::elzabsim;

namespace {

const char* const kHelp = R"(Usage: elzab_sim COMMAND [--state FILE] [ARGUMENTS]

The simulated Elzab register behind the WinIP stand-in (standins/libWinIP.so). The register
keeps its goods, packagings (at most 64), links, further barcodes, sales counters and the
faults it is to play in a text file: ELZAB_SIM.TXT in the current directory (the job
directory, where the stand-in runs), or the file named by QUORVEL_ELZAB_STATE, or --state.
The driver reaches the stand-in as it reaches a shop's WinIP: name its folder in
QUORVEL_LIBRARY_PATH (an absolute folder), e.g.
QUORVEL_LIBRARY_PATH="$PWD/build/standins" quorvel run quorvel_elzab;
a WinIP lying in the job directory is never loaded.

Commands:
  init [--register N]      write a fresh register (no goods, no faults), number N (default 1)
  show                     print the register: goods, packagings, links, barcodes, sales, faults
  seed GOODS [--packagings P] [--links L] [--barcodes B]
                           program goods 1..GOODS ("Towar N"), packagings GOODS+1..GOODS+P,
                           link goods 1..L with the packagings in turn and give goods 1..B a
                           further barcode each (room for links grows to L when needed)
  goods PLU NAME PRICE [VAT [GROUP [UNIT [BARCODE]]]] [--packaging]
                           program one goods (NAME in UTF-8, at most 19 characters)
  sell PLU QUANTITY VALUE  add a sale of goods or a packaging, e.g. sell 12 1.5 3.75
  return PLU QUANTITY VALUE
                           add a packaging taken back (read out in EZB_SPR3.TXT)
  set register|linkmax|barcodemax|modem|delay VALUE
                           change the register number, the room for links or further
                           barcodes, the modem connection (0 or 1), or the milliseconds
                           every WinIP call takes more (a slow line)
  set line COMn SPEED | set line any
                           the line the register sits on: COM1 to COM4 at 9600 or 19200
                           bit/s. WinIP names a register by its port and speed (KONFIG.TXT),
                           and the stand-in, which uses no line itself, answers a call
                           configured for another port or speed with result 21 (no register
                           answers), as no register is there; this is what 'quorvel detect'
                           finds. "any" (the default): it answers on every line
  fault FUNCTION[:PLU] ACTION [COUNT|always]
                           play a fault the next COUNT times (default 1) that FUNCTION (one
                           of WinIP's sixteen, or * for any) is called, about PLU when given:
                             code:N            answer result N and do nothing
                             nak               code:24, the register answered NAK
                             unsupported       code:25, as by older firmware (use "always")
                             send-timeout      code:20
                             receive-timeout   code:21
                             cut               act, then cut the result file short
                             garble            act, then put records no register writes
                                               (letters for numbers, bytes outside the code
                                               page, huge numbers, a 1500-character line)
                             noheader          act, then drop the result file's header
                             missing           act, then leave no result file
                             lost              act (write the result files, clear the
                                               counters), then answer code:21 as if the
                                               register's answer never came
                             empty             act, then leave the result file empty
                             comments          act, then keep only its comment lines
                             cr-only           act, then end its lines with CR alone
                             control:HH        act, then put the byte HH (00 to 1F, 7F) and
                                               a blank inside the first record's last field
  fault clear              forget every planned fault

Exit status: 0 on success, 1 when the state file cannot be read or written or the register
refuses (no such PLU, not a packaging, no room), 2 for a bad command line.
)";

const char* const kUsage =
    "usage: elzab_sim init|show|seed|goods|sell|return|set|fault [--state FILE] [arguments]\n"
    "Try 'elzab_sim --help'.\n";

int usage() {
  std::cerr << kUsage;
  return 2;
}

int fail(const std::string& why) {
  std::cerr << "elzab_sim: " << why << "\n";
  return 1;
}

// UTF-8 text padded with blanks to `width` characters.
std::string padded(const std::string& utf8, std::size_t width) {
  std::size_t chars = 0;
  for (unsigned char c : utf8)
    if ((c & 0xC0) != 0x80) ++chars;
  return chars >= width ? utf8 : utf8 + std::string(width - chars, ' ');
}

std::string barcodeText(const std::string& code) {
  const std::size_t first = code.find_first_not_of('0');
  return first == std::string::npos ? "-" : code;
}

int show(const Register& r) {
  const std::string line =
      r.linePort ? ", na porcie COM" + std::to_string(r.linePort) + " (" + std::to_string(r.lineSpeed) + " b/s)" : "";
  std::printf("Kasa Elzab nr %d: %zu towarów, %d opakowań, %d powiązań, %d dodatkowych kodów%s%s\n", r.registerNumber,
              r.goods().size() - static_cast<std::size_t>(r.packagingCount()), r.packagingCount(), r.linkCount(),
              r.barcodeCount(), r.modemUp ? ", modem połączony" : "", line.c_str());
  for (const auto& [plu, g] : r.goods()) {
    std::printf("%s %6d  %s  VAT %d  gr %2d  jm %2d  cena %s  kod %s", g.packaging ? "Opak." : "PLU  ", plu,
                padded(nameToUtf8(g.name), 19).c_str(), g.vat, g.group, g.unit, formatDecimal(g.price, 100).c_str(),
                barcodeText(g.barcode).c_str());
    if (g.link) std::printf("  opakowanie %d", g.link);
    for (const std::string& b : g.barcodes) std::printf("  +kod %s", b.c_str());
    if (g.soldQuantity || g.soldValue)
      std::printf("  sprzedaż %s szt. %s", formatDecimal(g.soldQuantity, 1000).c_str(),
                  formatDecimal(g.soldValue, 100).c_str());
    if (g.returnedQuantity || g.returnedValue)
      std::printf("  zwroty %s szt. %s", formatDecimal(g.returnedQuantity, 1000).c_str(),
                  formatDecimal(g.returnedValue, 100).c_str());
    std::printf("\n");
  }
  for (const Fault& f : r.faults)
    std::printf("fault %s %s\n", faultKey(f).c_str(), quorvel::sim::faultCountText(f.count).c_str());
  return 0;
}

bool number(const std::string& text, long long lo, long long hi, long long& out) {
  return parseInt(text, out) && out >= lo && out <= hi;
}

int seed(Register& r, const std::vector<std::string>& args) {
  long long goods = 0, packagings = 0, links = 0, barcodes = 0;
  if (args.empty() || !number(args[0], 0, kMaxPlu, goods)) return usage();
  for (std::size_t i = 1; i < args.size(); i += 2) {
    if (i + 1 >= args.size()) return usage();
    long long v = 0;
    if (!number(args[i + 1], 0, kMaxPlu, v)) return usage();
    if (args[i] == "--packagings")
      packagings = v;
    else if (args[i] == "--links")
      links = v;
    else if (args[i] == "--barcodes")
      barcodes = v;
    else
      return usage();
  }
  if (packagings > kMaxPackagings) return fail("a register holds at most 64 packagings");
  if (goods + packagings > kMaxPlu || links > goods || barcodes > goods) return fail("too many for the goods");
  if (links > 0 && packagings == 0) return fail("links need packagings (--packagings P)");
  for (long long plu = 1; plu <= goods + packagings; ++plu) {
    Goods g;
    g.packaging = plu > goods;
    g.name = (g.packaging ? "Opakowanie " : "Towar ") + std::to_string(plu);
    g.vat = g.packaging ? 4 : static_cast<int>(1 + plu % 4);
    g.group = static_cast<int>(1 + plu % 20);
    g.unit = static_cast<int>(plu % 3);
    g.price = 100 + (plu * 37) % 10000;
    g.barcode = std::to_string(5900000000000LL + plu);
    if (r.pluOfName(g.name) && r.pluOfName(g.name) != plu) return fail("the name " + g.name + " is taken");
    r.define(static_cast<int>(plu), g);
  }
  if (links > r.linkMax) r.linkMax = static_cast<int>(links);
  for (long long plu = 1; plu <= links; ++plu)
    r.setLink(static_cast<int>(plu), static_cast<int>(goods + 1 + (plu - 1) % packagings));
  if (barcodes + r.barcodeCount() > r.barcodeMax) r.barcodeMax = static_cast<int>(barcodes + r.barcodeCount());
  for (long long plu = 1; plu <= barcodes; ++plu)
    r.addBarcode(static_cast<int>(plu), std::to_string(2000000000000LL + plu));
  return 0;
}

int programOne(Register& r, const std::vector<std::string>& args) {
  std::vector<std::string> a;
  bool packaging = false;
  for (const std::string& s : args) {
    if (s == "--packaging")
      packaging = true;
    else
      a.push_back(s);
  }
  long long plu = 0, price = 0, vat = 1, group = 1, unit = 0;
  if (a.size() < 3 || a.size() > 7 || !number(a[0], 1, kMaxPlu, plu) || !parseDecimal(a[2], 100, price) || price < 0 || price > kMaxPrice ||
      (a.size() > 3 && !number(a[3], 1, 7, vat)) || (a.size() > 4 && !number(a[4], 1, 99, group)) ||
      (a.size() > 5 && !number(a[5], 0, 15, unit)))
    return usage();
  Goods g;
  g.name = nameFromUtf8(a[1]);
  if (g.name.empty() || g.name.size() > kNameLength) return fail("a name has 1 to 19 characters");
  if (a.size() > 6) {
    if (a[6].size() > 13 || a[6].find_first_not_of("0123456789") != std::string::npos) return usage();
    g.barcode = std::string(13 - a[6].size(), '0') + a[6];
  }
  g.vat = static_cast<int>(vat);
  g.group = static_cast<int>(group);
  g.unit = static_cast<int>(unit);
  g.price = price;
  g.packaging = packaging;
  const int holder = r.pluOfName(g.name);
  if (holder && holder != plu) return fail("PLU " + std::to_string(holder) + " has this name");
  const Goods* old = r.find(static_cast<int>(plu));
  if (packaging && !(old && old->packaging) && r.packagingCount() >= kMaxPackagings)
    return fail("a register holds at most 64 packagings");
  r.define(static_cast<int>(plu), g);
  return 0;
}

int record(Register& r, const std::vector<std::string>& args, bool returned) {
  long long plu = 0, quantity = 0, value = 0;
  if (args.size() != 3 || !number(args[0], 1, kMaxPlu, plu) || !parseDecimal(args[1], 1000, quantity) ||
      !parseDecimal(args[2], 100, value))
    return usage();
  const Goods* g = r.find(static_cast<int>(plu));
  if (!g) return fail("PLU " + args[0] + " is not programmed");
  if (returned && !g->packaging) return fail("PLU " + args[0] + " is not a packaging");
  if (returned)
    r.setSales(static_cast<int>(plu), g->soldQuantity, g->soldValue, g->returnedQuantity + quantity,
               g->returnedValue + value);
  else
    r.setSales(static_cast<int>(plu), g->soldQuantity + quantity, g->soldValue + value, g->returnedQuantity,
               g->returnedValue);
  return 0;
}

int setting(Register& r, const std::vector<std::string>& args) {
  long long v = 0;
  if (args.size() == 3 && args[0] == "line") {
    const std::string& port = args[1];
    if (port.size() != 4 || port.compare(0, 3, "COM") != 0 || port[3] < '1' || port[3] > '4' ||
        (args[2] != "9600" && args[2] != "19200"))
      return usage();
    r.linePort = port[3] - '0';
    r.lineSpeed = std::atoi(args[2].c_str());
    return 0;
  }
  if (args.size() != 2) return usage();
  if (args[0] == "register" && number(args[1], 1, 99, v))
    r.setRegisterNumber(static_cast<int>(v));
  else if (args[0] == "linkmax" && number(args[1], 0, 10000000, v))
    r.linkMax = static_cast<int>(v);
  else if (args[0] == "barcodemax" && number(args[1], 0, 10000000, v))
    r.barcodeMax = static_cast<int>(v);
  else if (args[0] == "modem" && number(args[1], 0, 1, v))
    r.setModem(v == 1);
  else if (args[0] == "delay" && number(args[1], 0, 600000, v))
    r.delayMs = static_cast<int>(v);
  else if (args[0] == "line" && args[1] == "any")
    r.linePort = r.lineSpeed = 0;
  else
    return usage();
  return 0;
}

int fault(Register& r, const std::vector<std::string>& args) {
  if (args.size() == 1 && args[0] == "clear") {
    r.clearFaults();
    return 0;
  }
  if (args.size() < 2 || args.size() > 3) return usage();
  Fault f;
  f.action = args[1];
  if (!parseFaultTarget(args[0], f) || !normaliseFaultAction(f.action)) return usage();
  f.count = 1;
  if (args.size() == 3 && (!quorvel::sim::parseFaultCount(args[2], f.count, 1, 1000000))) return usage();
  r.addFault(f);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  long long registerNumber = 1;
  quorvel::sim::CommandLineRules rules{kHelp, kUsage, {}, {}, {}, {}};
  rules.valued["--register"] = [&](const std::string& v) { return number(v, 1, 99, registerNumber); };
  rules.kept = {"--packagings", "--links", "--barcodes", "--packaging"};
  rules.onlyFor = {{"--register", "init"},
                   {"--packagings", "seed"},
                   {"--links", "seed"},
                   {"--barcodes", "seed"},
                   {"--packaging", "goods"}};
  quorvel::sim::CommandLine line;
  line.state = defaultStatePath();
  if (const int rc = quorvel::sim::readCommandLine(argc, argv, rules, line); rc >= 0) return rc;
  const std::string& verb = line.command;
  const std::string& state = line.state;
  const std::vector<std::string>& args = line.args;

  Register r;
  std::string error;
  if (verb == "init") {
    if (!args.empty()) return usage();
    r.registerNumber = static_cast<int>(registerNumber);
  } else if (!loadRegister(state, r, error)) {
    return fail(error + " (make it with 'elzab_sim init')");
  }
  int rc = 0;
  if (verb == "show") return args.empty() ? show(r) : usage();
  if (verb == "seed")
    rc = seed(r, args);
  else if (verb == "goods")
    rc = programOne(r, args);
  else if (verb == "sell" || verb == "return")
    rc = record(r, args, verb == "return");
  else if (verb == "set")
    rc = setting(r, args);
  else if (verb == "fault")
    rc = fault(r, args);
  else if (verb != "init")
    return usage();
  if (rc != 0) return rc;
  if (!saveRegister(state, r)) return fail("cannot write " + state);
  return 0;
}
