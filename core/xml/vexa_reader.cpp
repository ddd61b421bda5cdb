// Reading of the job file VEXA_JOB.XML into the job document (CVexaXml::readHeader).
//
// One pass with Expat over the file, fed in chunks of 8192 bytes. The structure is checked
// strictly: an element or attribute not foreseen at its place stops the reading with a message
// naming the line. Goods records and fiscal positions go into the catalogue as their end tags
// are read; the header fields are copied into the job document at the end.
//
// Every message of the reading names where it is, after its own text (which hosts may match):
// " (" the file and line unless the text names them, the column, the element, the attribute,
// the goods record or fiscal position by its Id, or by its place in the job before its Id is
// read ")". A value refused by a conversion names it too: the error state asks the reader while
// the parser runs (ErrorSetWhere). The place is worked out only when there is an error; reading
// a job that is right costs nothing more.
//
// The first error stops all interpretation: the handler that meets it stops the reading, every
// handler then returns at once, and the parser is told to stop, so the loop ends after the
// current chunk. No error is pending when the parse begins (the reading does not start then),
// and only the handlers run during it, so the reader's own flag tells whether one is.

#include <expat.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "core/currency.h"
#include "core/datetime.h"
#include "core/encoding.h"
#include "core/error_state.h"
#include "core/records.h"
#include "core/xml/goods_store.h"
#include "core/xml/vexa_xml.h"
#include "platform/cp1250.h"
#include "platform/job_dir.h"
#include "platform/module.h"

namespace {

constexpr int kChunkSize = 8192;
// The size of the pieces the parser is given; kChunkSize unless a test chose another.
int g_chunkSize = kChunkSize;

constexpr std::uint32_t kMaxU32 = std::numeric_limits<std::uint32_t>::max();
constexpr long kMinI32 = std::numeric_limits<std::int32_t>::min();
constexpr long kMaxI32 = std::numeric_limits<std::int32_t>::max();

// Element names are compared in windows-1250 after conversion from the parser's UTF-8. For the
// names below that is the same as comparing the UTF-8 name with the name's UTF-8 spelling: the
// conversion maps the Polish letters one to one, turns every other C3/C4/C5 pair into '?',
// which no name contains, and passes all other bytes, which in valid UTF-8 cannot form a
// Polish letter's windows-1250 byte on their own. So the names are matched without converting.
//
// Leaf names have at most three bytes in UTF-8 ("Wł" has three), so a name is matched by one
// number: its length and bytes packed together; 0 for anything longer.
constexpr std::uint32_t packName(const char* name) {
  std::uint32_t packed = 0;
  std::uint32_t length = 0;
  for (; name[length]; ++length) {
    if (length == 3) return 0;
    packed = packed << 8 | static_cast<unsigned char>(name[length]);
  }
  return length << 24 | packed;
}

template <typename Field>
struct Name {
  constexpr Name(const char* utf8, Field f) : packed(packName(utf8)), field(f), spelling(utf8) {}
  std::uint32_t packed;
  Field field;
  const char* spelling;   // UTF-8, for messages
};

// A name table as a hash table of 128 slots, each holding the table place + 1 of one name (0:
// none). The multiplier is chosen at compile time so that no two names of the table share a
// slot; a name is then found with one multiplication and one comparison, instead of a scan of
// the table for every element of the job.
template <std::size_t N>
struct NameSlots {
  static constexpr unsigned kBits = 7;
  std::uint32_t multiplier = 0;
  std::uint8_t slot[1u << kBits] = {};

