// A driver plug-in for the tests of the job core. It exports a chosen set of entry points
// (chosen when it is compiled) and records every call in TEST_PLUGIN.LOG in the current
// directory; TEST_PLUGIN.IN there tells it how to behave:
//
//   attach refuse     the load handler refuses
//   attach error N    the load handler sets error N, then refuses
//   result N          operation entry points return N
//   error N           operation entry points set error N ("plugin" as detail)
//   warning N         operation entry points set warning N
//   goods             operation entry points walk the catalogue and confirm each goods
//                     in PROG_KOM.XML
//   throw             operation entry points throw
//   komunikat N       operation entry points report a warning numbered N naming every goods
//                     of the catalogue
//   wait FILE         operation entry points, once logged, wait until FILE exists (at most
//                     a minute): a job held at work while a test does something beside it
//   keep FILE         operation entry points keep a copy of FILE in the job's history, marked
//                     as holding undelivered sales, as a driver that read a register's cleared
//                     counters does
//
// Variants: QTP_ALL_OPERATIONS exports all seventeen operations and opDriverInit/opDriverFree;
// QTP_BASIC_OPERATIONS only the nine operations every driver offers; QTP_NO_HANDLERS
// exports neither load handlers nor operations.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <new>
#include <sstream>
#include <string>

#include "core/error_state.h"
#include "core/globals.h"
#include "core/history.h"
#include "core/plugin_contract.h"
#include "core/records.h"
#include "core/xml/progkom_xml.h"
#include "core/xml/raport_xml.h"
#include "core/xml/vexa_xml.h"
#include "platform/api.h"

namespace {

struct Behaviour {
  bool attachRefuse = false;
  int attachError = 0;
  bool haveResult = false;
  int result = 0;
  int error = 0;
  int warning = 0;
  bool goods = false;
  bool doThrow = false;
  int komunikat = 0;
  std::string waitFor;
  std::string keep;
};

Behaviour readBehaviour() {
  Behaviour b;
  std::ifstream in("TEST_PLUGIN.IN");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string key, arg;
    words >> key >> arg;
    if (key == "attach" && arg == "refuse") b.attachRefuse = true;
    if (key == "attach" && arg == "error") words >> b.attachError;
    if (key == "result") b.haveResult = true, b.result = std::stoi(arg);
    if (key == "error") b.error = std::stoi(arg);
    if (key == "warning") b.warning = std::stoi(arg);
    if (key == "goods") b.goods = true;
    if (key == "throw") b.doThrow = true;
    if (key == "komunikat") b.komunikat = std::stoi(arg);
    if (key == "wait") b.waitFor = arg;
    if (key == "keep") b.keep = arg;
  }
  return b;
}

void log(const std::string& line) {
  std::ofstream out("TEST_PLUGIN.LOG", std::ios::app | std::ios::binary);
  out << line << '\n';
}

[[maybe_unused]] int operation(const char* name) {
  const Behaviour b = readBehaviour();
  std::string line = name;
  if (b.goods && vexa) {
    int count = 0;
    while (!vexa->TwIterEmpty()) {
      const CTowar& towar = vexa->TwIterGetNext();
      if (progKom) progKom->DodajTowar(towar.Id);
      ++count;
    }
    line += " goods=" + std::to_string(count);
  }
  if (b.komunikat && vexa && raport) {
    CKomunikat komunikat("W", "Towary pomini\xEAte", b.komunikat, true);
    vexa->TwIterReset();
    while (!vexa->TwIterEmpty()) komunikat.DodajTowar(vexa->TwIterGetNext().Id);
    raport->DodajKomunikat(komunikat);
  }
  if (!b.keep.empty()) line += " kept=" + HistoryKeepJobFile(b.keep.c_str(), false, true);
  log(line);
  for (int i = 0; !b.waitFor.empty() && i < 6000 && ::access(b.waitFor.c_str(), F_OK) != 0; ++i) ::usleep(10000);
  if (b.doThrow) throw std::bad_alloc();
  if (b.error) SetError(b.error, "plugin");
  if (b.warning) SetWarning(b.warning, "plugin");
  return b.haveResult ? b.result : GetErrorNum();
}

}  // namespace

#ifndef QTP_NO_HANDLERS
QUORVEL_EXPORT_C int quorvel_module_attach() {
  const Behaviour b = readBehaviour();
  // The plug-in sees the core's own job objects through the exported pointers.
  std::string globals = std::string(raport ? "R" : "-") + (vexa ? "V" : "-") + (progKom ? "P" : "-");
  log("attach " + globals + " " + (vexa ? vexa->GetOperacja() : std::string()));
  if (b.attachError) {
    SetError(b.attachError, "plugin attach");
    return 0;
  }
  return b.attachRefuse ? 0 : 1;
}

QUORVEL_EXPORT_C void quorvel_module_detach() { log("detach"); }
#endif

// Every entry point of the contract, with the signature it declares.
#define QTP_DEFINE(entry) \
  QUORVEL_EXPORT_C int entry() { return operation(#entry); }
#define QTP_OPERATION_every(entry) QTP_DEFINE(entry)
#if defined(QTP_ALL_OPERATIONS)
#define QTP_OPERATION_further(entry) QTP_DEFINE(entry)
#else
#define QTP_OPERATION_further(entry)
#endif
#define QTP_OPERATION(offer, operacja, entry, noGoods, handling) QTP_OPERATION_##offer(entry)

#if defined(QTP_ALL_OPERATIONS) || defined(QTP_BASIC_OPERATIONS)
QUORVEL_OPERATIONS(QTP_OPERATION)
#endif

#ifdef QTP_ALL_OPERATIONS
QUORVEL_EXPORT_C void opDriverInit() { log("opDriverInit"); }
QUORVEL_EXPORT_C void opDriverFree() { log("opDriverFree"); }
#endif

// Something every variant exports of its own.
QUORVEL_EXPORT_C int qtp_marker() { return 42; }
