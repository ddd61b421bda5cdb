// The process-wide error state shared by the core and every plug-in.
//
// A function that fails sets a number and a text here and returns; the caller reads
// GetErrorNum(). Every error, warning or notice set with a number also becomes a message of
// the report (RAPORT.XML) at once, and the report's status. Texts are windows-1250.
#pragma once

#include <string>
#include <string_view>

#include "platform/api.h"

class CMessageSink;
class CTowar;

// Numbers of the error table (err2msg gives their texts).
enum QuorvelError : int {
  ERR_OK = 0,
  ERR_TEXT_ONLY = -1,            // error given by its text only
  ERR_FILE_CREATE = 1,           // "Błąd tworzenia pliku"
  ERR_CONFIG_MISSING = 2,        // "Brak pliku konfiguracji"
  ERR_CONFIG_INVALID = 3,        // "Nieprawidłowy plik konfiguracji"
  ERR_FILE_WRITE = 4,            // "Błąd zapisu pliku"
  ERR_FILE_READ = 5,             // "Błąd odczytu pliku"
  ERR_FILE_MISSING = 6,          // "Brak pliku"
  ERR_NO_MEMORY = 7,             // "Brak pamięci operacyjnej"
  ERR_UNKNOWN_OPERATION = 8,     // "Nieznana operacja"
  ERR_INT_INVALID = 9,
  ERR_INT_BELOW = 10,
  ERR_INT_ABOVE = 11,
  ERR_REAL_INVALID = 12,
  ERR_REAL_BELOW = 13,
  ERR_REAL_ABOVE = 14,
  ERR_GOODS_TYPE = 15,
  ERR_DOCUMENT_TYPE = 16,
  ERR_DISCOUNT_TYPE = 17,
  ERR_BOOL_INVALID = 18,
  ERR_DATE_INVALID = 19,
  ERR_USER_CANCEL = 20,
  ERR_UNKNOWN_MODEL = 21,
  ERR_LIBRARY_MISSING = 22,      // "Nie znaleziono biblioteki DLL"
  ERR_PORT_OPEN = 1000,
  ERR_PORT_ACCESS = 1001,
  ERR_PORT_MISSING = 1002,
  ERR_PORT_READ = 1003,
  ERR_PORT_READ_TIMEOUT = 1004,
  ERR_PORT_WRITE = 1005,
  ERR_PORT_WRITE_TIMEOUT = 1006,
  ERR_DEVICE_DATA = 1007,
  ERR_DEVICE_REFUSES = 1008,
  ERR_DEVICE_CHECKSUM = 1009,
  ERR_DEVICE_ERROR = 1010,
  ERR_MUX_TYPE = 1011,
  ERR_MUX_CHANNEL = 1012,
  ERR_MUX_INIT = 1013,
  ERR_DEVICE_READY_TIMEOUT = 1014,
};

// Longest message text kept by the state (the buffer holds one more byte for the zero).
inline constexpr int kErrorTextMax = 1023;

// Text of an error number; "Nieznany błąd" for numbers outside the table.
QUORVEL_API const char* err2msg(int number);

// Number := number; text := err2msg(number), then a blank and the detail when the detail is
// given and not empty (cut to 1023 characters in all). When the report is linked the text is
// added as a message of type "E" / "W" / "I" that also becomes the report status.
// Returns the number. Should writing that message to RAPORT.XML fail, the report is closed and
// the state ends with error 4 "Błąd zapisu pliku RAPORT.XML", the later of the two events.
QUORVEL_API int SetError(int number, const char* detail = nullptr);
QUORVEL_API int SetWarning(int number, const char* detail = nullptr);
QUORVEL_API int SetInfo(int number, const char* detail = nullptr);

// Error given by text only: number := -1, message type "E" with the set-status flag. Returns -1.
QUORVEL_API int SetError(const char* text);

// Number := 0, text := text. With the report linked: a non-empty text is added as a notice
// ("I", status untouched by it), then the report status becomes "OK" with an empty text.
QUORVEL_API void ClearError(const char* text);

// Number := number; text and report untouched. Returns the number.
QUORVEL_API int SetErrorNum(int number);
QUORVEL_API int GetErrorNum();
// The state's own buffer, valid until the next change.
QUORVEL_API const char* GetErrorMsg();

// Links the report writer (or any sink) that receives the messages (nullptr unlinks).
QUORVEL_API void ErrorSetRaport(CMessageSink* raport);
// The linked sink, or nullptr.
QUORVEL_API CMessageSink* ErrorGetRaport();
// With the report linked: the report's operation name (root tag attribute).
QUORVEL_API void ErrorSetRaportOperacja(const char* operacja);
// Warning "... poza zakresem ... pominięty." naming the goods; error state unchanged.
QUORVEL_API void Warning_pluPozaZakresem(const CTowar& towar);

// Where the value being worked on comes from, for messages that would not name it otherwise
// (a conversion knows the text it refused, not the file, line or field it was read from).
// While a source is set, every message composed with a number (SetError, SetWarning, SetInfo
// with a number) has the source's text appended in parentheses, as ErrorWithWhere does; the
// text of the table and the detail stay first, unchanged. The source is asked only when such a
// message is composed, so setting one costs nothing while all goes well. Its text lists parts
// separated by ", ", the most important first. Returns the source set before (fn null: none).
using ErrorWhereFn = std::string (*)(void* data);
struct ErrorWhere {
  ErrorWhereFn fn = nullptr;
  void* data = nullptr;
};
QUORVEL_API ErrorWhere ErrorSetWhere(ErrorWhere where);

// text + " (" + where + ")", within kErrorTextMax characters: the text is kept whole (cut to
// kErrorTextMax only when it is longer by itself), and of `where` only as many leading parts
// (separated by ", ") as fit are kept; when not even the first fits, or `where` is empty, the
// text is returned alone.
QUORVEL_API std::string ErrorWithWhere(std::string_view text, std::string_view where);