  static constexpr unsigned slotOf(std::uint32_t packed, std::uint32_t multiplier) {
    return (packed * multiplier) >> (32 - kBits);
  }
  template <typename Field>
  constexpr explicit NameSlots(const Name<Field> (&table)[N]) {
    for (std::uint32_t m = 0x9E3779B1u;; m = (m * 747796405u + 2891336453u) | 1u) {
      bool clash = false;
      for (auto& s : slot) s = 0;
      for (std::size_t i = 0; i < N && !clash; ++i) {
        std::uint8_t& s = slot[slotOf(table[i].packed, m)];
        clash = s != 0;
        s = static_cast<std::uint8_t>(i + 1);
      }
      if (!clash) {
        multiplier = m;
        return;
      }
    }
  }
};

// The UTF-8 spelling of a field's element.
template <typename Field, std::size_t N>
const char* spellingOf(const Name<Field> (&table)[N], Field field) {
  for (const Name<Field>& n : table)
    if (n.field == field) return n.spelling;
  return "";
}

template <typename Field, std::size_t N>
bool lookup(const Name<Field> (&table)[N], const NameSlots<N>& slots, std::uint32_t packed, Field& field) {
  if (packed == 0) return false;
  const std::uint8_t place = slots.slot[NameSlots<N>::slotOf(packed, slots.multiplier)];
  if (place == 0 || table[place - 1].packed != packed) return false;
  field = table[place - 1].field;
  return true;
}

enum class GoodsField { Id, Ty, Sy, KP, KK, DK, KO, Na, Ce, CO, Va, Gr, Wl, JM, Wa, Op, Uw, OW, DW, SW, PK };
// The goods fields read into the record builder's buffer as they come (see leafText_).
constexpr bool isGoodsText(GoodsField f) {
  switch (f) {
    case GoodsField::Sy: case GoodsField::KK: case GoodsField::KO: case GoodsField::Na: case GoodsField::Wl:
    case GoodsField::Op: case GoodsField::Uw: case GoodsField::SW: case GoodsField::PK:
      return true;
    default:
      return false;
  }
}
constexpr Name<GoodsField> kGoodsFields[] = {
    {"Id", GoodsField::Id}, {"Ty", GoodsField::Ty}, {"Sy", GoodsField::Sy}, {"KP", GoodsField::KP},
    {"KK", GoodsField::KK}, {"DK", GoodsField::DK}, {"KO", GoodsField::KO}, {"Na", GoodsField::Na},
    {"Ce", GoodsField::Ce}, {"CO", GoodsField::CO}, {"Va", GoodsField::Va}, {"Gr", GoodsField::Gr},
    {"Wł", GoodsField::Wl}, {"JM", GoodsField::JM}, {"Wa", GoodsField::Wa}, {"Op", GoodsField::Op},
    {"Uw", GoodsField::Uw}, {"OW", GoodsField::OW}, {"DW", GoodsField::DW}, {"SW", GoodsField::SW},
    {"PK", GoodsField::PK},
};
constexpr NameSlots kGoodsFieldsSlots(kGoodsFields);

enum class PositionField { Id, Ty, KP, Na, Va, JM, Gr, Il, CN, CB, WN, WB, TR, Ra, CN0, CB0, WN0, WB0, Wl };
constexpr Name<PositionField> kPositionFields[] = {
    {"Id", PositionField::Id},   {"Ty", PositionField::Ty},   {"KP", PositionField::KP},
    {"Na", PositionField::Na},   {"Va", PositionField::Va},   {"JM", PositionField::JM},
    {"Gr", PositionField::Gr},   {"Il", PositionField::Il},   {"CN", PositionField::CN},
    {"CB", PositionField::CB},   {"WN", PositionField::WN},   {"WB", PositionField::WB},
    {"TR", PositionField::TR},   {"Ra", PositionField::Ra},   {"CN0", PositionField::CN0},
    {"CB0", PositionField::CB0}, {"WN0", PositionField::WN0}, {"WB0", PositionField::WB0},
    {"Wł", PositionField::Wl},
};
constexpr NameSlots kPositionFieldsSlots(kPositionFields);

enum class HeaderField { Ty, Nu, WN, WV, WB, DZ, Za, ZG, ZK, TP, OW, OZ, MW, DW, DS, Wy, Od };
constexpr Name<HeaderField> kHeaderFields[] = {
    {"Ty", HeaderField::Ty}, {"Nu", HeaderField::Nu}, {"WN", HeaderField::WN}, {"WV", HeaderField::WV},
    {"WB", HeaderField::WB}, {"DZ", HeaderField::DZ}, {"Za", HeaderField::Za}, {"ZG", HeaderField::ZG},
    {"ZK", HeaderField::ZK}, {"TP", HeaderField::TP}, {"OW", HeaderField::OW}, {"OZ", HeaderField::OZ},
    {"MW", HeaderField::MW}, {"DW", HeaderField::DW}, {"DS", HeaderField::DS}, {"Wy", HeaderField::Wy},
    {"Od", HeaderField::Od},
};
constexpr NameSlots kHeaderFieldsSlots(kHeaderFields);

enum class CustomerField { Na, Ul, Mi, KP, Ni };
constexpr Name<CustomerField> kCustomerFields[] = {
    {"Na", CustomerField::Na}, {"Ul", CustomerField::Ul}, {"Mi", CustomerField::Mi},
    {"KP", CustomerField::KP}, {"Ni", CustomerField::Ni},
};
constexpr NameSlots kCustomerFieldsSlots(kCustomerFields);

// The seventeen operations a job may name.
const char* const kOperations[] = {
    "Konfiguracja",
    "SprawdzeniePołączenia"_cp,
    "PrzesyłanieTowarów"_cp,
    "ZmianaCenTowarów"_cp,
    "UsuwanieTowarów"_cp,
    "ImportTowarów"_cp,
    "SprawdzenieDanychTowarów"_cp,
    "OdbiórSprzedaży"_cp,
    "UsuwanieSprzedaży"_cp,
    "WydrukFiskalny",
    "RaportFiskalny",
    "UsuwanieWszystkichTowarów"_cp,
    "OtwieranieSzuflady",
    "SprawdzenieDatyICzasu",
    "SynchronizacjaDatyICzasu",
    "RaportOkresowyPełny"_cp,
    "RaportOkresowySkrócony"_cp,
};

// Operations whose job carries a fiscal document instead of goods.
const char* const kFiscalOperations[] = {
    "WydrukFiskalny",      "RaportFiskalny",           "OtwieranieSzuflady",
    "SprawdzenieDatyICzasu", "SynchronizacjaDatyICzasu", "RaportOkresowyPełny"_cp,
    "RaportOkresowySkrócony"_cp,
};

// Goods jobs whose goods go into the catalogue; the goods of the other goods jobs are read
// and checked, then dropped.
const char* const kOperationsKeepingGoods[] = {
    "PrzesyłanieTowarów"_cp,
    "ZmianaCenTowarów"_cp,
    "UsuwanieTowarów"_cp,
    "SprawdzenieDanychTowarów"_cp,
};

template <std::size_t N>
bool isOneOf(const std::string& name, const char* const (&names)[N]) {
  for (const char* candidate : names)
    if (name == candidate) return true;
  return false;
}

// Windows-1250 text of the parser's UTF-8.
std::string toCp1250(const char* utf8) { return utf2cp1250(utf8, kNoLimit); }

// Appends character data to the reader's text buffer, which keeps its capacity from element
// to element. Plain ASCII, the bulk of a job, converts to itself and is copied as it is.
// Other text goes through the general conversion into `scratch`.
void appendCp1250(TextBuffer& out, std::string& scratch, const char* utf8, int len) {
  const auto n = static_cast<std::size_t>(len);
  // Eight bytes at a time, the last word overlapping the one before: a byte of 0x80 or above
  // sets its top bit in the word. Shorter texts by four bytes, or one by one.
  std::uint64_t high = 0;
  if (n >= 8) {
    std::size_t i = 0;
    for (; i + 8 < n; i += 8) {
      std::uint64_t word;
      std::memcpy(&word, utf8 + i, 8);
      high |= word;
    }
    std::uint64_t last;
    std::memcpy(&last, utf8 + n - 8, 8);
    high |= last;
  } else if (n >= 4) {
    std::uint32_t first, last;
    std::memcpy(&first, utf8, 4);
    std::memcpy(&last, utf8 + n - 4, 4);
    high = first | last;
  } else {
    for (std::size_t i = 0; i < n; ++i) high |= static_cast<unsigned char>(utf8[i]);
  }
  if (high & 0x8080808080808080u) {
    scratch.clear();
    utf2cp1250Append(scratch, utf8, n);
    out.append(scratch);
    return;
  }
  out.append(utf8, n);
}

// The values of a job's fields as nearly every job spells them: plain ASCII digits, "12.50",
// "2007-04-06", "0"/"1". These are converted here in place; every other spelling (white space,
// signs, more digits, a value out of range, anything invalid) goes to the general conversion,
// which gives the same value for it and reports the error. So a field reads as it would through
// the general conversion alone, only sooner.

// 1 to `most` ASCII digits and nothing else (most <= 18, so the value fits in 64 bits).
bool plainDigits(const char* p, std::size_t n, std::size_t most, std::uint64_t& value) {
  if (n == 0 || n > most) return false;
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const auto digit = static_cast<std::uint64_t>(static_cast<unsigned char>(p[i]) - '0');
    if (digit > 9) return false;
    v = v * 10 + digit;
  }
  value = v;
  return true;
}

