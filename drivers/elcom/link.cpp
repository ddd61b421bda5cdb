#include "drivers/elcom/link.h"

#include <cstdio>
#include <memory>

#include "core/error_state.h"
#include "core/globals.h"
#include "core/records.h"
#include "core/xml/raport_xml.h"
#include "core/xml/vexa_xml.h"
#include "platform/clock.h"
#include "platform/cp1250.h"
#include "plugin/plugin_frame.h"
#include "plugin/session.h"

namespace quorvel::elcom {

namespace {


// Pauses of the protocol (milliseconds).
constexpr unsigned long kBreakMs = 15;
constexpr unsigned long kAfterBreakMs = 20;
constexpr unsigned long kHelloRetryMs = 500;
constexpr unsigned long kBeforeCommandMs = 20;
constexpr unsigned long kBeforeTransferMs = 1000;
constexpr unsigned long kBusyRetryMs = 1000;
constexpr int kHelloTries = 5;
constexpr int kDataSends = 4;

int badData() { return SetError(ERR_DEVICE_DATA); }

int receiveStatus(std::size_t capacity, std::uint8_t& status) {
  FrameReader r(capacity, kStatus);
  if (const int e = receiveFrame(r)) return e;
  if (parseStatus(r.payload(), status) != 0) return badData();
  return 0;
}

}  // namespace

Link& link() { return plugin::Session<Link>::get(); }

void releaseLink() { plugin::Session<Link>::release(); }

void identifyModel(const std::string& jobModelName) {
  Link& l = link();
  l.model = &modelByJobName(jobModelName);
  l.longRecords = false;
}

int openLine() {
  Link& l = link();
  CRS232& port = l.port;
  plugin::setSerialLine(port, plugin::fieldText(l.config.port, sizeof l.config.port),
                        static_cast<unsigned long>(l.config.speed), 5000, 2000);
  if (l.config.binDump && vexa) port.SetBinDump(vexa->GetOperacja());
  port.SetTraceDecoder(&l.traceText);
  if (plugin::openDeviceLine(port) != 0) return GetErrorNum();
  if (l.config.muxOn) port.SetMux(l.config.muxType, l.config.muxChannel);
  return GetErrorNum();
}

void buildFixedFrames() {
  Link& l = link();
  l.hello = helloFrame(static_cast<std::uint8_t>(l.config.registerNumber));
  l.ack = ackFrame();
  l.end = endFrame();
}

int prepareDataCommand(std::uint8_t command) {
  Link& l = link();
  l.preparedCommand = command;
  if (l.model->longRecords) l.longRecords = true;
  return GetErrorNum();
}

int sendFrame(const Bytes& frame) {
  return link().port.Write(frame.data(), static_cast<unsigned>(frame.size()));
}

int receiveFrame(FrameReader& reader) {
  CRS232& port = link().port;
  reader.reset();
  while (reader.state() == FrameReader::State::kNeedMore) {
    char c = 0;
    if (const int e = port.Read(c)) return e;
    reader.feed(static_cast<std::uint8_t>(c));
  }
  // A wrong start byte, an unexpected type or a frame longer than its buffer: no
  // resynchronisation is attempted, the exchange ends.
  if (reader.state() == FrameReader::State::kError) return badData();
  return 0;
}

int notOnTheWire(const char* what, long long value, const CTowar* towar) {
  char text[256];
  std::snprintf(text, sizeof text, "%s %lld nie mieści się w 16-bitowym polu kasy (0-65535) - nic nie wysłano"_cp, what, value);
  CKomunikat k("E", text, 0, true);
  if (towar && !towar->Id_brak) k.DodajTowar(towar->Id);
  if (raport) raport->DodajKomunikat(k);
  return SetErrorNum(ERR_TEXT_ONLY);
}

int commandExchange(std::uint8_t command, long arg1, long arg2, bool dataFollows) {
  Link& l = link();
  // An argument is never cut to its 16 bits: the register would act on other PLUs.
  for (const long arg : {arg1, arg2})
    if (!fitsWire(arg)) return notOnTheWire("Argument polecenia"_cp, arg);
  const Bytes frame =
      commandFrame(l.model->code, command, static_cast<std::uint16_t>(arg1), static_cast<std::uint16_t>(arg2));
  if (l.model->lineBreak) l.port.CommBreak(kBreakMs, kAfterBreakMs);

  std::uint8_t status = 0;
  for (int attempt = 1;; ++attempt) {
    if (const int e = sendFrame(l.hello)) return e;
    if (const int e = receiveStatus(kCapStatus, status)) return e;
    if (status == 0) break;
    // The register is busy with something else (an open receipt, a report): ask again.
    if (attempt == kHelloTries) return reportStatus(status, false);
    platform::SleepMs(kHelloRetryMs);
  }
  platform::SleepMs(kBeforeCommandMs);
  if (const int e = sendFrame(frame)) return e;
  if (const int e = receiveStatus(kCapStatus, status)) return e;
  if (status != 0) return reportStatus(status, false);
  if (dataFollows) {
    // The register needs time to gather its data; the second hello starts the transfer and
    // is not answered with a status.
    platform::SleepMs(kBeforeTransferMs);
    if (const int e = sendFrame(l.hello)) return e;
  }
  return 0;
}

int sendDataWithStatus(const Bytes& frame, bool retryBusy, std::uint8_t& status) {
  for (int sends = 1;; ++sends) {
    if (const int e = sendFrame(frame)) return e;
    if (const int e = receiveStatus(kCapDataStatus, status)) return e;
    if (!retryBusy || status != 1 || sends == kDataSends) return 0;
    platform::SleepMs(kBusyRetryMs);
  }
}

int endExchange() {
  if (const int e = sendFrame(link().end)) return e;
  FrameReader r(kCapEnd, kEnd);
  return receiveFrame(r);
}

int receiveTransfer(std::size_t prefix, std::size_t recordSize, const std::function<int(ByteView)>& onRecord) {
  Link& l = link();
  FrameReader r(kCapTransfer);
  std::vector<ByteView> records;
  for (;;) {
    if (const int e = receiveFrame(r)) return e;
    if (r.type() == kEnd) return sendFrame(l.end);  // the register expects no answer to it
    if (r.type() != kData) return badData();
    if (splitRecords(r.payload(), prefix, recordSize, records) != 0) return badData();
    for (ByteView rec : records)
      if (const int e = onRecord(rec)) return e;
    if (const int e = sendFrame(l.ack)) return e;
  }
}

int reportStatus(std::uint8_t status, bool warning, const CTowar* towar) {
  const std::string text = statusMessage(status);
  CKomunikat k(warning ? "W" : "E", text.c_str(), 0, true);
  if (towar && !towar->Id_brak) k.DodajTowar(towar->Id);
  if (raport) raport->DodajKomunikat(k);
  SetErrorNum(signedStatus(status));
  if (warning) SetErrorNum(0);
  return GetErrorNum();
}

int queryPluCount() {
  Link& l = link();
  if (const int e = commandExchange(kPluCount, 0, 0, true)) return e;
  FrameReader data(kCapStatus, kData);
  if (const int e = receiveFrame(data)) return e;
  if (parsePluCount(data.payload(), l.pluCount) != 0) return badData();
  if (const int e = sendFrame(l.ack)) return e;
  FrameReader end(kCapStatus, kEnd);
  if (const int e = receiveFrame(end)) return e;
  return sendFrame(l.end);
}

int checkConnection() {
  Link& l = link();
  const bool info = l.model->checkCommand == kRegisterInfo;
  if (const int e = commandExchange(info ? kRegisterInfo : kCheckShort, 0, 0, true)) return e;
  FrameReader data(info ? kCapInfo : kCapStatus, kData);
  if (const int e = receiveFrame(data)) return e;
  if (info) {
    int base = 0;
    if (parseRegisterInfo(data.payload(), base) != 0) return badData();
    l.reportedPluBase = base;
    if (base != l.config.maxPluCode && raport) {
      char text[256];
      std::snprintf(text, sizeof text,
                    "Wykryto różnicę w wielkości bazy towarowej. Kasa raportuje %d PLU, a w konfiguracji jest %d PLU."_cp,
                    base, static_cast<int>(l.config.maxPluCode));
      raport->DodajKomunikat("I", text, 0, true);
    }
  }
  if (const int e = sendFrame(l.ack)) return e;
  FrameReader end(kCapStatus, kEnd);
  if (const int e = receiveFrame(end)) return e;
  if (const int e = sendFrame(l.end)) return e;
  return GetErrorNum();
}

int probeLine(const std::string& port, long speed, unsigned timeoutMs, std::string& model, bool& answered) {
  constexpr std::uint8_t kWrongModel = 10;
  Link& l = link();
  setDefaultConfig(l.config);
  plugin::storeText(l.config.port, sizeof l.config.port, port);
  l.config.speed = static_cast<std::int32_t>(speed);
  buildFixedFrames();
  CRS232& p = l.port;
  plugin::setSerialLine(p, port, static_cast<unsigned long>(speed), timeoutMs, timeoutMs);
  p.SetClosePause(0);
  answered = false;
  int result = plugin::openDeviceLine(p);
  bool found = false;
  for (int number = 1; result == 0 && !found && number <= kModelCount; ++number) {
    const Model& m = modelByNumber(number);
    if (number > 1 && modelByNumber(number - 1).code == m.code) continue;
    l.model = &m;
    l.longRecords = false;
    l.reportedPluBase = -1;
    ClearError("");
    result = checkConnection();
    if (result == 0) {
      answered = found = true;
      // Models of one code differ in their PLU base, which the register reports.
      int sharing = 0;
      for (int other = number; other <= kModelCount && modelByNumber(other).code == m.code; ++other) ++sharing;
      for (int other = number; other < number + sharing; ++other)
        if (sharing == 1 || modelByNumber(other).pluCapacity == l.reportedPluBase) model = modelByNumber(other).jobName;
    } else if (result >= -128 && result <= 127 && result != ERR_TEXT_ONLY) {
      // A register's status: it is there. Another model's code is refused; the next is tried.
      answered = true;
      if (result == signedStatus(kWrongModel)) result = 0;
    }
  }
  if (result == 0 && !found) result = signedStatus(kWrongModel);
  // Outside a job a status reaches no report: its text becomes the error's.
  if (answered && !found) {
    SetError(statusMessage(static_cast<std::uint8_t>(result)).c_str());
    SetErrorNum(result);
  }
  if (p.IsOpen()) p.Close();
  p.SetClosePause(1000);
  l.model = &modelByNumber(0);
  return result;
}

}  // namespace quorvel::elcom
