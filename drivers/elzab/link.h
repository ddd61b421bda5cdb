// The Elzab session of one job: the configuration record, the WinIP library and the state
// that lives from the plug-in's load to its unload; the configuration files written at load,
// the input file EZB_IN.TXT written before every WinIP call, the reading of WinIP's result
// files, and the three small entry points (driver start and end, connection check).
//
// quorvel_elzab keeps no line of its own open: every exchange with the register is one WinIP
// call. Every function returns the error number of the process-wide error state (0 = success).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "drivers/elzab/config.h"
#include "drivers/elzab/records.h"
#include "platform/register_lock.h"

namespace quorvel::platform {
struct Module;
}

namespace quorvel::elzab {

struct Link {
  SUConfig config{};
  platform::Module* winip = nullptr;
  std::uint8_t lastResult = 0;          // of the last WinIP call that reached the library
  bool modemStarted = false;            // ModStart succeeded in this load
  bool extraBarcodesSupported = true;   // cleared when KTBarkod answers 24 or 25
  bool linksSupported = true;           // cleared when KWiaz answers 24 or 25
  std::optional<std::uint32_t> goodsInWork;  // Id named by a reported result
  bool configuring = false;             // the job's operation is "Konfiguracja"
  // The register's locks, held from the load to the unload: its WinIP port and, with the
  // modem, its phone number. One job per register.
  std::vector<std::unique_ptr<platform::RegisterLock>> locks;
};

// The job's session (created on first use, destroyed with the plug-in).
Link& link();
void releaseLink();

// The connection at load, for every operation but "Konfiguracja": KONFIG.TXT, SKONFIG.TXT,
// MODKONF.TXT (with the modem, when none is readable), the register's locks, WinIP, then the
// switch of a Falwi or MPX4s multiplexer. Each file is written only while no error is recorded.
int prepareConnection();
// The register's locks (lock files elzab-COMn and, with the modem, elzab-modem-PHONE): a
// register another job holds is waited for a few seconds, then refused with a message naming
// the register and the holder. Returns the error number.
int lockRegister();
int writeKonfig();
int writeSkonfig();
int writeModkonf();
int switchForeignMultiplexer();

// EZB_IN.TXT: the header for the configured register number, then `dataLines` (each ended
// by "\n"), every "\n" written as CR LF. A file that cannot be created is error 1 (also a
// link or anything but a regular file under the name, never written through: the same holds
// for KONFIG.TXT, SKONFIG.TXT and MODKONF.TXT), a write that fails error 4, both with
// "EZB_IN.TXT"; then no WinIP call may follow. Returns 0 when
// the file was written, whatever error an earlier step left (the modem's stop must still be
// asked for after a failed operation), otherwise the error number.
int writeInputFile(const std::string& dataLines);

// Reads a result file record by record (the reader of records.h): `onRecord` gets each record
// and returns non-zero to stop. A file that is missing or cannot be opened is error 6, one
// that is not a regular file or cannot be read error 5, a line out of place the syntax
// message with its line number, an overlong line a message with its line number. A damaged
// file (a control byte inside a line, no complete header) is error 1007 with "FILE, linia N:"
// and what is wrong, so it never passes for a file without records. Progress is
// reported as the file's bytes under `work`. Returns the error number.
int readResultFile(const char* name, const char* work, const ResultParser::OnRecord& onRecord);

// Records a field of a result file that cannot become a record (errors 9 to 11 with the text,
// the file and the line; a record short of fields: "Niekompletny rekord ..."). Returns the
// error number.
int reportFieldFault(const FieldFault& fault, const char* file, unsigned line);

// opDriverInit, opDriverFree, opSprawdzeniePolaczenia.
void driverInit();
void driverFree();
int checkConnection();

// The probe of `quorvel detect`, in a scratch directory: the configuration files for the
// register number 1 at COM port `com` (1 to 4) and `speed`, WinIP's shortest time-out (the
// seconds that cover `timeoutMs`), then the connection check; the register's lock and the
// files stay behind for the next probe to overwrite. Returns the error number.
int probeWinIP(int com, long speed, unsigned timeoutMs);
// The name of the lock of the register on COM port `com`.
std::string registerLockName(int com);

}  // namespace quorvel::elzab