unsigned long toUnsigned(const TextBuffer& t, unsigned long min, unsigned long max) {
  std::uint64_t v = 0;
  if (plainDigits(t.data(), t.size(), 9, v) && v >= min && (max == 0 || v <= max)) return v;
  return str2u(t.c_str(), min, max);
}

long toSigned(const TextBuffer& t, long min, long max) {
  std::uint64_t v = 0;
  if (plainDigits(t.data(), t.size(), 9, v) && static_cast<long>(v) >= min && static_cast<long>(v) <= max)
    return static_cast<long>(v);
  return str2i(t.c_str(), min, max);
}

// An amount without limits (str2currency with 0 decimals): 1 to 12 whole digits, optionally a
// point and 1 to 4 digits of fraction.
CY toAmount(const TextBuffer& t) {
  const char* p = t.data();
  const std::size_t n = t.size();
  const std::size_t point = t.view().find('.');
  std::uint64_t whole = 0, fraction = 0;
  if (point == std::string::npos) {
    if (plainDigits(p, n, 12, whole)) return CY{static_cast<std::int64_t>(whole) * CUfCurrency::kScale};
  } else if (plainDigits(p, point, 12, whole) && plainDigits(p + point + 1, n - point - 1, 4, fraction)) {
    static constexpr std::int64_t kFractionScale[] = {0, 1000, 100, 10, 1};
    return CY{static_cast<std::int64_t>(whole) * CUfCurrency::kScale +
              static_cast<std::int64_t>(fraction) * kFractionScale[n - point - 1]};
  }
  return str2currency(t.c_str(), 0);
}

// A date "YYYY-MM-DD" exactly, its parts in range (year 1900..3000, month 1..12, day 1..31).
CDateTime toDate(const TextBuffer& t) {
  const char* p = t.data();
  std::uint64_t year = 0, month = 0, day = 0;
  if (t.size() == 10 && plainDigits(p, 4, 4, year) && plainDigits(p + 5, 2, 2, month) &&
      plainDigits(p + 8, 2, 2, day) &&
      year >= 1900 && year <= 3000 && month >= 1 && month <= 12 && day >= 1 && day <= 31) {
    CDateTime value;
    dosdate* d = value.DosDate();
    d->da_year = static_cast<std::int16_t>(year);
    d->da_mon = static_cast<char>(month);
    d->da_day = static_cast<char>(day);
    return value;
  }
  return str2date(t.c_str());
}

bool toBool(const TextBuffer& t) {
  if (t.size() == 1 && (t.data()[0] == '0' || t.data()[0] == '1')) return t.data()[0] == '1';
  return str2b(t.c_str());
}

char toGoodsType(const TextBuffer& t) {
  if (t.size() == 1 && (t.data()[0] == 'T' || t.data()[0] == 'O')) return t.data()[0];
  return str2typ(t.c_str());
}

bool equalsIgnoringAsciiCase(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    char x = *a, y = *b;
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return *a == *b;
}

// An element or attribute name of the job (UTF-8) as a message shows it: in windows-1250, and
// a name of more than kShownName characters cut to them and "...".
constexpr std::size_t kShownName = 64;
std::string shownName(const char* utf8) {
  std::size_t bytes = 0;
  std::size_t characters = 0;
  for (; utf8[bytes]; ++bytes) {
    if ((static_cast<unsigned char>(utf8[bytes]) & 0xC0) == 0x80) continue;  // inside a character
    if (characters == kShownName) break;
    ++characters;
  }
  std::string shown;
  utf2cp1250Append(shown, utf8, bytes);
  if (utf8[bytes]) shown += "...";
  return shown;
}

// How giving the parser the next piece of the file went.
enum class Feed { More, Done, ParseFailed, ReadFailed, NoMemory };

// Reads the next piece of the file into the parser's buffer and parses it, marked final at the
// end of the file.
Feed feedNext(std::FILE* file, XML_Parser parser) {
  // Room for a few bytes more than a piece: see the line ends below.
  constexpr int kSpare = 8;
  char* chunk = static_cast<char*>(XML_GetBuffer(parser, g_chunkSize + kSpare));
  if (!chunk) return Feed::NoMemory;
  std::size_t got = std::fread(chunk, 1, static_cast<std::size_t>(g_chunkSize), file);
  // A piece never ends between the CR and the LF of a line end: split there, the parser
  // counts two lines after the root element, and the line of an error would depend on
  // where the pieces happen to end.
  while (got > 0 && chunk[got - 1] == '\r' && got < static_cast<std::size_t>(g_chunkSize + kSpare) &&
         std::fread(chunk + got, 1, 1, file) == 1)
    ++got;
  if (std::ferror(file)) return Feed::ReadFailed;
  const bool last = std::feof(file) != 0;
  if (XML_ParseBuffer(parser, static_cast<int>(got), last) == XML_STATUS_ERROR) return Feed::ParseFailed;
  return last ? Feed::Done : Feed::More;
}

