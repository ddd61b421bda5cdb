// The report file RAPORT.XML: every error, warning and notice of a job, in the order they
// arose, each optionally with a number and a list of goods, and the job's final status.
//
// The file is written as it goes: the declaration when the writer is created, each message
// the moment it is added, the status block and the closing tag when the writer is destroyed.
// Texts are windows-1250; they pass through str2xml on their way into the file.
#pragma once

#include <cstdint>
#include <string>

#include "core/message_sink.h"
#include "platform/api.h"

// The namespace of the report document.
inline constexpr const char* kRaportNamespace = "http://schemas.quorvel.org/UF/Raport.xsd";
// The report lands in the current directory of the host.
inline constexpr const char* kRaportFileName = "RAPORT.XML";

// One report message with a list of goods identifiers.
class QUORVEL_API CKomunikat {
 public:
  // A null or empty text makes a message with an empty text, which is never written.
  // Otherwise the type is cut to 2 characters and the text to 1023.
  CKomunikat(const char* typ, const char* tresc, std::int32_t numer = 0, bool ustawStatus = false);
  CKomunikat(const CKomunikat& other);
  CKomunikat& operator=(const CKomunikat& other);
  ~CKomunikat();

  // Appends a goods identifier; the list grows by 10 entries whenever it is full.
  void DodajTowar(std::uint32_t id);

  const char* GetTyp() const { return typ_; }
  const char* GetTresc() const { return tresc_; }
  std::int32_t GetNumer() const { return numer_; }
  bool GetUstawStatus() const { return ustawStatus_; }
  int IleTowarow() const { return ile_; }
  // The i-th identifier; 0 when i is negative or not below the count.
  std::uint32_t GetTowar(int i) const;
  // Entries the goods list holds before it must grow again.
  int GetPojemnosc() const { return pojemnosc_; }

 private:
  char typ_[3] = {};
  char tresc_[1024] = {};
  std::int32_t numer_ = 0;
  bool ustawStatus_ = false;
  std::uint32_t* towary_ = nullptr;
  int ile_ = 0;
  int pojemnosc_ = 0;
};

// Whether the last report writer found RAPORT.XML to be a symbolic link or no regular file
// (a FIFO, a device, a directory) and so wrote nothing (error 1 is set then).
QUORVEL_API bool RaportNameRefused();
// Whether the last report writer that was destroyed finished RAPORT.XML whole and made it
// durable: status block written, file and directory synced, file closed. False before then.
QUORVEL_API bool RaportFinishedOnDisk();
// Whether the status the last finished report wrote is E (also when none was written).
QUORVEL_API bool RaportFinishedStatusE();

// The writer of RAPORT.XML. The file handle is process-wide: the writer created last owns it
// and finishes the file when destroyed; copies share the handle, carry the status and the
// operation name, and leave the file alone when destroyed.
class QUORVEL_API CRaportXml : public CMessageSink {
 public:
  // Creates or truncates RAPORT.XML and writes the XML declaration. A file that cannot be
  // created sets error 1 "RAPORT.XML" and nothing is ever written; a failed write sets error 4.
  // A name that is a symbolic link or not a regular file is left untouched (error 1).
  CRaportXml();
  CRaportXml(const CRaportXml& other);
  CRaportXml& operator=(const CRaportXml& other);
  // The owner writes the root tag if still missing, syncs the messages to disk (a failure
  // adds the error message "Błąd zapisu pliku RAPORT.XML" and makes the status E), writes the
  // status block and the closing tag, syncs the file, closes it and syncs the directory
  // (RaportFinishedOnDisk tells the outcome). Unlinks the error state from this writer.
  ~CRaportXml() override;

  // Status type := typ cut to 2 characters; a non-null tresc becomes the status text, cut
  // to 1023 characters (a null one leaves the text as it is).
  void UstawStatus(const char* typ, const char* tresc) override;
  // The root's operacja attribute; matters only until the root start tag is written.
  void SetOperacja(const char* operacja) override;
  // Writes one message (with <Numer> when numer > 0); with ustawStatus it becomes the
  // status. A message with an empty text, or with the file not open, has no effect at all.
  void DodajKomunikat(const char* typ, const char* tresc, std::int32_t numer, bool ustawStatus) override;
  void DodajKomunikat(const CKomunikat& komunikat) override;

  const char* GetStatusTyp() const { return statusTyp_; }
  const char* GetStatusTresc() const { return statusTresc_; }
  const char* GetOperacja() const { return operacja_.c_str(); }
  // Whether RAPORT.XML is open for writing (false after a create or write failure).
  bool IsOpen() const;

 private:
  const char* typ2str(const char* typ) const;
  // Writes the root start tag once.
  void writeHeader();
  // The owner's end: body synced, status block, synced, closed, directory synced.
  void finish();
  // One <Komunikat> block; the goods of withGoods (when given) as <Towar> lines.
  void writeMessage(const char* typ, const char* tresc, std::int32_t numer, const CKomunikat* withGoods);

  char statusTyp_[3] = "E";
  char statusTresc_[1024] = {};
  std::string operacja_ = "InicjalizacjaSterownika";
};
