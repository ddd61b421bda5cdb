// The Elcom link of one job: the serial line, the register model, and the request and answer
// exchanges (hello, command, data, end) with their retries and pauses.
//
// One process-wide instance lives from the plug-in's load to its unload. Every operation
// returns the error number of the process-wide error state (0 = success); a register's
// refusal is reported as a message naming its status and becomes the error number.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>

#include "core/serial/rs232.h"
#include "drivers/elcom/config.h"
#include "drivers/elcom/frame_text.h"
#include "drivers/elcom/protocol.h"
#include "drivers/elcom/records.h"

class CTowar;

namespace quorvel::elcom {

struct Link {
  SUConfig config{};
  const Model* model = &modelByNumber(0);
  bool longRecords = false;        // switched on for models 6 and 7 by prepareDataCommand
  std::uint16_t pluCount = 0;      // as the register reported it (command 152)
  std::uint16_t pluSequence = 0;   // sequence field of the next PLU record frame
  std::uint8_t preparedCommand = 0;
  // Packages (1 to 50) that the package reading added to the catalogue because the job did not
  // name them; they belong to this job alone.
  std::set<std::uint32_t> registerPackages;
  FrameText traceText;             // the line's frames in the trace; outlives the port
  CRS232 port;
  Bytes hello, ack, end;           // the fixed frames, built at load
  int reportedPluBase = -1;        // the PLU base the register reported to command 255
};

// The job's link (created on first use, destroyed with the plug-in).
Link& link();
void releaseLink();

// Identifies the model from the job's model name.
void identifyModel(const std::string& jobModelName);
// Opens the serial line with the configuration (dump and multiplexer as configured).
int openLine();
// Builds the hello, acknowledgement and end frames for the configured register number.
void buildFixedFrames();

// Notes the command about to be prepared and, for models 6 and 7, switches to long records.
// Returns the error number; the caller goes on only when it is 0.
int prepareDataCommand(std::uint8_t command);

// Sends bytes on the line.
int sendFrame(const Bytes& frame);
// Receives one frame into the reader (its capacity is the receive buffer's; with an expected
// type, another type is error 1007, as are a wrong start byte and a frame longer than the
// buffer). Serial errors end it with their number.
int receiveFrame(FrameReader& reader);
// Whether a number fits a 16-bit field of the link (PLU codes, command arguments).
inline bool fitsWire(long long value) { return value >= 0 && value <= 0xFFFF; }
// Reports, as an error of type "E" naming the goods when one is given, that `what` (a text,
// windows-1250) holds a number no 16-bit field carries; nothing is sent. Returns the error
// number (-1).
int notOnTheWire(const char* what, long long value, const CTowar* towar = nullptr);

// Hello until accepted (5 tries, 500 ms apart), then the command; with `dataFollows` a pause
// and a second hello that opens the register's transfer. An argument outside 0-65535 is
// refused (notOnTheWire) before anything is sent.
int commandExchange(std::uint8_t command, long arg1, long arg2, bool dataFollows);
// Sends a data frame and takes its status; with `retryBusy` sends again after 1000 ms while
// the register answers 1 (busy), 4 sends at most.
int sendDataWithStatus(const Bytes& frame, bool retryBusy, std::uint8_t& status);
// End frame, answered by the register's end frame.
int endExchange();
// The register's transfer after a data-follows command: each data frame's payload after
// `prefix` bytes is split into records of `recordSize` and handed to `onRecord`, then
// acknowledged; the register's end frame is answered with ours. A frame that is not a whole
// number of records is error 1007. `onRecord` returns an error number to stop.
int receiveTransfer(std::size_t prefix, std::size_t recordSize, const std::function<int(ByteView)>& onRecord);

// Reports a register status as a message of type "E" (or "W") naming the status; the goods'
// identifier is attached when given. The error number becomes the status (signed); after a
// warning it is set back to 0. Returns the error number.
int reportStatus(std::uint8_t status, bool warning, const CTowar* towar = nullptr);

// Command 152: the register's PLU count into link().pluCount.
int queryPluCount();

// opSprawdzeniePolaczenia.
int checkConnection();

// The probe of `quorvel detect`: the line `port` opened at `speed` with `timeoutMs` for every
// answer, then the connection check of register number 1 with each model's code in turn until
// the register takes one (it refuses another model's code with status 10); `model` is then the
// job's name of the model, "" when the code is shared by models the PLU base does not tell
// apart. Any other status is a register that answered but refused (its error number returned,
// `answered` set). Returns the error number; 0 with a model found.
int probeLine(const std::string& port, long speed, unsigned timeoutMs, std::string& model, bool& answered);

}  // namespace quorvel::elcom