// A place in the job file as messages name it: the line from 1, as the parser counts lines, and
// the column from 1 (the parser counts from 0), in characters of the file's encoding.
struct Place {
  unsigned long line = 0;
  unsigned long column = 0;
};

// Releases the parser and closes the file on every way out of the reading.
struct ReadingResources {
  std::FILE* file = nullptr;
  XML_Parser parser = nullptr;
  ~ReadingResources() {
    if (parser) XML_ParserFree(parser);
    if (file) std::fclose(file);
  }
};

}  // namespace

// One reading of the job file. Lives for the pass only; the structure state, the working
// records and the text buffer do not outlast it.
class VexaJobReader {
 public:
  explicit VexaJobReader(CVexaXml& vexa) : vexa_(vexa) {}

  int read();

 private:
  enum class State {
    BeforeRoot,
    InRoot,
    InGoods,
    InGoodsLeaf,
    InPosition,
    InPositionLeaf,
    InHeader,
    InHeaderLeaf,
    InCustomer,
    InCustomerLeaf,
    InDateRange,
    AfterRoot,
  };

  static void XMLCALL onStart(void* self, const XML_Char* name, const XML_Char** atts);
  static void XMLCALL onEnd(void* self, const XML_Char* name);
  static void XMLCALL onText(void* self, const XML_Char* s, int len);
  static void XMLCALL onComment(void*, const XML_Char*) {}
  static int XMLCALL onUnknownEncoding(void*, const XML_Char* name, XML_Encoding* info);

  void start(const char* name, const char** atts);
  void end();
  void startRoot(const char** atts);
  void startDateRange(const char** atts);
  // Reads the `id` attribute of Ce (1..2, kept as 0..1) or Wł (0..7), element `name`, into
  // index_.
  bool readIndex(const char* name, const char** atts, long first, long last, long offset);
  void storeGoodsField();
  void storePositionField();
  void storeHeaderField();
  void storeCustomerField();

  // Ends the interpretation after an error (see the file comment).
  void stop();
  // "VEXA_JOB.XML: <what> w linii N" as a text error, then where it is: the column, the
  // element (UTF-8 `element`), the attribute when one is given, and the record.
  [[gnu::cold]] void lineError(const char* what, const char* element, const char* attribute);

  // Where an error is, worked out only once there is one. The parts, separated by ", ": with
  // `fileAndLine` the file and "linia L" (for the messages that do not name them already),
  // "kolumna C", "element E" (windows-1250), "atrybut A", then the goods record or fiscal
  // position being read: "towar Id N" / "pozycja Id N" when its Id has been read, else
  // "K. towar w pliku" / "K. pozycja w pliku" (its place among the records of the job).
  std::string where(bool fileAndLine, Place place, const std::string& element, const char* attribute) const;
  std::string recordPart() const;
  // The place the parser stands at: the start tag being read, the end tag, or a parse error.
  Place currentPlace() const;
  // The start tag of the field whose end tag the parser stands at (see startOfElementEndingAt).
  Place leafPlace() const;
  // The name of the field being read (windows-1250).
  std::string leafName() const;
  // The error state asks this when a value of the job fails its conversion: the value is an
  // attribute of a start tag (attribute_ set), or the text of the field being read.
  static std::string conversionWhere(void* self);
  // Finds, by reading the file again, the start tag of the element whose end tag lies at byte
  // `endAt`; false when there is none.
  static bool startOfElementEndingAt(std::FILE* file, XML_Index endAt, Place& place);
  bool isLeaf() const {
    return state_ == State::InGoodsLeaf || state_ == State::InPositionLeaf ||
           state_ == State::InHeaderLeaf || state_ == State::InCustomerLeaf;
  }

  CVexaXml& vexa_;
  XML_Parser parser_ = nullptr;
  State state_ = State::BeforeRoot;
  bool stopped_ = false;
  TextBuffer text_;
  std::string scratch_;   // non-ASCII text on its way into text_ or the builder
  // Where the current leaf's text goes: text_, or for a goods text (barcodes excepted) straight
  // into the record builder's buffer from leafFrom_ on, saving a copy per text.
  TextBuffer* leafText_ = &text_;
  std::size_t leafFrom_ = 0;

  std::string operacja_;
  std::string idModelu_;
  std::string idTowaru_;
  std::string idOpakowania_;
  CDateTime od_;
  CDateTime do_;
  bool fiskalny_ = false;
  bool keepGoods_ = false;
  bool keepPositions_ = false;

  GoodsBuilder goods_;
  CTowarDF position_;
  CDokument document_;
  GoodsField goodsField_ = GoodsField::Id;
  PositionField positionField_ = PositionField::Id;
  HeaderField headerField_ = HeaderField::Ty;
  CustomerField customerField_ = CustomerField::Na;
  int index_ = 0;

  // For the messages only (see where()): the records begun so far, the Id of the current one,
  // and while an attribute value is converted, the start tag's name and the attribute's.
  std::size_t records_ = 0;
  std::uint32_t recordId_ = 0;
  bool recordIdKnown_ = false;
  const char* tag_ = nullptr;
  const char* attribute_ = nullptr;
  std::FILE* file_ = nullptr;   // the job file, read again to find a field's start tag
};

void VexaSetReadChunkSize(std::size_t bytes) {
  g_chunkSize = bytes == 0 || bytes > static_cast<std::size_t>(kChunkSize) ? kChunkSize : static_cast<int>(bytes);
}

int CVexaXml::readHeader() {
  VexaJobReader reader(*this);
  return reader.read();
}

