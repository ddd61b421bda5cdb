#include "core/xml/raport_xml.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "core/error_state.h"
#include "core/str2xml.h"
#include "platform/cp1250.h"
#include "platform/job_dir.h"

namespace {

// Lines of the exchange files end in CR LF, as the host application expects.
constexpr const char* kEol = "\r\n";

// The report file is one per process. The writer created last owns it; copies of a writer
// write their messages into the same file but never finish or close it.
struct ReportFile {
  std::FILE* file = nullptr;
  bool rootWritten = false;
  const CRaportXml* owner = nullptr;
};
ReportFile g_report;

// How the last report writer ended: the name refused at creation, the file finished whole and
// on the disk.
bool g_nameRefused = false;
bool g_finishedOnDisk = false;
bool g_finishedStatusE = true;

// Writes bytes and hands them to the system at once, so that a full disk or a file size
// limit shows up with the write that hit it rather than later at close.
bool writeOut(const std::string& bytes) {
  if (!g_report.file) return false;
  return quorvel::platform::WriteToFile(g_report.file, bytes.data(), bytes.size(), kRaportFileName);
}

// A report with a failed write is incomplete whatever follows, so nothing more is written
// to it. The file is closed before the error is set: the error state adds the error to this
// very report, and with the file closed that does nothing instead of failing again.
void failWrite() {
  quorvel::platform::CloseFile(g_report.file, kRaportFileName);
  g_report.file = nullptr;
  SetError(ERR_FILE_WRITE, kRaportFileName);
}

void copyCut(char* dest, std::size_t size, const char* src) {
  const std::size_t n = strnlen(src, size - 1);
  std::memcpy(dest, src, n);
  dest[n] = '\0';
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// CKomunikat

CKomunikat::CKomunikat(const char* typ, const char* tresc, std::int32_t numer, bool ustawStatus)
    : numer_(numer), ustawStatus_(ustawStatus) {
  if (!tresc || !*tresc) return;
  copyCut(typ_, sizeof typ_, typ ? typ : "");
  copyCut(tresc_, sizeof tresc_, tresc);
}

CKomunikat::CKomunikat(const CKomunikat& other)
    : numer_(other.numer_), ustawStatus_(other.ustawStatus_) {
  std::memcpy(typ_, other.typ_, sizeof typ_);
  std::memcpy(tresc_, other.tresc_, sizeof tresc_);
  if (other.pojemnosc_ > 0) {
    towary_ = new (std::nothrow) std::uint32_t[other.pojemnosc_];
    if (!towary_) {
      SetError(ERR_NO_MEMORY);
      return;
    }
    pojemnosc_ = other.pojemnosc_;
    ile_ = other.ile_;
    std::memcpy(towary_, other.towary_, sizeof(std::uint32_t) * static_cast<std::size_t>(ile_));
  }
}

CKomunikat& CKomunikat::operator=(const CKomunikat& other) {
  if (this == &other) return *this;
  CKomunikat copy(other);
  std::memcpy(typ_, copy.typ_, sizeof typ_);
  std::memcpy(tresc_, copy.tresc_, sizeof tresc_);
  numer_ = copy.numer_;
  ustawStatus_ = copy.ustawStatus_;
  std::uint32_t* old = towary_;
  towary_ = copy.towary_;
  ile_ = copy.ile_;
  pojemnosc_ = copy.pojemnosc_;
  copy.towary_ = old;  // freed by the temporary
  return *this;
}

CKomunikat::~CKomunikat() { delete[] towary_; }

void CKomunikat::DodajTowar(std::uint32_t id) {
  if (ile_ == pojemnosc_) {
    const int capacity = pojemnosc_ + 10;
    auto* grown = new (std::nothrow) std::uint32_t[capacity];
    if (!grown) {
      SetError(ERR_NO_MEMORY);
      return;
    }
    if (ile_ > 0) std::memcpy(grown, towary_, sizeof(std::uint32_t) * static_cast<std::size_t>(ile_));
    delete[] towary_;
    towary_ = grown;
    pojemnosc_ = capacity;
  }
  towary_[ile_++] = id;
}

std::uint32_t CKomunikat::GetTowar(int i) const {
  return i >= 0 && i < ile_ ? towary_[i] : 0;
}

// ---------------------------------------------------------------------------------------------
// CRaportXml

CRaportXml::CRaportXml() {
  // A new writer takes the report over; a file still open belongs to an earlier one.
  if (g_report.file) std::fclose(g_report.file);
  g_report = ReportFile{};
  g_report.owner = this;
  g_nameRefused = false;
  g_finishedOnDisk = false;
  g_finishedStatusE = true;
  // A link or a special file under the name is never written through (it could point at any
  // file the host's user may write); the name stays as it is and the job is refused.
  quorvel::platform::WriteOpenError why = quorvel::platform::WriteOpenError::None;
  g_report.file = quorvel::platform::OpenResultFileForWriting(kRaportFileName, why);
  if (!g_report.file) {
    g_nameRefused = why == quorvel::platform::WriteOpenError::NotRegular;
    SetError(ERR_FILE_CREATE, kRaportFileName);
    return;
  }
  std::string declaration = "<?xml version=\"1.0\" encoding=\"windows-1250\" ?>";
  declaration += kEol;
  if (!writeOut(declaration)) failWrite();
}

CRaportXml::CRaportXml(const CRaportXml& other) : CMessageSink(other), operacja_(other.operacja_) {
  std::memcpy(statusTyp_, other.statusTyp_, sizeof statusTyp_);
  std::memcpy(statusTresc_, other.statusTresc_, sizeof statusTresc_);
}

CRaportXml& CRaportXml::operator=(const CRaportXml& other) {
  if (this == &other) return *this;
  std::memcpy(statusTyp_, other.statusTyp_, sizeof statusTyp_);
  std::memcpy(statusTresc_, other.statusTresc_, sizeof statusTresc_);
  operacja_ = other.operacja_;
  return *this;
}

CRaportXml::~CRaportXml() {
  if (g_report.owner == this) {
    if (g_report.file) writeHeader();
    if (g_report.file) finish();
    g_report = ReportFile{};
  }
  if (ErrorGetRaport() == this) ErrorSetRaport(nullptr);
}

// The messages reach the disk before the status does: a body that cannot be synced gets an
// error message and the status E, while the file can still say so. A failure after the status
// block is written (the status itself not synced, the close, the directory's entry) can no
// longer change what the file says; it lands in the error state and in
// RaportFinishedOnDisk, through which the host learns it.
void CRaportXml::finish() {
  if (!quorvel::platform::SyncFileToDisk(g_report.file, kRaportFileName)) {
    SetError(ERR_FILE_WRITE, kRaportFileName);
    const std::string text = GetErrorMsg();
    writeMessage("E", text.c_str(), 0, nullptr);
    UstawStatus("E", text.c_str());
    if (!g_report.file) return;  // the message itself failed: the file is closed already
  }
  std::string block;
  block += "\t<Status>";
  block += kEol;
  block += "\t\t<Typ>";
  block += str2xml(typ2str(statusTyp_));
  block += "</Typ>";
  block += kEol;
  if (statusTresc_[0]) {
    block += "\t\t<Treść>"_cp;
    block += str2xml(statusTresc_);
    block += "</Treść>"_cp;
    block += kEol;
  }
  block += "\t</Status>";
  block += kEol;
  block += "</Raport>";
  g_finishedStatusE = std::strcmp(statusTyp_, "E") == 0;
  bool ok = writeOut(block);
  ok = ok && quorvel::platform::SyncFileToDisk(g_report.file, kRaportFileName);
  std::FILE* file = g_report.file;
  g_report.file = nullptr;
  ok = quorvel::platform::CloseFile(file, kRaportFileName) && ok;
  ok = ok && quorvel::platform::SyncCurrentDirectory();
  // The file is closed already: the error only lands in the error state.
  if (!ok) SetError(ERR_FILE_WRITE, kRaportFileName);
  g_finishedOnDisk = ok;
}

bool RaportNameRefused() { return g_nameRefused; }
bool RaportFinishedOnDisk() { return g_finishedOnDisk; }
bool RaportFinishedStatusE() { return g_finishedStatusE; }

bool CRaportXml::IsOpen() const { return g_report.file != nullptr; }

void CRaportXml::UstawStatus(const char* typ, const char* tresc) {
  if (typ) copyCut(statusTyp_, sizeof statusTyp_, typ);
  if (tresc) copyCut(statusTresc_, sizeof statusTresc_, tresc);
}

void CRaportXml::SetOperacja(const char* operacja) { operacja_ = operacja ? operacja : ""; }

void CRaportXml::DodajKomunikat(const char* typ, const char* tresc, std::int32_t numer, bool ustawStatus) {
  if (!g_report.file || !tresc || !*tresc) return;
  writeMessage(typ, tresc, numer, nullptr);
  if (ustawStatus) UstawStatus(typ, tresc);
}

void CRaportXml::DodajKomunikat(const CKomunikat& komunikat) {
  if (!g_report.file || !komunikat.GetTresc()[0]) return;
  writeMessage(komunikat.GetTyp(), komunikat.GetTresc(), komunikat.GetNumer(), &komunikat);
  if (komunikat.GetUstawStatus()) UstawStatus(komunikat.GetTyp(), komunikat.GetTresc());
}

const char* CRaportXml::typ2str(const char* typ) const { return typ ? typ : ""; }

void CRaportXml::writeHeader() {
  if (!g_report.file || g_report.rootWritten) return;
  std::string line = "<Raport operacja=\"";
  // The name comes from the job file: escaped like any other text of the report.
  line += str2xml(operacja_.c_str());
  line += "\" xmlns=\"";
  line += kRaportNamespace;
  line += "\">";
  line += kEol;
  // Set once the tag is built (a failed allocation leaves it unwritten, to be tried again) and
  // before the write is checked: reporting a failure of this very write must not try to
  // write the tag again.
  g_report.rootWritten = true;
  if (!writeOut(line)) failWrite();
}

void CRaportXml::writeMessage(const char* typ, const char* tresc, std::int32_t numer,
                              const CKomunikat* withGoods) {
  writeHeader();
  if (!g_report.file) return;
  std::string block;
  block += "\t<Komunikat>";
  block += kEol;
  block += "\t\t<Typ>";
  block += str2xml(typ2str(typ));
  block += "</Typ>";
  block += kEol;
  if (numer > 0) {
    block += "\t\t<Numer>";
    block += std::to_string(numer);
    block += "</Numer>";
    block += kEol;
  }
  block += "\t\t<Treść>"_cp;
  block += str2xml(tresc);
  block += "</Treść>"_cp;
  block += kEol;
  if (withGoods) {
    for (int i = 0; i < withGoods->IleTowarow(); ++i) {
      block += "\t\t<Towar>";
      block += std::to_string(withGoods->GetTowar(i));
      block += "</Towar>";
      block += kEol;
    }
  }
  block += "\t</Komunikat>";
  block += kEol;
  if (!writeOut(block)) failWrite();
}
