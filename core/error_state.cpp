#include "core/error_state.h"

#include <cstring>
#include <string>

#include "core/message_sink.h"
#include "platform/cp1250.h"

namespace {

constexpr std::size_t kMax = kErrorTextMax;

int g_number = ERR_OK;
char g_text[kErrorTextMax + 1] = {};
CMessageSink* g_raport = nullptr;
ErrorWhere g_where;

// Copies text into the state's buffer, cut to kErrorTextMax characters. The text may be the
// buffer itself (a caller passing GetErrorMsg() back), hence the copy through a temporary.
void setText(const char* text) {
  const std::string copy = text ? std::string(text, strnlen(text, kMax)) : std::string();
  std::memset(g_text, 0, sizeof g_text);
  std::memcpy(g_text, copy.data(), copy.size());
}

int compose(int number, const char* detail, const char* typ) {
  // The detail may point into the state's buffer, which is cleared below.
  const std::string saved = detail ? std::string(detail, strnlen(detail, kMax)) : std::string();
  g_number = number;
  setText(err2msg(number));
  const std::size_t len = std::strlen(g_text);
  if (!saved.empty() && len < kMax - 1) {
    g_text[len] = ' ';
    const std::size_t room = kMax - len - 1;
    std::memcpy(g_text + len + 1, saved.data(), saved.size() < room ? saved.size() : room);
  }
  if (g_where.fn) {
    // The source is unset while it is asked, so that nothing it calls can come back here. The
    // message goes out without its place should working that out run out of memory.
    const ErrorWhere where = g_where;
    g_where = ErrorWhere{};
    try {
      const std::string text = ErrorWithWhere(g_text, where.fn(where.data));
      setText(text.c_str());
    } catch (...) {
    }
    g_where = where;
  }
  if (g_raport) g_raport->DodajKomunikat(typ, g_text, 0, true);
  return number;
}

}  // namespace

const char* err2msg(int number) {
  switch (number) {
    case 1: return "Błąd tworzenia pliku"_cp;
    case 2: return "Brak pliku konfiguracji"_cp;
    case 3: return "Nieprawidłowy plik konfiguracji"_cp;
    case 4: return "Błąd zapisu pliku"_cp;
    case 5: return "Błąd odczytu pliku"_cp;
    case 6: return "Brak pliku"_cp;
    case 7: return "Brak pamięci operacyjnej"_cp;
    case 8: return "Nieznana operacja"_cp;
    case 9: return "Nieprawidłowa liczba całkowita"_cp;
    case 10: return "Liczba całkowita poniżej dopuszczalnego zakresu"_cp;
    case 11: return "Liczba całkowita powyżej dopuszczalnego zakresu"_cp;
    case 12: return "Nieprawidłowa liczba rzeczywista"_cp;
    case 13: return "Liczba rzeczywista poniżej dopuszczalnego zakresu"_cp;
    case 14: return "Liczba rzeczywista powyżej dopuszczalnego zakresu"_cp;
    case 15: return "Nieprawidłowy typ towaru"_cp;
    case 16: return "Nieprawidłowy typ dokumentu"_cp;
    case 17: return "Nieprawidłowy typ rabatu"_cp;
    case 18: return "Nieprawidłowa wartość logiczna"_cp;
    case 19: return "Nieprawidłowa data"_cp;
    case 20: return "Użytkownik przerwał wykonywanie operacji"_cp;
    case 21: return "Nieznany model urządzenia"_cp;
    case 22: return "Nie znaleziono biblioteki DLL"_cp;
    case 1000: return "Błąd otwarcia portu szeregowego"_cp;
    case 1001: return "Błąd dostępu do portu szeregowego"_cp;
    case 1002: return "Brak portu szeregowego"_cp;
    case 1003: return "Błąd odczytu portu szeregowego"_cp;
    case 1004: return "Przekroczony czas oczekiwania przy odczycie portu szeregowego"_cp;
    case 1005: return "Błąd zapisu portu szeregowego"_cp;
    case 1006: return "Przekroczony czas oczekiwania przy zapisie portu szeregowego"_cp;
    case 1007: return "Odebrano nieprawidłowe dane z urządzenia"_cp;
    case 1008: return "Urządzenie nie przyjmuje danych"_cp;
    case 1009: return "Błędna suma kontrolna danych odebranych z urządzenia"_cp;
    case 1010: return "Wystąpił błąd urządzenia"_cp;
    case 1011: return "Nieprawidłowy typ multipleksera"_cp;
    case 1012: return "Nieprawidłowy kanał multipleksera"_cp;
    case 1013: return "Błąd inicjalizacji multipleksera"_cp;
    case 1014: return "Przekroczony czas oczekiwania na gotowość urządzenia"_cp;
    default: return "Nieznany błąd"_cp;
  }
}

int SetError(int number, const char* detail) { return compose(number, detail, "E"); }
int SetWarning(int number, const char* detail) { return compose(number, detail, "W"); }
int SetInfo(int number, const char* detail) { return compose(number, detail, "I"); }

int SetError(const char* text) {
  g_number = ERR_TEXT_ONLY;
  setText(text);
  if (g_raport) g_raport->DodajKomunikat("E", g_text, 0, true);
  return ERR_TEXT_ONLY;
}

void ClearError(const char* text) {
  g_number = ERR_OK;
  setText(text);
  if (!g_raport) return;
  if (g_text[0]) g_raport->DodajKomunikat("I", g_text, 0, false);
  g_raport->UstawStatus("OK", "");
}

int SetErrorNum(int number) {
  g_number = number;
  return number;
}

int GetErrorNum() { return g_number; }

const char* GetErrorMsg() { return g_text; }

void ErrorSetRaport(CMessageSink* raport) { g_raport = raport; }

CMessageSink* ErrorGetRaport() { return g_raport; }

ErrorWhere ErrorSetWhere(ErrorWhere where) {
  const ErrorWhere before = g_where;
  g_where = where.fn ? where : ErrorWhere{};
  return before;
}

std::string ErrorWithWhere(std::string_view text, std::string_view where) {
  std::string out(text.substr(0, kMax));
  // Whole parts only: the room left after the text, " (" and ")".
  if (where.empty() || out.size() + 3 >= kMax) return out;
  const std::size_t room = kMax - out.size() - 3;
  std::size_t keep = 0;
  for (std::size_t end = 0; end != std::string_view::npos;) {
    end = where.find(", ", keep == 0 ? 0 : keep + 2);
    const std::size_t partEnd = end == std::string_view::npos ? where.size() : end;
    if (partEnd > room) break;
    keep = partEnd;
  }
  if (keep == 0) return out;
  out += " (";
  out += where.substr(0, keep);
  out += ')';
  return out;
}

void ErrorSetRaportOperacja(const char* operacja) {
  if (g_raport) g_raport->SetOperacja(operacja);
}
