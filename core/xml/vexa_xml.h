// The job document: the header of the job read from VEXA_JOB.XML and its goods catalogue.
//
// The catalogue keeps owned copies of the job's goods records and fiscal positions, each in
// the order added, and a cursor that the plug-ins walk: restricted to one goods type or to both
// types one after the other, in list order or by descending PLU code or barcode. Plug-ins that
// read goods back from a register add them to the same catalogue and find job goods by key.
//
// Writable records: SearchTowar and TwIterGetReadWrite hand out pointers into the catalogue.
// A change made through such a pointer (also to Ty, KP or KK, the keys of the cursor and the
// search) is taken into account by the catalogue's next call; make changes right after
// obtaining the pointer, before calling the catalogue again. A writable record keeps its
// address until TwIterDelete.
//
// The catalogue keeps its goods packed; TwIterGetNext hands each one out as a CTowar in one of
// a few view objects used in turn, so the reference it returns stays valid, and keeps showing
// that record, for at least the next three TwIterGetNext calls (longer once the record was
// handed out as writable). Callers that keep a record longer copy it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/datetime.h"
#include "core/records.h"
#include "platform/api.h"

// The job file in the host's current directory.
inline constexpr const char* kVexaFileName = "VEXA_JOB.XML";
// The namespace of the job and device-data documents.
inline constexpr const char* kDaneNamespace = "http://schemas.quorvel.org/UF/Dane.xsd";

class VexaJobReader;
class GoodsBuilder;

// The job file reaches the XML parser in pieces of `bytes` bytes (8192, also for 0 and for
// anything larger). For tests: whatever the size, where a piece ends must not change what a
// job reads as.
QUORVEL_API void VexaSetReadChunkSize(std::size_t bytes);

class QUORVEL_API CVexaXml {
 public:
  // Order of the goods cursor and the key of SearchTowar.
  enum SortType { sortNone = 0, sortKP = 1, sortKK = 2 };
  // How SprawdzUnikNazw compares names: uniRule removes the rule's characters from both names
  // first; any other value compares them unchanged.
  enum UniType { uniRule = 0, uniExact = 1 };

  // Empty header fields, default dates, fiscal flag false, zeroed document, empty catalogue.
  CVexaXml();
  // Copies the header and the catalogue; the copy owns copies of every record.
  CVexaXml(const CVexaXml& other);
  CVexaXml& operator=(const CVexaXml& other);
  ~CVexaXml();

  // ---- Reading the job ------------------------------------------------------------------
  // Reads VEXA_JOB.XML from the current directory into the header fields and the catalogue.
  // Returns the error number (0 when the job was read).
  int readHeader();

  // ---- Job header -----------------------------------------------------------------------
  const std::string& GetOperacja() const { return operacja_; }
  const std::string& GetIdModelu() const { return idModelu_; }
  const std::string& GetIdTowaru() const { return idTowaru_; }
  // idOpakowania of the job, or idTowaru when the job left it empty.
  const std::string& GetIdOpakowania() const { return idOpakowania_; }
  // Directory of the host executable, with the trailing separator.
  const std::string& GetExePath() const { return exePath_; }
  const CDateTime& GetDataOd() const { return dataOd_; }
  const CDateTime& GetDataDo() const { return dataDo_; }
  const CDokument& GetDokument() const { return dokument_; }
  // True for the fiscal operations; TwIterEmpty then looks at the fiscal positions.
  bool IsFiskalny() const { return fiskalny_; }
  void SetFiskalny(bool fiskalny) { fiskalny_ = fiskalny; }

  // ---- Goods catalogue ------------------------------------------------------------------
  // Appends a copy; IleOpk grows when its Ty is 'O', IleTow otherwise.
  void DodajTowar(const CTowar& towar);
  // Appends a copy to the fiscal positions; counted by the position's Ty the same way.
  void DodajTowarDF(const CTowarDF& towar);

  // Keeps, of the goods list, the records whose flag in `zostaw` (one per record, in list
  // order; records beyond its end count as kept) is non-zero, in their order, and drops the
  // others; the counters drop with them. The positions stay. Returns how many were dropped.
  // Made for the host before the operation runs: references handed out earlier are invalid.
  std::size_t ZostawTowary(const std::vector<char>& zostaw);