int VexaJobReader::read() {
  ReadingResources res;
  // A FIFO or a device in place of the job file is refused as unreadable, not waited on.
  quorvel::platform::ReadOpenError why;
  res.file = quorvel::platform::OpenRegularFileForReading(kVexaFileName, why);
  if (!res.file) {
    return SetError(why == quorvel::platform::ReadOpenError::NotRegular ? ERR_FILE_READ : ERR_FILE_MISSING,
                    kVexaFileName);
  }

  // No forced encoding: the document's declaration decides.
  res.parser = parser_ = XML_ParserCreate(nullptr);
  if (!parser_) return SetError(ERR_NO_MEMORY, "");

  XML_SetUserData(parser_, this);
  XML_SetElementHandler(parser_, onStart, onEnd);
  XML_SetCommentHandler(parser_, onComment);
  XML_SetUnknownEncodingHandler(parser_, onUnknownEncoding, nullptr);
  vexa_.fiskalny_ = false;

  // For instance the report file could not be created.
  if (GetErrorNum() != 0) return GetErrorNum();

  // While the parser runs, only the handlers work, and a conversion error they meet is a value
  // of the job: it names its place (see conversionWhere).
  file_ = res.file;
  Feed outcome;
  {
    // Unset on every way out, also when running out of memory throws past the parser.
    struct WhereWhileParsing {
      ErrorWhere before;
      ~WhereWhileParsing() { ErrorSetWhere(before); }
    } placeSource{ErrorSetWhere(ErrorWhere{conversionWhere, this})};
    do outcome = feedNext(res.file, parser_);
    while (outcome == Feed::More && GetErrorNum() == 0);
  }

  if (outcome == Feed::NoMemory) {
    SetError(ERR_NO_MEMORY, "");
  } else if (outcome == Feed::ReadFailed) {
    SetError(ERR_FILE_READ, kVexaFileName);
  } else if (outcome == Feed::ParseFailed && GetErrorNum() == 0) {
    // A handler's error (the parser then reports only that it was stopped) takes precedence.
    std::string text = kVexaFileName;
    text += ": Parse error at line ";
    text += std::to_string(XML_GetCurrentLineNumber(parser_));
    text += ":";
    text += XML_ErrorString(XML_GetErrorCode(parser_));
    text += "\n";
    // The element named is the field being read, if the error lies inside one.
    SetError(ErrorWithWhere(text, where(false, currentPlace(), isLeaf() ? leafName() : std::string(), nullptr))
                 .c_str());
  }

  vexa_.operacja_ = operacja_;
  vexa_.idModelu_ = idModelu_;
  vexa_.idTowaru_ = idTowaru_;
  vexa_.idOpakowania_ = idOpakowania_.empty() ? idTowaru_ : idOpakowania_;
  vexa_.dataOd_ = od_;
  vexa_.dataDo_ = do_;
  const std::string exeDir = quorvel::platform::ExecutableDirectory();
  vexa_.exePath_ = exeDir.empty() ? std::string() : exeDir + "/";
  vexa_.dokument_ = document_;
  vexa_.fiskalny_ = fiskalny_;
  return GetErrorNum();
}

void VexaJobReader::lineError(const char* what, const char* element, const char* attribute) {
  std::string text = kVexaFileName;
  text += ": ";
  text += what;
  text += " w linii ";
  text += std::to_string(XML_GetCurrentLineNumber(parser_));
  SetError(ErrorWithWhere(text, where(false, currentPlace(), shownName(element), attribute)).c_str());
}

std::string VexaJobReader::where(bool fileAndLine, Place place, const std::string& element,
                                 const char* attribute) const {
  std::string out;
  if (fileAndLine) {
    out += kVexaFileName;
    out += ", linia ";
    out += std::to_string(place.line);
    out += ", ";
  }
  out += "kolumna ";
  out += std::to_string(place.column);
  if (!element.empty()) {
    out += ", element ";
    out += element;
  }
  if (attribute) {
    out += ", atrybut ";
    out += shownName(attribute);
  }
  const std::string record = recordPart();
  if (!record.empty()) {
    out += ", ";
    out += record;
  }
  return out;
}

std::string VexaJobReader::recordPart() const {
  const bool goods = state_ == State::InGoods || state_ == State::InGoodsLeaf;
  const bool position = state_ == State::InPosition || state_ == State::InPositionLeaf;
  if (!goods && !position) return std::string();
  if (recordIdKnown_) return (goods ? "towar Id " : "pozycja Id ") + std::to_string(recordId_);
  return std::to_string(records_) + (goods ? ". towar w pliku" : ". pozycja w pliku");
}

Place VexaJobReader::currentPlace() const {
  return Place{static_cast<unsigned long>(XML_GetCurrentLineNumber(parser_)),
               static_cast<unsigned long>(XML_GetCurrentColumnNumber(parser_)) + 1};
}

Place VexaJobReader::leafPlace() const {
  Place place;
  if (file_ && startOfElementEndingAt(file_, XML_GetCurrentByteIndex(parser_), place)) return place;
  return currentPlace();
}

std::string VexaJobReader::leafName() const {
  switch (state_) {
    case State::InGoodsLeaf: return shownName(spellingOf(kGoodsFields, goodsField_));
    case State::InPositionLeaf: return shownName(spellingOf(kPositionFields, positionField_));
    case State::InHeaderLeaf: return shownName(spellingOf(kHeaderFields, headerField_));
    case State::InCustomerLeaf: return shownName(spellingOf(kCustomerFields, customerField_));
    default: return std::string();
  }
}

std::string VexaJobReader::conversionWhere(void* self) {
  const auto* reader = static_cast<const VexaJobReader*>(self);
  if (reader->attribute_)
    return reader->where(true, reader->currentPlace(), shownName(reader->tag_), reader->attribute_);
  if (reader->isLeaf()) return reader->where(true, reader->leafPlace(), reader->leafName(), nullptr);
  return reader->where(true, reader->currentPlace(), std::string(), nullptr);
}

