// The skeleton link of one job: the configuration record, the serial line and the exchanges
// with the register.
//
// One process-wide instance lives from the plug-in's load to its unload. Every operation
// returns the error number of the process-wide error state (0 = success). Replace the
// exchange below with the register's own (frames, retries, pauses, its status report) and
// keep here what the job learns of the register.
#pragma once

#include <string>

#include "core/serial/rs232.h"
#include "drivers/skeleton/config.h"

namespace quorvel::skeleton {

struct Link {
  SUConfig config{};
  CRS232 port;
};

// The job's link (created on first use, destroyed with the plug-in).
Link& link();
void releaseLink();

// Opens the serial line with the configuration. Returns the error number.
int openLine();

// Sends a request line and takes the register's answer line (without its line end). A line
// longer than kLineMax is error 1007; serial errors (a silent register: 1004) end it with
// their number.
int exchange(const std::string& request, std::string& answer);

// opSprawdzeniePolaczenia: "HELLO", answered by "OK <model>".
int checkConnection();

// The probe of `quorvel detect`: the line `port` opened at `speed` with `timeoutMs` for the
// answer, the connection check asked once, the line closed at once; `model` is the model the
// register names. Returns the error number.
int probeLine(const std::string& port, long speed, unsigned timeoutMs, std::string& model);

// What an operation this driver does not carry out gives: error 8 "Nieznana operacja" naming
// the job's operation, as the core reports for an operation a plug-in does not export. The
// register is not contacted.
int notCarriedOut();

}  // namespace quorvel::skeleton
