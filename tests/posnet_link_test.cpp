// The POSNET link over a library table of the test's own (no vendor library): which
// library and line operations an open makes and in what order (the multiplexer before or after
// the library opens the port), the open's failures and their texts, the detailed log, the
// close, the request step's statuses, and a load without the libraries.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/error_state.h"
#include "drivers/posnet/binding.h"
#include "drivers/posnet/goods.h"
#include "drivers/posnet/link.h"
#include "drivers/posnet/sales.h"
#include "platform/clock.h"
#include "platform/cp1250.h"
#include "platform/serial_backend.h"
#include "platform/ui.h"
#include "tests/support/test_support.h"

using namespace quorvel::posnet;
using quorvel::platform::ScriptedSerialBackend;
using quorvel::test::cp1250ToUtf8;

namespace {

// What the fake library does and what it was asked; the calls go into the serial backend's log
// so that they interleave with the line operations.
struct Fake {
  ScriptedSerialBackend* line = nullptr;
  unsigned char handleObject[POSNET_HANDLE_OBJECT_MIN_SIZE + 64] = {};
  int descriptor = 77;        // placed at offset 512 once the device is open
  bool createFails = false;
  bool openFails = false;
  std::uint32_t submit = 0;   // what a POSS_ command returns
  std::uint32_t wait = 0;     // what the wait returns
  std::uint32_t status = 0;   // the request's status
  int requestsAlive = 0;
  unsigned char requestObject = 0;

