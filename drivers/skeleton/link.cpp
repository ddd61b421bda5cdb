#include "drivers/skeleton/link.h"

#include "core/error_state.h"
#include "core/globals.h"
#include "core/xml/vexa_xml.h"
#include "drivers/skeleton/records.h"
#include "plugin/plugin_frame.h"
#include "plugin/session.h"

namespace quorvel::skeleton {

namespace {

// How long the register may take to answer, and to take a request (milliseconds).
constexpr unsigned long kReadTimeoutMs = 2000;
constexpr unsigned long kWriteTimeoutMs = 2000;

}  // namespace

Link& link() { return plugin::Session<Link>::get(); }

void releaseLink() { plugin::Session<Link>::release(); }

int openLine() {
  Link& l = link();
  CRS232& port = l.port;
  port.SetPort(plugin::fieldText(l.config.port, sizeof l.config.port));
  port.SetSpeed(static_cast<unsigned long>(l.config.speed));
  port.SetNrDataBits(8);
  port.SetParity(0);
  port.SetNrStopBits(0);
  port.SetTimeoutRead(kReadTimeoutMs);
  port.SetTimeoutWrite(kWriteTimeoutMs);
  return plugin::openDeviceLine(port);
}

int exchange(const std::string& request, std::string& answer) {
  CRS232& port = link().port;
  if (const int e = port.Write(request.data(), static_cast<unsigned>(request.size()))) return e;
  answer.clear();
  for (;;) {
    char c = 0;
    if (const int e = port.Read(c)) return e;
    if (c == kLineEnd) return 0;
    if (answer.size() == kLineMax) return SetError(ERR_DEVICE_DATA);
    answer += c;
  }
}

int checkConnection() {
  std::string answer;
  if (const int e = exchange(helloRequest(), answer)) return e;
  if (!parseHelloAnswer(answer)) return SetError(ERR_DEVICE_DATA);
  return GetErrorNum();
}

int notCarriedOut() {
  return SetError(ERR_UNKNOWN_OPERATION, vexa ? vexa->GetOperacja().c_str() : "");
}

}  // namespace quorvel::skeleton
