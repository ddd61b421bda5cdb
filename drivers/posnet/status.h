// Texts of the statuses that libposnet and libhlapi give for a request.
//
// Plain functions (no I/O, no error state), shared by the driver, its tests and the fuzz
// target. Texts are windows-1250.
//
// Ranges: 1 to 0x42FFFF are the libraries' own codes (transport, port and network errors 1 to
// 0x40; request errors 0x10001 to 0x1000A; a wrong parameter of a command 0x10101 to
// 0x10116), 0x430000 to 0x44FFFF are the register's errors (its own error number n is the
// status minus 0x430000, or minus 0x440000 from 0x440000 on). Every code of those sets that
// the register or the library documents has a text; a documented code without a text of our
// own gets a neutral one naming its class and number ("Błąd kasy nr 913"); everything else is
// "Nieznany błąd".
#pragma once

#include <cstdint>
#include <string>

namespace quorvel::posnet {

// The text of a status, without the suffix.
std::string statusText(std::uint32_t status);

// The report text of a status: its text, then " (DLL: %xh)" with the status in lower-case
// hexadecimal ("... (DLL: 4303b0h)").
std::string statusMessage(std::uint32_t status);

// The register's own error number in a register status; -1 outside 0x430000 to 0x44FFFF.
int registerErrorNumber(std::uint32_t status);

// Whether the code has an entry of its own in the table (74 library codes, 256 register
// error numbers); false for every code that reads "Nieznany błąd".
bool statusListed(std::uint32_t status);

}  // namespace quorvel::posnet