// The parser gives the line and column of the event it stands at only; that of a field's start
// tag, asked for at every field, would cost the reading a count of every byte. So the place is
// looked for only when a field's value is refused: a second parser reads the file from the
// start, taking the place of every start tag, until the end tag at the given byte. A field
// holds no elements, so the last start tag before its end tag is its own. The file is left
// where it was.
bool VexaJobReader::startOfElementEndingAt(std::FILE* file, XML_Index endAt, Place& place) {
  struct Search {
    XML_Parser parser;
    XML_Index endAt;
    Place lastStart;
    bool found;
  };
  const long resumeAt = std::ftell(file);
  if (resumeAt < 0 || endAt < 0 || std::fseek(file, 0, SEEK_SET) != 0) return false;
  Search search{XML_ParserCreate(nullptr), endAt, Place{}, false};
  if (search.parser) {
    XML_SetUserData(search.parser, &search);
    XML_SetUnknownEncodingHandler(search.parser, onUnknownEncoding, nullptr);
    XML_SetElementHandler(
        search.parser,
        [](void* data, const XML_Char*, const XML_Char**) {
          auto* s = static_cast<Search*>(data);
          s->lastStart = Place{static_cast<unsigned long>(XML_GetCurrentLineNumber(s->parser)),
                               static_cast<unsigned long>(XML_GetCurrentColumnNumber(s->parser)) + 1};
        },
        [](void* data, const XML_Char*) {
          auto* s = static_cast<Search*>(data);
          if (XML_GetCurrentByteIndex(s->parser) != s->endAt) return;
          s->found = true;
          XML_StopParser(s->parser, XML_FALSE);
        });
    while (feedNext(file, search.parser) == Feed::More) {
    }
    XML_ParserFree(search.parser);
  }
  std::clearerr(file);
  std::fseek(file, resumeAt, SEEK_SET);
  if (search.found) place = search.lastStart;
  return search.found;
}

void XMLCALL VexaJobReader::onStart(void* self, const XML_Char* name, const XML_Char** atts) {
  auto* reader = static_cast<VexaJobReader*>(self);
  if (reader->stopped_) return;
  reader->start(name, atts);
  if (GetErrorNum() != 0) {
    reader->stop();
    return;
  }
  if (reader->isLeaf()) XML_SetCharacterDataHandler(reader->parser_, onText);
}

void XMLCALL VexaJobReader::onEnd(void* self, const XML_Char*) {
  auto* reader = static_cast<VexaJobReader*>(self);
  if (reader->stopped_) return;
  const bool leaf = reader->isLeaf();
  reader->end();
  if (GetErrorNum() != 0) {
    reader->stop();
    return;
  }
  if (leaf) XML_SetCharacterDataHandler(reader->parser_, nullptr);
}

// Text is kept for leaf elements only: the parser is given this handler when a leaf starts and
// has none otherwise (nor after the reading stopped), so that the white space between the
// elements is neither converted nor handed over only to be dropped.
void XMLCALL VexaJobReader::onText(void* self, const XML_Char* s, int len) {
  auto* reader = static_cast<VexaJobReader*>(self);
  appendCp1250(*reader->leafText_, reader->scratch_, s, len);
}

void VexaJobReader::stop() {
  stopped_ = true;
  XML_SetCharacterDataHandler(parser_, nullptr);
  XML_StopParser(parser_, XML_FALSE);
}

namespace {

// Code points of the iso-8859-2 bytes 0xA0 to 0xFF (below them the code page is ISO-8859-1's).
constexpr std::uint32_t kIso88592HighPart[96] = {
    0x00A0, 0x0104, 0x02D8, 0x0141, 0x00A4, 0x013D, 0x015A, 0x00A7,
    0x00A8, 0x0160, 0x015E, 0x0164, 0x0179, 0x00AD, 0x017D, 0x017B,
    0x00B0, 0x0105, 0x02DB, 0x0142, 0x00B4, 0x013E, 0x015B, 0x02C7,
    0x00B8, 0x0161, 0x015F, 0x0165, 0x017A, 0x02DD, 0x017E, 0x017C,
    0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7,
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E,
    0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7,
    0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F,
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7,
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,
};

}  // namespace

// windows-1250 (exact name) and iso-8859-2 (any letter case) are single-byte encodings that
// Expat does not know by itself; every other unknown name is refused, and the parser then
// fails with its "unknown encoding" error.
int XMLCALL VexaJobReader::onUnknownEncoding(void*, const XML_Char* name, XML_Encoding* info) {
  const bool windows = std::strcmp(name, "windows-1250") == 0;
  const bool iso = !windows && equalsIgnoringAsciiCase(name, "iso-8859-2");
  if (!windows && !iso) return XML_STATUS_ERROR;
  // Every byte stands for its own character of the code page (not only the Polish letters):
  // "„", "–" or "€" of a windows-1250 job must reach the goods as themselves, not as the
  // control characters of the same numbers. A byte the code page leaves undefined keeps its
  // number, which the conversion to windows-1250 then turns into '?'.
  for (int b = 0; b < 256; ++b) {
    const std::uint32_t cp = windows ? quorvel::cp1250::codePointOf(static_cast<unsigned char>(b))
                                     : (b < 0xA0 ? static_cast<std::uint32_t>(b) : kIso88592HighPart[b - 0xA0]);
    info->map[b] = cp != 0 || b == 0 ? static_cast<int>(cp) : b;
  }
  info->data = nullptr;
  info->convert = nullptr;
  info->release = nullptr;
  return XML_STATUS_OK;
}

