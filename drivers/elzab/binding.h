// WinIP, Elzab's communication library, as quorvel_elzab calls it.
//
// Every exported function takes one argument, the names of the files it works with joined by
// ';', and gives one result byte, 0 for success. The plug-in looks each one up at the moment
// it calls it, under the function's name with "__" in front ("__ZBPTowar"), and judges the
// byte the same way for every function (callWinIP).
#pragma once

#include <cstdint>
#include <string>

class CTowar;

namespace quorvel::elzab {

// The C signature of every WinIP function.
extern "C" {
typedef unsigned char (*WinIPFunction)(const char* fileList);
}

// The library's name in the module search ("libWinIP.so" or "WinIP.so") and in messages.
inline constexpr const char* kWinIPName = "WinIP";
inline constexpr const char* kWinIPMessageName = "WinIP.dll";

// The files named to WinIP.
inline constexpr const char* kInputFile = "EZB_IN.TXT";
inline constexpr const char* kOutputFile = "EZB_OUT.TXT";
inline constexpr const char* kKonfigFile = "KONFIG.TXT";
inline constexpr const char* kSkonfigFile = "SKONFIG.TXT";
inline constexpr const char* kModkonfFile = "MODKONF.TXT";
inline constexpr const char* kSales1File = "EZB_SPR1.TXT";
inline constexpr const char* kSales2File = "EZB_SPR2.TXT";
inline constexpr const char* kSales3File = "EZB_SPR3.TXT";

// The sixteen functions the plug-in calls, with the files each is given and whether a result
// of 24 (NAK) or 25 (not in this firmware) is reported by the call itself.
enum class WinIP {
  ModStart, ModStop, OBajty, ZBPTowar, ZCTowar, KTowar, KTBarkod, KWiaz,
  ZDBarkod, ZWiaz, KDBarMax, KTowMax, TowarMax, OWiaz, ODBarkod, OSpOpMax,
};
inline constexpr int kWinIPFunctionCount = 16;

// The function's name as WinIP exports it without the "__".
const char* winIPName(WinIP f);
// The file list it receives: "EZB_IN.TXT;SKONFIG.TXT" or "EZB_IN.TXT;EZB_OUT.TXT;SKONFIG.TXT".
const char* winIPFileList(WinIP f);
// Whether results 24 and 25 are reported by the call (ModStart, ModStop, OBajty, KTowMax,
// TowarMax, OSpOpMax); the others leave them to the caller, who looks at lastWinIPResult().
bool winIPReportsNak(WinIP f);

// The text of a WinIP result in a report message: "Błąd nr N: " and the text of the table of
// the library's results, or "Błąd nr N" alone for a number outside it (windows-1250).
std::string winIPResultText(int code);
// The table's own text of a result, nullptr outside the table (107 entries).
const char* winIPTableText(int code);

// Loads the library through the module search; false with "Nie znaleziono biblioteki
// WinIP.dll." recorded when it cannot be loaded (followed, when no file was found, by the file
// names looked for and the folders searched).
bool loadWinIP();
void releaseWinIP();
bool winIPLoaded();

// Calls the function with its file list and judges the result byte: it is kept as the last
// result; 0 ends there; 24 or 25 end there too unless the function reports them; any other
// result becomes a report message ("E" below 100, "W" from 100) naming the goods being
// processed, and the error number. A missing export records "Nie znaleziono funkcji '...' w
// bibliotece WinIP.dll." and calls nothing; without a loaded library nothing happens.
// Returns the error number.
int callWinIP(WinIP f);
// Reports a result as a call that reports everything does (the write step's 25 and the 24
// after ten NAKs). Returns the error number.
int reportWinIPResult(std::uint8_t code);
// The result byte of the last call that reached the library.
std::uint8_t lastWinIPResult();

// The goods whose identifier a reported result names (nullptr: none). The record is copied.
void setGoodsInWork(const CTowar* towar);

}  // namespace quorvel::elzab