  void note(const std::string& s) { line->log.push_back("lib " + s); }
};
Fake* g = nullptr;

POSNET_HANDLE fakeCreate(uint32_t type) {
  g->note("create " + std::to_string(type));
  if (g->createFails) return nullptr;
  const int none = -1;
  std::memcpy(g->handleObject + POSNET_HANDLE_SERIAL_FD_OFFSET, &none, sizeof none);
  return reinterpret_cast<POSNET_HANDLE>(g->handleObject);
}
POSNET_STATUS fakeParam(POSNET_HANDLE, uint32_t param, const char* value) {
  char code[16];
  std::snprintf(code, sizeof code, "%x", param);
  g->note(std::string("param ") + code + " " + value);
  return 0;
}
POSNET_DEVICE fakeOpen(POSNET_HANDLE h) {
  g->note("open");
  if (g->openFails) return nullptr;
  std::memcpy(reinterpret_cast<unsigned char*>(h) + POSNET_HANDLE_SERIAL_FD_OFFSET, &g->descriptor, sizeof(int));
  return reinterpret_cast<POSNET_DEVICE>(g->handleObject + 1);
}
POSNET_STATUS fakeDebugName(POSNET_HANDLE, const char* name) {
  const std::string n = name;
  g->note("debug-file " + (n.size() >= 12 ? n.substr(12) : n));  // without the time stamp
  return 0;
}
POSNET_STATUS fakeDebugLevel(POSNET_HANDLE, int32_t level) {
  g->note("debug-level " + std::to_string(level));
  return 0;
}
POSNET_STATUS fakeClose(POSNET_DEVICE) {
  g->note("close");
  return 0;
}
POSNET_STATUS fakeDestroy(POSNET_HANDLE) {
  g->note("destroy");
  return 0;
}
POSNET_STATUS fakeWait(POSNET_REQUEST, uint32_t ms) {
  g->note("wait " + std::to_string(ms));
  return g->wait;
}
POSNET_STATUS fakeStatus(POSNET_REQUEST) { return g->status; }
void fakeDestroyRequest(POSNET_REQUEST r) {
  if (r) --g->requestsAlive;
}
POSNET_STATUS fakeVatGet(POSNET_DEVICE, POSNET_REQUEST* r, uint8_t) {
  g->note("vat");
  if (g->submit != 0) {
    *r = nullptr;
    return g->submit;
  }
  ++g->requestsAlive;
  *r = reinterpret_cast<POSNET_REQUEST>(&g->requestObject);
  return 0;
}
POSNET_STATUS fakeDefault(POSNET_REQUEST) {
  g->note("default");
  return 0;
}

// A read-out of goods sales: each read gives the next of `sales` (value and quantity texts,
// the value as raw bytes of its whole buffer), then "no more records".
std::vector<std::string> g_sales;
std::size_t g_read = 0;

POSNET_STATUS queued(POSNET_REQUEST* r, const std::string& what) {
  g->note(what);
  ++g->requestsAlive;
  *r = reinterpret_cast<POSNET_REQUEST>(&g->requestObject);
  return 0;
}
POSNET_STATUS fakeContext(POSNET_DEVICE, POSNET_REQUEST* r, uint8_t, uint8_t, uint8_t) {
  g->status = 0;
  return queued(r, "context");
}
POSNET_STATUS fakeStatRead(POSNET_DEVICE, POSNET_REQUEST* r, uint8_t, uint8_t, uint8_t) {
  g->status = g_read < g_sales.size() ? 0 : POSNET_STATUS_END_OF_RECORDS;
  return queued(r, "read");
}
POSNET_STATUS fakeStatResult(POSNET_REQUEST, uint16_t* plu, char* value, char* quantity, char*, uint8_t*) {
  const std::string& v = g_sales[g_read++];
  *plu = static_cast<uint16_t>(g_read);
  std::memcpy(value, v.data(), std::min<std::size_t>(v.size(), POSNET_NUMBER_SIZE));
  std::memcpy(quantity, "1000", 5);
  return 0;
}
POSNET_STATUS fakeClear3(POSNET_DEVICE, POSNET_REQUEST* r, uint8_t, uint8_t, uint8_t) { return queued(r, "clear goods"); }
POSNET_STATUS fakeClear2(POSNET_DEVICE, POSNET_REQUEST* r, uint8_t, uint8_t) { return queued(r, "clear packagings"); }

class PosnetLink : public ::testing::Test {
 protected:
  PosnetLink() {
    g = &fake_;
    fake_.line = &line_;
    quorvel::platform::SetSerialBackend(&line_);
    table_.POS_CreateDeviceHandle = fakeCreate;
    table_.POS_SetDeviceParam = fakeParam;
    table_.POS_OpenDevice = fakeOpen;
    table_.POS_SetDebugFileName = fakeDebugName;
    table_.POS_SetDebugLevel = fakeDebugLevel;
    table_.POS_CloseDevice = fakeClose;
    table_.POS_DestroyDeviceHandle = fakeDestroy;
    table_.POS_WaitForRequestCompleted = fakeWait;
    table_.POS_GetRequestStatus = fakeStatus;
    table_.POS_DestroyRequest = fakeDestroyRequest;
    table_.POSS_VATGet = fakeVatGet;
    table_.POSG_Default = fakeDefault;
    table_.POSS_CntxPLUInit = fakeContext;
    table_.POSS_CntxPackInit = fakeContext;
    table_.POSS_PLUStatRead = fakeStatRead;
    table_.POSG_PLUStatRead = fakeStatResult;
    table_.POSS_PackStatRead = fakeStatRead;
    table_.POSS_PLUStatClearAll = fakeClear3;
    table_.POSS_PackStatClearAll = fakeClear2;
    setApiForTests(&table_);
    setDefaultConfig(link().config);
    std::strcpy(link().config.port, "COM2");
    ClearError("");
    quorvel::ui::SetMessageBoxHook([this](const std::string& text, const std::string&, quorvel::ui::Icon) {
      boxes_.push_back(cp1250ToUtf8(text));
    });
  }
  ~PosnetLink() override {
    closeDevice();
    releaseLink();
    setApiForTests(nullptr);
    quorvel::platform::SetSerialBackend(nullptr);
    quorvel::ui::SetMessageBoxHook({});
    g = nullptr;
  }

  // The log without the pauses and line settings: library calls and what reached the line.
  std::vector<std::string> calls() const {
    std::vector<std::string> out;
    for (const std::string& s : line_.log)
      if (s.rfind("sleep", 0) != 0 && s.rfind("configure", 0) != 0 && s.rfind("timeouts", 0) != 0 && s != "purge")
        out.push_back(s);
    return out;
  }

  quorvel::platform::VirtualClockScope clock_;

 public:
  ScriptedSerialBackend line_;

