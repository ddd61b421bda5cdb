#include "core/xml/progkom_xml.h"

#include <charconv>
#include <cstdio>
#include <string>

#include "core/error_state.h"
#include "core/records.h"
#include "core/str2xml.h"
#include "core/xml/vexa_xml.h"
#include "platform/cp1250.h"
#include "platform/job_dir.h"

const char* const kNotRegularDetail =
    " (nazwa jest dowiązaniem symbolicznym lub nie jest zwykłym plikiem; nie zapisano przez nią)"_cp;

namespace {

// Lines of the exchange files end in CR LF, as the host application expects.
constexpr const char* kEol = "\r\n";

// The device-data file is one per process. The writer that created it finishes it; copies
// share the stream but leave it alone when destroyed.
struct DeviceDataFile {
  std::FILE* file = nullptr;
  const CProgKomXml* owner = nullptr;
  bool failed = false;  // a record failed to reach the system; Close reports it
  // The declaration and root start tag never reached the file: records and an end tag written
  // after them would make a file no parser takes, so nothing more is written.
  bool headless = false;
};
DeviceDataFile g_out;
// False while the file is open and after a Close that failed to finish it whole and durable.
bool g_finishedOnDisk = true;
// The message of the last writer's failure to create its file, "" when it was created.
std::string g_createError;

// Hands one complete record to the operating system at once, so a crash of the host after
// this call loses nothing of it. A failure is remembered, and Close turns it into error 4.
bool writeOut(const std::string& bytes) {
  if (!g_out.file || g_out.headless) return false;
  const bool ok = quorvel::platform::WriteToFile(g_out.file, bytes.data(), bytes.size(), kProgKomFileName);
  if (!ok) g_out.failed = true;
  return ok;
}

// Finishes and closes the stream; false when any part of the file may not have reached the disk.
// A new file is only durable once its directory entry is: without the directory's sync a power
// loss right after Close could leave no PROG_KOM.XML at all although the register's counters
// were cleared.
bool finishFile() {
  bool ok = writeOut("</Dane>") && !g_out.failed;
  std::FILE* f = g_out.file;
  g_out.file = nullptr;
  g_out.owner = nullptr;
  ok = !std::ferror(f) && ok;  // also catches a record that failed earlier
  ok = quorvel::platform::SyncFileToDisk(f, kProgKomFileName) && ok;
  ok = quorvel::platform::CloseFile(f, kProgKomFileName) && ok;
  ok = ok && quorvel::platform::SyncCurrentDirectory();
  return ok;
}

void appendUnsigned(std::string& out, unsigned long long value) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, end);
}

void appendSigned(std::string& out, long long value) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, end);
}

// <name>text</name> with the text escaped.
void appendText(std::string& out, const char* name, const std::string& text) {
  out += '<';
  out += name;
  out += '>';
  out += str2xml(text.c_str());
  out += "</";
  out += name;
  out += '>';
}

// A single character goes through the escaping too, so that a type or flag character that a
// plug-in set to '<', '&' or a control byte cannot break the document; T, O, 1 and 0 pass as
// they are, and a zero byte writes nothing.
void appendChar(std::string& out, const char* name, char c) {
  const char text[2] = {c, '\0'};
  appendText(out, name, text);
}

void appendFlag(std::string& out, const char* name, bool flag) {
  appendChar(out, name, flag ? '1' : '0');
}

void appendUnsignedElement(std::string& out, const char* name, unsigned long long value) {
  out += '<';
  out += name;
  out += '>';
  appendUnsigned(out, value);
  out += "</";
  out += name;
  out += '>';
}

void appendSignedElement(std::string& out, const char* name, long long value) {
  out += '<';
  out += name;
  out += '>';
  appendSigned(out, value);
  out += "</";
  out += name;
  out += '>';
}

// Money in the shortest text form: 12.5, 3, -0.25.
void appendMoney(std::string& out, const char* name, const CUfCurrency& value) {
  out += '<';
  out += name;
  out += '>';
  out += value.GetString(-1);
  out += "</";
  out += name;
  out += '>';
}

}  // namespace

CProgKomXml::CProgKomXml(const char* operacja) {
  // Only one device-data file is open at a time; a stream still open belongs to an earlier writer.
  if (g_out.file) std::fclose(g_out.file);
  // A link or a special file under the name is never written through: the name stays as it
  // is, the job goes on without device data, and the report says why.
  quorvel::platform::WriteOpenError why = quorvel::platform::WriteOpenError::None;
  g_out = DeviceDataFile{};
  g_out.file = quorvel::platform::OpenResultFileForWriting(kProgKomFileName, why);
  g_out.owner = this;
  g_finishedOnDisk = g_out.file == nullptr;  // a file never opened has nothing to lose
  g_createError.clear();
  if (!g_out.file) {
    g_out.owner = nullptr;
    if (why == quorvel::platform::WriteOpenError::NotRegular) {
      SetError(ERR_FILE_CREATE, (std::string(kProgKomFileName) + kNotRegularDetail).c_str());
    } else {
      SetError(ERR_FILE_CREATE, kProgKomFileName);
    }
    g_createError = GetErrorMsg();
    return;
  }
  std::string header = "<?xml version=\"1.0\" encoding=\"windows-1250\" ?>";
  header += kEol;
  // The operation name was checked against the operation table when the job was read, and
  // those names pass the escaping unchanged; escaping it keeps the file well-formed whatever
  // name a caller passes.
  header += "<Dane operacja=\"";
  header += str2xml(operacja);
  header += "\" xmlns=\"";
  header += kDaneNamespace;
  header += "\">";
  header += kEol;
  if (!writeOut(header)) {
    g_out.headless = true;
    SetError(ERR_FILE_WRITE, kProgKomFileName);
  }
}

