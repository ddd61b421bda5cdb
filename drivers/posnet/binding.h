// The binding of libposnet and libhlapi: both libraries loaded through the platform's module
// search and every function the driver calls looked up once, when the plug-in loads.
//
// The driver calls the libraries only through api(). Tests of the driver's own logic may put
// a table of their own in place (setApiForTests) instead of loading the libraries.
#pragma once

#include "drivers/posnet/posnet_api.h"

namespace quorvel::posnet {

// One pointer per function of posnet_api.h.
struct Api {
#define QUORVEL_POSNET_MEMBER(name) name##_fn name = nullptr;
  POSNET_LIBPOSNET_FUNCTIONS(QUORVEL_POSNET_MEMBER)
  POSNET_LIBPOSNET_OPTIONAL(QUORVEL_POSNET_MEMBER)  // null when the library lacks it
  POSNET_LIBHLAPI_FUNCTIONS(QUORVEL_POSNET_MEMBER)
#undef QUORVEL_POSNET_MEMBER
};

// The library file names, as the module search takes them.
inline constexpr const char* kLibposnet = "libposnet.so";
inline constexpr const char* kLibhlapi = "libhlapi.so";

// Loads both libraries and looks up every function. A library that is not found sets the error
// "Nie znaleziono biblioteki libposnet.so." (or libhlapi.so; when no file was found, followed by
// "Szukano pliku libposnet.so w folderach: ..."), a missing function "Nie
// znaleziono funkcji 'POSS_PLUIns' w bibliotece libhlapi.so."; both libraries are then
// released again. Returns the error number (0 when bound). Binding twice keeps the first.
int bindLibraries();
// Releases the libraries (and forgets a test table).
void releaseLibraries();
// Whether a table is in place.
bool librariesBound();

// The bound table. REQUIRES: librariesBound().
const Api& api();

// Puts `table` in place of the libraries (nullptr: none); the caller keeps it alive.
void setApiForTests(const Api* table);

}  // namespace quorvel::posnet
