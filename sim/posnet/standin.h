// What the two stand-in libraries share beyond the vendor's declarations: libhlapi builds each
// register command as a list of text fields and hands it to libposnet, which carries it to the
// register in a frame and keeps the answer with the request.
#pragma once

#include <cstdint>
#include <string>

#include "drivers/posnet/posnet_api.h"
#include "sim/posnet/frame.h"

namespace quorvel::posnetsim {

// Queues `fields` (command name first) on an open device and stores the new request; returns 0,
// or the final status when nothing was queued (*request is then NULL).
POSNET_API std::uint32_t submitRequest(POSNET_DEVICE device, POSNET_REQUEST* request, Fields fields);

// The results of a request that completed with status 0 and answered `command`; NULL otherwise.
POSNET_API const Fields* requestResults(POSNET_REQUEST request, const char* command);

// How long the library waits for the register's answer to one frame, in milliseconds:
// POSNET_SIM_TIMEOUT_MS from the environment, else 3000 (below the driver's own 5000).
std::uint32_t answerTimeoutMs();

}  // namespace quorvel::posnetsim