void VexaJobReader::start(const char* name, const char** atts) {
  text_.clear();
  leafText_ = &text_;
  const std::uint32_t packed = packName(name);
  switch (state_) {
    case State::BeforeRoot:
      if (std::strcmp(name, "Dane") == 0) {
        startRoot(atts);
        return;
      }
      break;
    case State::InRoot:
      if (!fiskalny_) {
        if (std::strcmp(name, "Towar") == 0 || std::strcmp(name, "Pozycja") == 0) {
          goods_.reset();
          ++records_;
          recordIdKnown_ = false;
          state_ = State::InGoods;
          return;
        }
      } else if (std::strcmp(name, "Pozycja") == 0) {
        position_.zero();
        ++records_;
        recordIdKnown_ = false;
        state_ = State::InPosition;
        return;
      } else if (std::strcmp(name, "Nagłówek") == 0) {
        document_.zero();
        state_ = State::InHeader;
        return;
      } else if (std::strcmp(name, "Data") == 0) {
        startDateRange(atts);
        return;
      }
      break;
    case State::InGoods:
      if (lookup(kGoodsFields, kGoodsFieldsSlots, packed, goodsField_)) {
        if (goodsField_ == GoodsField::Ce && !readIndex(name, atts, 1, 2, 1)) return;
        if (goodsField_ == GoodsField::Wl && !readIndex(name, atts, 0, 7, 0)) return;
        if (isGoodsText(goodsField_)) {
          leafText_ = &goods_.buffer();
          leafFrom_ = leafText_->size();
        }
        state_ = State::InGoodsLeaf;
        return;
      }
      break;
    case State::InPosition:
      if (lookup(kPositionFields, kPositionFieldsSlots, packed, positionField_)) {
        if (positionField_ == PositionField::Wl && !readIndex(name, atts, 0, 7, 0)) return;
        state_ = State::InPositionLeaf;
        return;
      }
      break;
    case State::InHeader:
      if (std::strcmp(name, "Ko") == 0) {
        state_ = State::InCustomer;
        return;
      }
      if (lookup(kHeaderFields, kHeaderFieldsSlots, packed, headerField_)) {
        state_ = State::InHeaderLeaf;
        return;
      }
      break;
    case State::InCustomer:
      if (lookup(kCustomerFields, kCustomerFieldsSlots, packed, customerField_)) {
        state_ = State::InCustomerLeaf;
        return;
      }
      break;
    default:
      break;
  }
  lineError("Nieprawidłowy element"_cp, name, nullptr);
}

void VexaJobReader::startRoot(const char** atts) {
  for (const char** a = atts; *a; a += 2) {
    const char* attr = a[0];
    const char* value = a[1];
    if (std::strcmp(attr, "operacja") == 0) {
      operacja_ = toCp1250(value);
      ErrorSetRaportOperacja(operacja_.c_str());
    } else if (std::strcmp(attr, "idModelu") == 0) {
      idModelu_ = toCp1250(value);
    } else if (std::strcmp(attr, "idTowaru") == 0) {
      idTowaru_ = toCp1250(value);
    } else if (std::strcmp(attr, "idOpakowania") == 0) {
      idOpakowania_ = toCp1250(value);
    } else if (std::strcmp(attr, "xmlns") == 0) {
      if (std::strcmp(value, kDaneNamespace) != 0) {
        lineError("Nieprawidłowa wartość atrybutu 'xmlns'"_cp, "Dane", nullptr);
        return;
      }
    } else {
      lineError("Nieprawidłowy element"_cp, "Dane", attr);
      return;
    }
  }
  if (!isOneOf(operacja_, kOperations)) {
    SetError(ErrorWithWhere(operacja_ + ": nieznana operacja", where(true, currentPlace(), "Dane", "operacja"))
                 .c_str());
    return;
  }
  fiskalny_ = isOneOf(operacja_, kFiscalOperations);
  keepGoods_ = isOneOf(operacja_, kOperationsKeepingGoods);
  keepPositions_ = operacja_ == "WydrukFiskalny";
  state_ = State::InRoot;
}

void VexaJobReader::startDateRange(const char** atts) {
  od_ = CDateTime();
  do_ = CDateTime();
  for (const char** a = atts; *a; a += 2) {
    const char* attr = a[0];
    const char* value = a[1];
    if (std::strcmp(attr, "od") == 0 || std::strcmp(attr, "do") == 0) {
      const bool from = attr[0] == 'o';
      tag_ = "Data";
      attribute_ = attr;
      (from ? od_ : do_) = str2date(toCp1250(value).c_str());
      attribute_ = nullptr;
      if (GetErrorNum() != 0) {
        lineError(from ? "Nieprawidłowa wartość atrybutu 'od'"_cp : "Nieprawidłowa wartość atrybutu 'do'"_cp,
                  "Data", nullptr);
        return;
      }
    } else {
      lineError("Nieprawidłowy atrybut"_cp, "Data", attr);
      return;
    }
  }
  state_ = State::InDateRange;
}

bool VexaJobReader::readIndex(const char* name, const char** atts, long first, long last, long offset) {
  long id = first;
  for (const char** a = atts; *a; a += 2) {
    if (std::strcmp(a[0], "id") != 0) {
      lineError("Nieprawidłowy atrybut"_cp, name, a[0]);
      return false;
    }
    const char* value = a[1];
    if (value[0] >= '0' && value[0] <= '9' && value[1] == 0) {
      id = value[0] - '0';   // the usual single digit, read in place
    } else {
      // A text that is no number is reported by the conversion and then as a bad index.
      tag_ = name;
      attribute_ = "id";
      id = str2i(toCp1250(value).c_str(), std::numeric_limits<long>::min(), std::numeric_limits<long>::max());
      attribute_ = nullptr;
    }
    if (id < first || id > last) {
      lineError("Nieprawidłowa wartość atrybutu 'id'"_cp, name, nullptr);
      return false;
    }
  }
  index_ = static_cast<int>(id - offset);
  return true;
}

void VexaJobReader::end() {
  switch (state_) {
    case State::InRoot:
      state_ = State::AfterRoot;
      break;
    case State::InGoods:
      if (keepGoods_) vexa_.DodajTowar(goods_);
      state_ = State::InRoot;
      break;
    case State::InGoodsLeaf:
      storeGoodsField();
      state_ = State::InGoods;
      break;
    case State::InPosition:
      if (keepPositions_) vexa_.DodajTowarDF(position_);
      state_ = State::InRoot;
      break;
    case State::InPositionLeaf:
      storePositionField();
      state_ = State::InPosition;
      break;
    case State::InHeader:
      state_ = State::InRoot;
      break;
    case State::InHeaderLeaf:
      storeHeaderField();
      state_ = State::InHeader;
      break;
    case State::InCustomer:
      state_ = State::InHeader;
      break;
    case State::InCustomerLeaf:
      storeCustomerField();
      state_ = State::InCustomer;
      break;
    case State::InDateRange:
      state_ = State::InRoot;
      break;
    case State::BeforeRoot:
    case State::AfterRoot:
      break;  // no start tag leads here without an error
  }
  text_.clear();
}