CProgKomXml::CProgKomXml(const CProgKomXml& other) : obrot_(other.obrot_) {}

CProgKomXml& CProgKomXml::operator=(const CProgKomXml& other) {
  obrot_ = other.obrot_;
  return *this;
}

CProgKomXml::~CProgKomXml() {
  if (g_out.owner == this) Close();
}

bool CProgKomXml::IsOpen() const { return g_out.file != nullptr; }

bool ProgKomFinishedOnDisk() { return g_finishedOnDisk; }
const char* ProgKomCreateError() { return g_createError.empty() ? nullptr : g_createError.c_str(); }

int CProgKomXml::Close() {
  if (g_out.file) {
    g_finishedOnDisk = finishFile();
    if (!g_finishedOnDisk) SetError(ERR_FILE_WRITE, kProgKomFileName);
  }
  return GetErrorNum();
}

void CProgKomXml::DodajTowar(std::uint32_t id) {
  if (!g_out.file) return;
  std::string line = "\t<Towar>";
  appendUnsignedElement(line, "Id", id);
  line += "</Towar>";
  line += kEol;
  writeOut(line);
}

void CProgKomXml::DodajTowar(const CTowar& t) {
  if (!g_out.file) return;
  std::string line = "\t";
  line += TowarRecordText(t);
  line += kEol;
  writeOut(line);
}

std::string TowarRecordText(const CTowar& t) {
  std::string line = "<Towar>";
  if (!t.Id_brak) appendUnsignedElement(line, "Id", t.Id);
  if (!t.Ty_brak) appendChar(line, "Ty", t.Ty);
  if (!t.Sy_brak) appendText(line, "Sy", t.Sy);
  if (!t.KP_brak) appendUnsignedElement(line, "KP", t.KP);
  if (!t.KK_brak) appendText(line, "KK", t.KK);
  if (!t.DK_brak) {
    // Every further barcode is stored followed by the byte 0xFF; an empty code or a code
    // without its terminator ends the list.
    std::string::size_type start = 0;
    for (;;) {
      const auto end = t.DK.find('\xFF', start);
      if (end == std::string::npos || end == start) break;
      appendText(line, "DK", t.DK.substr(start, end - start));
      start = end + 1;
    }
  }
  if (!t.KO_brak) appendText(line, "KO", t.KO);
  if (!t.Na_brak) appendText(line, "Na", t.Na);
  for (int i = 0; i < CTowar::kCeny; ++i) {
    if (t.Ce_brak[i]) continue;
    line += "<Ce id=\"";
    appendSigned(line, i + 1);
    line += "\">";
    line += t.Ce[i].GetString(-1);
    line += "</Ce>";
  }
  if (!t.CO_brak) appendFlag(line, "CO", t.CO);
  if (!t.Va_brak) appendSignedElement(line, "Va", t.Va);
  if (!t.Gr_brak) appendSignedElement(line, "Gr", t.Gr);
  for (int i = 0; i < CTowar::kWlasne; ++i) {
    if (t.Wł_brak[i]) continue;
    line += "<Wł id=\""_cp;
    appendSigned(line, i);
    line += "\">";
    line += str2xml(t.Wł[i].c_str());
    line += "</Wł>"_cp;
  }
  if (!t.JM_brak) appendSignedElement(line, "JM", t.JM);
  if (!t.Wa_brak) appendFlag(line, "Wa", t.Wa);
  if (!t.Op_brak) appendText(line, "Op", t.Op);
  if (!t.Uw_brak) appendText(line, "Uw", t.Uw);
  if (!t.OW_brak) appendUnsignedElement(line, "OW", t.OW);
  if (!t.DW_brak) {
    line += "<DW>";
    line += t.DW.GetString();
    line += "</DW>";
  }
  if (!t.SW_brak) appendText(line, "SW", t.SW);
  if (!t.PK_brak) appendText(line, "PK", t.PK);
  line += "</Towar>";
  return line;
}

void CProgKomXml::DodajObrot(const CTowar& t) {
  if (!g_out.file) return;
  // Quantity and value leave with one sign: a return (negative value) of a positive quantity,
  // or a negative quantity with a positive value, is written with both negative.
  CUfCurrency ilosc = t.Ilość;
  CUfCurrency wartosc = t.Wartość;
  if (wartosc.GetCurrency() < 0 && ilosc.GetCurrency() > 0) {
    ilosc = -ilosc;
  } else if (wartosc.GetCurrency() > 0 && ilosc.GetCurrency() < 0) {
    wartosc = -wartosc;
  }
  std::string line = "\t<Obrót>"_cp;
  appendText(line, "IdUF", t.IdUF);
  appendChar(line, "Typ", t.Ty);
  appendMoney(line, "Ilość"_cp, ilosc);
  appendMoney(line, "Wartość"_cp, wartosc);
  line += "</Obrót>"_cp;
  line += kEol;
  writeOut(line);
  obrot_ = true;
}