  // Sort type only; the cursor is not moved.
  void SetSortType(SortType sortType);
  // Type sequence: ' ' every type, '1' goods then packaging, '2' packaging then goods,
  // 'T' goods only, 'O' packaging only, anything else every type. The current type becomes
  // the sequence's first letter.
  void SetSortTypeTwType(char typ);

  // Puts the goods cursor on the first record of the walk and the position cursor on the
  // first position.
  void TwIterReset();
  // SetSortType, SetSortTypeTwType, then TwIterReset().
  void TwIterReset(SortType sortType, char typ);
  // Fiscal job: the position cursor is at its end; otherwise the goods cursor is.
  bool TwIterEmpty() const;
  // The record at the goods cursor, then the cursor moves on. At the end: the last record of
  // the list again. REQUIRES: !TwIterEmpty() (an empty list yields a zeroed record). The
  // reference is valid as the header comment says.
  const CTowar& TwIterGetNext();
  // The position at the position cursor, then it moves on; at the end the last position
  // again (a zeroed position when there is none).
  const CTowarDF& TwIterGetNextDF();
  // The catalogue's own, writable record when `towar` is that very object (a reference from
  // TwIterGetNext or SearchTowar still valid); else null.
  CTowar* TwIterGetReadWrite(const CTowar& towar);
  // Frees every record and position; cursors at their end; the counters keep their values.
  void TwIterDelete();
  // The place in list order (from 0, counting both goods types) of a record this catalogue
  // handed out (TwIterGetNext, SearchTowar, TwIterGetReadWrite), while that reference is
  // valid; kBrakMiejsca for any other object. A place stays the record's until TwIterDelete,
  // so it keys what a plug-in notes about a job's goods.
  static constexpr std::size_t kBrakMiejsca = static_cast<std::size_t>(-1);
  std::size_t TwMiejsce(const CTowar& towar) const;

  // The first record in list order of the current type whose key (KP under sortKP, KK under
  // sortKK) equals the key's; null when none, and always under sortNone.
  CTowar* SearchTowar(const CTowar& klucz);

  unsigned long IleTow() const { return ileTow_; }
  unsigned long IleOpk() const { return ileOpk_; }

  // A null rule counts as empty.
  void SetUnikNazwRule(UniType uniType, const char* rule);
  // 1 when a record of the current type other than the one with identifier `id` has the same
  // name under the unique-name rule; 0 otherwise and when the name or the rule is empty.
  int SprawdzUnikNazw(const std::string& name, unsigned long id);

  SortType GetSortType() const { return sortType_; }
  // The record count of each list.
  std::size_t IleRekordow() const;
  std::size_t IlePozycji() const;

 private:
  friend class VexaJobReader;
  struct Katalog;

  // DodajTowar for the record the job reader has built.
  void DodajTowar(const GoodsBuilder& towar);
  // Counts a record added of goods type `typ`: packagings ('O') apart from goods.
  void Policz(char typ);

  // Key comparison of the cursor's order: positive when a comes after b (descending keys).
  int TwCompare(const CTowar& a, const CTowar& b) const;
  void TwIterReset_NextTwTyp();
  std::string UniNameRule(const std::string& name) const;

  // Job header.
  std::string operacja_;
  std::string idModelu_;
  std::string idTowaru_;
  std::string idOpakowania_;
  std::string exePath_;
  CDateTime dataOd_;
  CDateTime dataDo_;
  bool fiskalny_ = false;
  CDokument dokument_;

  // Catalogue settings and counters.
  SortType sortType_ = sortNone;
  char twTypy_[3] = " ";       // the type sequence: one or two type letters
  char twTyp_ = ' ';           // the current type; ' ' means every type
  std::uint32_t ileTow_ = 0;
  std::uint32_t ileOpk_ = 0;
  std::string uniRule_;
  UniType uniType_ = uniRule;

  std::unique_ptr<Katalog> kat_;   // lists, cursors and key indexes
};