void VexaJobReader::storeGoodsField() {
  const TextBuffer& t = text_;
  GoodsBuilder& g = goods_;
  // A text field's bytes are at the end of the builder's buffer already.
  const auto leafText = [&g, this] {
    return std::string_view(g.buffer().data() + leafFrom_, g.buffer().size() - leafFrom_);
  };
  switch (goodsField_) {
    case GoodsField::Id:
      recordId_ = static_cast<std::uint32_t>(toUnsigned(t, 0, kMaxU32));
      g.setId(recordId_);
      recordIdKnown_ = true;
      break;
    case GoodsField::Ty: g.setTy(toGoodsType(t)); break;
    case GoodsField::Sy: g.setSy(leafText()); break;
    case GoodsField::KP: g.setKP(static_cast<std::uint32_t>(toUnsigned(t, 1, 999999))); break;
    case GoodsField::KK: g.setKK(leafText()); break;
    case GoodsField::DK: g.addDK(t); break;
    case GoodsField::KO: g.setKO(leafText()); break;
    case GoodsField::Na: g.setNa(leafText()); break;
    case GoodsField::Ce: g.setCe(index_, toAmount(t)); break;
    case GoodsField::CO: g.setCO(toBool(t)); break;
    case GoodsField::Va: g.setVa(static_cast<std::int32_t>(toSigned(t, kMinI32, kMaxI32))); break;
    case GoodsField::Gr: g.setGr(static_cast<std::int32_t>(toSigned(t, kMinI32, kMaxI32))); break;
    case GoodsField::Wl: g.setWl(index_, leafText()); break;
    case GoodsField::JM: g.setJM(static_cast<std::int32_t>(toSigned(t, kMinI32, kMaxI32))); break;
    case GoodsField::Wa: g.setWa(toBool(t)); break;
    case GoodsField::Op: g.setOp(leafText()); break;
    case GoodsField::Uw: g.setUw(leafText()); break;
    case GoodsField::OW: g.setOW(static_cast<std::uint32_t>(toUnsigned(t, 0, kMaxU32))); break;
    case GoodsField::DW: g.setDW(toDate(t)); break;
    case GoodsField::SW: g.setSW(leafText()); break;
    case GoodsField::PK: g.setPK(leafText()); break;
  }
}

void VexaJobReader::storePositionField() {
  const char* t = text_.c_str();
  CTowarDF& p = position_;
  switch (positionField_) {
    case PositionField::Id:
      p.Id = static_cast<std::uint32_t>(str2u(t, 0, kMaxU32));
      recordId_ = p.Id;
      recordIdKnown_ = true;
      break;
    case PositionField::Ty: p.Ty = str2typ(t); break;
    case PositionField::KP: p.KP = static_cast<std::uint32_t>(str2u(t, 1, 999999)); break;
    case PositionField::Na: p.Na = text_; break;
    case PositionField::Va: p.Va = static_cast<std::int32_t>(str2i(t, kMinI32, kMaxI32)); break;
    case PositionField::JM: p.JM = static_cast<std::int32_t>(str2i(t, kMinI32, kMaxI32)); break;
    case PositionField::Gr: p.Gr = static_cast<std::int32_t>(str2i(t, kMinI32, kMaxI32)); break;
    case PositionField::Il: p.Il = str2currency(t, 0); break;
    case PositionField::CN: p.CN = str2currency(t, 0); break;
    case PositionField::CB: p.CB = str2currency(t, 0); break;
    case PositionField::WN: p.WN = str2currency(t, 0); break;
    case PositionField::WB: p.WB = str2currency(t, 0); break;
    case PositionField::TR: p.TR = str2typRab(t); break;
    case PositionField::Ra: p.Ra = str2currency(t, 0); break;
    case PositionField::CN0: p.CN0 = str2currency(t, 0); break;
    case PositionField::CB0: p.CB0 = str2currency(t, 0); break;
    case PositionField::WN0: p.WN0 = str2currency(t, 0); break;
    case PositionField::WB0: p.WB0 = str2currency(t, 0); break;
    case PositionField::Wl: p.Wł[index_] = text_; break;
  }
}

void VexaJobReader::storeHeaderField() {
  const char* t = text_.c_str();
  CDokument& d = document_;
  switch (headerField_) {
    case HeaderField::Ty: d.Ty = str2typDok(t); break;
    case HeaderField::Nu: d.Nu = text_; break;
    case HeaderField::WN: d.WN = str2currency(t, 0); break;
    case HeaderField::WV: d.WV = str2currency(t, 0); break;
    case HeaderField::WB: d.WB = str2currency(t, 0); break;
    case HeaderField::DZ: d.DZ = str2currency(t, 0); break;
    case HeaderField::Za: d.Za = str2currency(t, 0); break;
    case HeaderField::ZG: d.ZG = str2currency(t, 0); break;
    case HeaderField::ZK: d.ZK = str2currency(t, 0); break;
    case HeaderField::TP: d.TP = str2date(t); break;
    case HeaderField::OW: d.OW = str2currency(t, 0); break;
    case HeaderField::OZ: d.OZ = str2currency(t, 0); break;
    case HeaderField::MW: d.MW = text_; break;
    case HeaderField::DW: d.DW = str2date(t); break;
    case HeaderField::DS: d.DS = str2date(t); break;
    case HeaderField::Wy: d.Wy = text_; break;
    case HeaderField::Od: d.Od = text_; break;
  }
}

void VexaJobReader::storeCustomerField() {
  CKontrahent& k = document_.Ko;
  switch (customerField_) {
    case CustomerField::Na: k.Na = text_; break;
    case CustomerField::Ul: k.Ul = text_; break;
    case CustomerField::Mi: k.Mi = text_; break;
    case CustomerField::KP: k.KP = text_; break;
    case CustomerField::Ni: k.Ni = text_; break;
  }
}
