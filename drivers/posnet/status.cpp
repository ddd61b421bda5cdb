#include "drivers/posnet/status.h"

#include <cstdio>

#include "drivers/posnet/posnet_api.h"
#include "platform/cp1250.h"

namespace quorvel::posnet {

namespace {

struct Range {
  std::uint32_t first;
  std::uint32_t last;
};

// The libraries' own codes that have an entry (74 codes).
constexpr Range kLibraryCodes[] = {
    {0x1, 0x3}, {0x5, 0x12}, {0x20, 0x27}, {0x30, 0x40}, {0x10001, 0x1000A}, {0x10101, 0x10116},
};

// The register's error numbers that have an entry (256 numbers).
constexpr Range kRegisterNumbers[] = {
    {10, 10},     {50, 56},     {300, 303},   {320, 321},   {323, 323},   {342, 342},   {382, 382},
    {400, 403},   {440, 443},   {445, 445},   {480, 486},   {500, 501},   {521, 521},   {540, 547},
    {700, 732},   {735, 738},   {780, 781},   {800, 803},   {820, 822},   {900, 947},   {952, 976},
    {979, 979},   {1000, 1029}, {2000, 2000}, {2002, 2005}, {2021, 2030}, {2032, 2040}, {2042, 2051},
    {2055, 2058}, {2067, 2067}, {2070, 2070}, {3001, 3019}, {6666, 6668},
};

struct Text {
  std::uint32_t code;
  const char* text;
};

// Library codes with a text of their own.
const Text kLibraryTexts[] = {
    {POSNET_STATUS_NO_MEMORY, "Brak pamięci."_cp},
    {POSNET_STATUS_SHORT_FRAME, "Za krótka ramka."_cp},
    {POSNET_STATUS_BAD_FRAME, "Błąd ramki odebranej z kasy."_cp},
    {POSNET_STATUS_CANNOT_OPEN, "Nie można otworzyc wskazanego urządzenia."_cp},
    {POSNET_STATUS_CRC_ERROR, "Błąd CRC w odebranej ramce."_cp},
    {POSNET_STATUS_COMM_ERROR, "Błąd komunikacji."_cp},
    {POSNET_STATUS_DEVICE_BUSY, "Urządzenie zajęte."_cp},
    {POSNET_STATUS_CONNECTION_REFUSED, "Błąd sieciowy - połączenie odrzucone."_cp},
    {POSNET_STATUS_NETWORK_UNREACHABLE, "Błąd sieciowy - adres nieosiągalny."_cp},
    {POSNET_STATUS_CONNECT_TIMEOUT, "Błąd sieciowy - upłynął czas oczekiwania na połączenie."_cp},
    {POSNET_STATUS_QUEUE_EMPTY, "Brak danych w kolejce."_cp},
    {POSNET_STATUS_TIMEOUT, "Oczekiwanie zakończone upłynięciem czasu (timeout)."_cp},
    {POSNET_STATUS_CANCELLED, "Rozkaz anulowany."_cp},
    {POSNET_STATUS_BAD_COMMAND, "Błędny numer polecenia."_cp},
};

// Register error numbers with a text of their own (50 to 56 share one).
const Text kRegisterTexts[] = {
    {10, "błąd nietypowy - rezygnacja, przerwanie funkcji"_cp},
    {300, "karta rabatowa nieważna"_cp},
    {400, "błędna wartość"_cp},
    {700, "błędny adres IP"_cp},
    {800, "baza pozycji paragonowych zapełniona"_cp},
    {901, "rekord już zaprogramowany"_cp},
    {903, "rekord nie istnieje"_cp},
    {909, "nieprawidłowy numer rekordu"_cp},
    {910, "nazwa nie jest unikalna"_cp},
    {911, "nie znaleziono określonego opakowania"_cp},
    {912, "nie znaleziono określonej grupy tow."_cp},
    {938, "próba usunięcia aktywnego linku"_cp},
    {944, "niedozwolona operacja na rekordzie z niezerową statystyką"_cp},
    {975, "Nie ma więcej rekordów wg kontekstu"_cp},
    {1000, "błąd fatalny modułu fiskalnego."_cp},
    {2000, "błąd pola VAT."_cp},
    {3001, "brakujące dane"_cp},
    {6666, "zbyt długi łańcuch"_cp},
};

template <std::size_t N>
bool inRanges(const Range (&ranges)[N], std::uint32_t code) {
  for (const Range& r : ranges)
    if (code >= r.first && code <= r.last) return true;
  return false;
}

template <std::size_t N>
const char* textOf(const Text (&texts)[N], std::uint32_t code) {
  for (const Text& t : texts)
    if (t.code == code) return t.text;
  return nullptr;
}

const char* const kUnknown = "Nieznany błąd"_cp;

std::string numbered(const char* format, unsigned number) {
  char text[64];
  std::snprintf(text, sizeof text, format, number);
  return text;
}

}  // namespace

int registerErrorNumber(std::uint32_t status) {
  if (status < POSNET_STATUS_REGISTER_BASE || status > 0x44FFFFu) return -1;
  const std::uint32_t base = status < POSNET_STATUS_REGISTER_BASE2 ? POSNET_STATUS_REGISTER_BASE : POSNET_STATUS_REGISTER_BASE2;
  return static_cast<int>(status - base);
}

bool statusListed(std::uint32_t status) {
  const int n = registerErrorNumber(status);
  if (n >= 0) return inRanges(kRegisterNumbers, static_cast<std::uint32_t>(n));
  return inRanges(kLibraryCodes, status);
}

std::string statusText(std::uint32_t status) {
  if (!statusListed(status)) return kUnknown;
  const int n = registerErrorNumber(status);
  if (n >= 0) {
    const auto number = static_cast<std::uint32_t>(n);
    if (number >= 50 && number <= 56) return "Błąd wykonywania operacji przez kasę."_cp;
    if (const char* t = textOf(kRegisterTexts, number)) return t;
    return numbered("Błąd kasy nr %u"_cp, number);
  }
  if (const char* t = textOf(kLibraryTexts, status)) return t;
  if (status >= POSNET_STATUS_BAD_PARAMETER_1 && status <= POSNET_STATUS_BAD_PARAMETER_22)
    return numbered("Błędny %u parametr polecenia."_cp, status - POSNET_STATUS_BAD_PARAMETER_1 + 1);
  if (status >= 0x10001u) return numbered("Błąd obsługi rozkazu nr %u"_cp, status - 0x10000u);
  return numbered("Błąd transmisji nr %u"_cp, status);
}

std::string statusMessage(std::uint32_t status) {
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, " (DLL: %xh)", static_cast<unsigned>(status));
  return statusText(status) + suffix;
}

}  // namespace quorvel::posnet
