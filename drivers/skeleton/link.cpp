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
  plugin::setSerialLine(port, plugin::fieldText(l.config.port, sizeof l.config.port),
                        static_cast<unsigned long>(l.config.speed), kReadTimeoutMs, kWriteTimeoutMs);
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

int probeLine(const std::string& port, long speed, unsigned timeoutMs, std::string& model) {
  Link& l = link();
  CRS232& p = l.port;
  plugin::setSerialLine(p, port, static_cast<unsigned long>(speed), timeoutMs, timeoutMs);
  p.SetClosePause(0);
  int result = plugin::openDeviceLine(p);
  std::string answer;
  if (result == 0) result = exchange(helloRequest(), answer);
  if (result == 0) {
    const auto named = parseHelloAnswer(answer);
    if (named)
      model = *named;
    else
      result = SetError(ERR_DEVICE_DATA);
  }
  if (p.IsOpen()) p.Close();
  p.SetClosePause(1000);
  return result;
}

int notCarriedOut() {
  return SetError(ERR_UNKNOWN_OPERATION, vexa ? vexa->GetOperacja().c_str() : "");
}

}  // namespace quorvel::skeleton