 protected:
  Fake fake_;
  Api table_;
  std::vector<std::string> boxes_;
};

using Calls = std::vector<std::string>;

TEST_F(PosnetLink, OpenOrderByConnectionAndMultiplexer) {
  struct Case {
    std::int32_t connection, muxOn, muxType;
    Calls calls;
  } cases[] = {
      {1, 0, 4, {"lib create 1", "lib param 20001 COM2,9600,8,N,1,N", "lib open"}},
      // MPX4s: our own port switches the channel and is closed before the library opens it.
      {1, 1, 4,
       {"open COM2", "write 24 24 24 03", "close", "lib create 1", "lib param 20001 COM2,9600,8,N,1,N", "lib open"}},
      // Elzab and Falwi: switched over the library's own port, found at offset 512.
      {1, 1, 1, {"lib create 1", "lib param 20001 COM2,9600,8,N,1,N", "lib open", "wrap 77", "dtr 0", "rts 0", "release"}},
      {3, 1, 4, {"lib create 3", "lib param 20005 10.0.0.1", "lib open"}},
  };
  for (const Case& c : cases) {
    line_.log.clear();
    link().config.connectionType = c.connection;
    link().config.muxOn = c.muxOn;
    link().config.muxType = c.muxType;
    link().config.muxChannel = 3;
    EXPECT_EQ(openDevice(), 0) << cp1250ToUtf8(GetErrorMsg());
    EXPECT_EQ(calls(), c.calls) << c.connection << " " << c.muxOn << " " << c.muxType;
    closeDevice();
  }
}

TEST_F(PosnetLink, OpenFailuresAndTheirTexts) {
  struct Case {
    const char* what;
    std::function<void(PosnetLink&)> set;
    const char* message;  // UTF-8
    Calls calls;
  } cases[] = {
      {"connection type 2", [](PosnetLink& t) { link().config.connectionType = 2; (void)t; },
       "Nieprawidłowy rodzaj komunikacji", {}},
      {"serial device not opened", [](PosnetLink&) { g->openFails = true; }, "Brak połączenia z portem szeregowym COM2",
       {"lib create 1", "lib param 20001 COM2,9600,8,N,1,N", "lib open", "lib destroy"}},
      {"address not reached",
       [](PosnetLink&) {
         g->openFails = true;
         link().config.connectionType = 3;
         std::strcpy(link().config.ipAddress, "10.1.2.3");
       },
       "Brak połączenia przez ethernet - adres IP 10.1.2.3 nie istnieje",
       {"lib create 3", "lib param 20005 10.1.2.3", "lib open", "lib destroy"}},
      {"no handle", [](PosnetLink&) { g->createFails = true; }, "Brak połączenia z portem szeregowym COM2",
       {"lib create 1"}},
      {"MPX4s port missing",
       [](PosnetLink& t) {
         t.line_.openError = quorvel::platform::SerialOpenError::Missing;
         link().config.muxOn = 1;
         link().config.muxType = 4;
       },
       "", {"open COM2"}},
      {"library keeps no descriptor",
       [](PosnetLink&) {
         g->descriptor = -1;
         link().config.muxOn = 1;
         link().config.muxType = 2;
       },
       "Nie można przełączyć multipleksera - biblioteka nie udostępnia portu szeregowego COM2",
       {"lib create 1", "lib param 20001 COM2,9600,8,N,1,N", "lib open", "lib close", "lib destroy"}},
      {"channel beyond the multiplexer",
       [](PosnetLink&) {
         link().config.muxOn = 1;
         link().config.muxType = 1;
         link().config.muxChannel = 5;
       },
       "", {"lib create 1", "lib param 20001 COM2,9600,8,N,1,N", "lib open", "wrap 77", "release", "lib close", "lib destroy"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    line_.log.clear();
    line_.openError = quorvel::platform::SerialOpenError::None;
    fake_.openFails = fake_.createFails = false;
    fake_.descriptor = 77;
    setDefaultConfig(link().config);
    std::strcpy(link().config.port, "COM2");
    ClearError("");
    c.set(*this);
    EXPECT_NE(openDevice(), 0);
    if (*c.message) {
      EXPECT_EQ(cp1250ToUtf8(GetErrorMsg()), c.message);
    }
    EXPECT_NE(GetErrorNum(), 0);
    EXPECT_EQ(calls(), c.calls);
    EXPECT_EQ(link().handle, nullptr);
    EXPECT_EQ(link().device, nullptr);
  }
}

TEST_F(PosnetLink, DetailedLogNamesTheDumpFileAndWarns) {
  link().config.detailedLog = 1;
  ASSERT_EQ(openDevice(), 0);
  EXPECT_EQ(calls(), (Calls{"lib create 1", "lib param 20001 COM2,9600,8,N,1,N", "lib open", "lib debug-file _.dmp",
                            "lib debug-level -1"}));
  EXPECT_EQ(boxes_, (std::vector<std::string>{"UWAGA! To jest transmisja z zapisem diagnostycznym."}));
}

TEST_F(PosnetLink, ConnectionCheckAndRequestStatuses) {
  struct Case {
    std::uint32_t submit, wait, status;
    int errorNumber;
  } cases[] = {
      {0, 0, 0, 0},
      {0, 0, 0x4303B0, 4391856},
      {0, POSNET_STATUS_TIMEOUT, POSNET_STATUS_TIMEOUT, 0x10002},
      // A wait that ran out is a failure even when the request claims success.
      {0, POSNET_STATUS_TIMEOUT, 0, 0x10002},
      // Nothing queued: the command's own status.
      {POSNET_STATUS_DEVICE_BUSY, 0, 0, 8},
  };
  for (const Case& c : cases) {
    ClearError("");
    line_.log.clear();
    fake_.submit = c.submit;
    fake_.wait = c.wait;
    fake_.status = c.status;
    ASSERT_EQ(openDevice(), 0);
    EXPECT_EQ(checkConnection(), c.errorNumber) << std::hex << c.status;
    Calls expected = {"lib create 1", "lib param 20001 COM2,9600,8,N,1,N", "lib open", "lib vat"};
    if (c.submit == 0) expected.push_back("lib wait 5000");
    if (c.errorNumber == 0) expected.push_back("lib default");
    expected.insert(expected.end(), {"lib close", "lib destroy"});
    EXPECT_EQ(calls(), expected);
    EXPECT_EQ(fake_.requestsAlive, 0) << "every request is destroyed";
    EXPECT_EQ(link().device, nullptr);
  }
  // Expected statuses are handed back without a report.
  fake_.submit = 0;
  fake_.wait = 0;
  fake_.status = POSNET_STATUS_END_OF_RECORDS;
  ClearError("");
  ASSERT_EQ(openDevice(), 0);
  Request r;
  EXPECT_EQ(requestStep(table_.POSS_VATGet(link().device, r.out(), 0), r, nullptr, {POSNET_STATUS_END_OF_RECORDS}),
            POSNET_STATUS_END_OF_RECORDS);
  EXPECT_EQ(GetErrorNum(), 0);
}

// A record whose buffers the library filled wrongly ends the read-out like a failed read: the
// error names the record, and the counters are not cleared.
TEST_F(PosnetLink, BadSalesRecordStopsTheReadOutBeforeAnyClearing) {
  struct Case {
    std::vector<std::string> sales;
    int errorNumber;
    const char* message;  // UTF-8
    Calls calls;          // after the open, each followed by its wait
  } cases[] = {
      // Both read-outs end normally, but with no device-data file to hold them the counters stay.
      {{"150", "275"}, 4, "Błąd zapisu pliku PROG_KOM.XML", {"context", "read", "read", "read", "context", "read"}},
      {{"150", std::string(POSNET_NUMBER_SIZE, '9'), "275"},
       1007,
       "Odebrano nieprawidłowe dane z urządzenia sprzedaż towaru PLU 2: wartość nie mieści się w buforze 24 bajtów (brak "
       "znaku końca)",
       {"context", "read", "read"}},
      {{std::string("1\x7f", 3)}, 1007, "Odebrano nieprawidłowe dane z urządzenia sprzedaż towaru PLU 1: wartość \"1\x7f\" nie jest liczbą",
       {"context", "read"}},
  };
  for (const Case& c : cases) {
    ClearError("");
    g_sales = c.sales;
    g_read = 0;
    ASSERT_EQ(openDevice(), 0);
    line_.log.clear();
    EXPECT_EQ(readSales(), c.errorNumber);
    EXPECT_EQ(cp1250ToUtf8(GetErrorMsg()), c.message);
    Calls expected;
    for (const std::string& call : c.calls) {
      expected.push_back("lib " + call);
      expected.push_back("lib wait 5000");
    }
    expected.insert(expected.end(), {"lib close", "lib destroy"});
    EXPECT_EQ(calls(), expected);
    EXPECT_EQ(fake_.requestsAlive, 0);
  }
}

TEST(PosnetBinding, MissingLibraryIsNamed) {
  // No stand-ins beside the core; a file of the name in the job directory is never looked at,
  // also not through a relative folder of the library path.
  quorvel::test::ScratchDir dir;
  quorvel::test::writeFile(dir.file("libposnet.so"), "not a shared object");
  quorvel::test::EnvScope path("QUORVEL_LIBRARY_PATH", ".");
  ClearError("");
  EXPECT_NE(bindLibraries(), 0);
  const std::string text = GetErrorMsg();
  EXPECT_EQ(text.rfind("Nie znaleziono biblioteki libposnet.so. Szukano pliku libposnet.so w folderach: ", 0), 0u) << text;
  EXPECT_EQ(text.find(dir.path()), std::string::npos) << text;
  EXPECT_FALSE(librariesBound());
}

}  // namespace
