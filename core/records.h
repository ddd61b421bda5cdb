// The records that carry a job's data: goods (CTowar), fiscal-print positions (CTowarDF),
// the document header of a fiscal job (CDokument) and its customer (CKontrahent).
//
// They are plain value types shared by the core and every plug-in: the job reader fills them
// from VEXA_JOB.XML, the catalogue keeps copies, the plug-ins read them and fill new goods
// records with what a register reports, and the device-data writer writes them out. Each field
// is named after the job-file element that carries it. Texts are windows-1250 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/currency.h"
#include "core/datetime.h"
#include "platform/api.h"

class CVexaXml;

// One goods ('T') or packaging ('O') record.
//
// Every field has a not-given marker (suffix _brak) that is true while the field has not been
// given. Whoever sets a field clears its marker; the device-data writer writes only fields
// whose marker is clear. The arrays Ce and Wł have one marker per element.
class QUORVEL_API CTowar {
 public:
  static constexpr int kCeny = 2;     // entries of Ce
  static constexpr int kWlasne = 8;   // entries of Wł

  CTowar();
  // Copies every field and marker; the copy belongs to no catalogue.
  CTowar(const CTowar& other);
  // Copies every field and marker; the target keeps its own place in a catalogue, if any.
  CTowar& operator=(const CTowar& other);
  ~CTowar();

  // Every field to its default, every marker to true.
  void zero();

  // Each setter gives a field its value and clears the field's not-given marker.
  void UstawId(std::uint32_t v) { Id = v; Id_brak = false; }
  void UstawTy(char v) { Ty = v; Ty_brak = false; }
  void UstawSy(std::string_view v) { Sy.assign(v); Sy_brak = false; }
  void UstawKP(std::uint32_t v) { KP = v; KP_brak = false; }
  void UstawKK(std::string_view v) { KK.assign(v); KK_brak = false; }
  // Appends one further barcode with its terminating byte 0xFF.
  void DodajDK(const std::string& v) { DK += v; DK += '\xFF'; DK_brak = false; }
  void UstawKO(std::string_view v) { KO.assign(v); KO_brak = false; }
  void UstawNa(std::string_view v) { Na.assign(v); Na_brak = false; }
  // i: 0 or 1 (kCeny entries).
  void UstawCe(int i, const CUfCurrency& v) { Ce[i] = v; Ce_brak[i] = false; }
  void UstawCO(bool v) { CO = v; CO_brak = false; }
  void UstawVa(std::int32_t v) { Va = v; Va_brak = false; }
  void UstawGr(std::int32_t v) { Gr = v; Gr_brak = false; }
  // i: 0 to kWlasne - 1.
  void UstawWł(int i, std::string_view v) { Wł[i].assign(v); Wł_brak[i] = false; }
  void UstawJM(std::int32_t v) { JM = v; JM_brak = false; }
  void UstawWa(bool v) { Wa = v; Wa_brak = false; }
  void UstawOp(std::string_view v) { Op.assign(v); Op_brak = false; }
  void UstawUw(std::string_view v) { Uw.assign(v); Uw_brak = false; }
  void UstawOW(std::uint32_t v) { OW = v; OW_brak = false; }
  void UstawDW(const CDateTime& v) { DW = v; DW_brak = false; }
  void UstawSW(std::string_view v) { SW.assign(v); SW_brak = false; }
  void UstawPK(std::string_view v) { PK.assign(v); PK_brak = false; }
  void UstawIdUF(std::string_view v) { IdUF.assign(v); IdUF_brak = false; }
  void UstawIlość(const CUfCurrency& v) { Ilość = v; Ilość_brak = false; }
  void UstawWartość(const CUfCurrency& v) { Wartość = v; Wartość_brak = false; }

  std::uint32_t Id;          // the host's identifier of the goods
  char Ty;                   // 'T' goods, 'O' packaging
  std::string Sy;
  std::uint32_t KP;          // PLU code on the register, 1..999999
  std::string KK;            // barcode
  std::string DK;            // further barcodes, each followed by the byte 0xFF
  std::string KO;
  std::string Na;            // name
  CUfCurrency Ce[kCeny];     // prices: Ce[0] from <Ce id="1">, Ce[1] from <Ce id="2">
  bool CO;                   // open-price flag
  std::int32_t Va;           // VAT rate number
  std::int32_t Gr;
  std::string Wł[kWlasne];   // Wł[i] from <Wł id="i">
  std::int32_t JM;           // unit of measure
  bool Wa;
  std::string Op;
  std::string Uw;
  std::uint32_t OW;
  CDateTime DW;
  std::string SW;
  std::string PK;
  std::string IdUF;          // identifier of a sales record (plug-ins only)
  CUfCurrency Ilość;         // sold quantity (plug-ins only)
  CUfCurrency Wartość;       // sales value (plug-ins only)

  bool Id_brak;
  bool Ty_brak;
  bool Sy_brak;
  bool KP_brak;
  bool KK_brak;
  bool DK_brak;
  bool KO_brak;
  bool Na_brak;
  bool Ce_brak[kCeny];
  bool CO_brak;
  bool Va_brak;
  bool Gr_brak;
  bool Wł_brak[kWlasne];
  bool JM_brak;
  bool Wa_brak;
  bool Op_brak;
  bool Uw_brak;
  bool OW_brak;
  bool DW_brak;
  bool SW_brak;
  bool PK_brak;
  bool IdUF_brak;
  bool Ilość_brak;
  bool Wartość_brak;

 private:
  friend class CVexaXml;
  // The catalogue holding this very object and its place there; not part of the value.
  const CVexaXml* katalog_ = nullptr;
  std::size_t miejsce_ = 0;
};

// The further barcodes held in a DK text: the texts before each byte 0xFF, in order; an empty
// code, or a code without its terminating byte, ends the list.
inline std::vector<std::string> furtherBarcodesOf(std::string_view dk) {
  std::vector<std::string> codes;
  for (std::size_t end; (end = dk.find('\xFF')) != std::string_view::npos && end != 0; dk.remove_prefix(end + 1))
    codes.emplace_back(dk.substr(0, end));
  return codes;
}

// One position of a fiscal printout (operation "WydrukFiskalny"). No markers.
class QUORVEL_API CTowarDF {
 public:
  static constexpr int kWlasne = 8;

  CTowarDF();
  CTowarDF(const CTowarDF& other);
  CTowarDF& operator=(const CTowarDF& other);
  ~CTowarDF();

  void zero();

  std::uint32_t Id;
  char Ty;                   // 'T' or 'O'
  std::uint32_t KP;
  std::string Na;
  std::int32_t Va;
  std::int32_t JM;
  CUfCurrency Il;
  CUfCurrency CN;
  CUfCurrency CB;
  CUfCurrency WN;
  CUfCurrency WB;
  char TR;                   // ' ' none, 'P' or 'W'
  CUfCurrency Ra;
  CUfCurrency CN0;
  CUfCurrency CB0;
  CUfCurrency WN0;
  CUfCurrency WB0;
  std::int32_t Gr;
  std::string Wł[kWlasne];
};

// The customer of a fiscal document.
class QUORVEL_API CKontrahent {
 public:
  CKontrahent();
  CKontrahent(const CKontrahent& other);
  CKontrahent& operator=(const CKontrahent& other);
  ~CKontrahent();

  void zero();

  std::string Na;   // name
  std::string Ul;
  std::string Mi;
  std::string KP;
  std::string Ni;
};

// The document header of a fiscal job (element Nagłówek).
class QUORVEL_API CDokument {
 public:
  CDokument();
  CDokument(const CDokument& other);
  CDokument& operator=(const CDokument& other);
  ~CDokument();

  void zero();

  char Ty;          // ' ' none, 'P', 'F' or 'R'
  std::string Nu;
  CUfCurrency WN;
  CUfCurrency WV;
  CUfCurrency WB;
  CUfCurrency DZ;
  CUfCurrency Za;
  CUfCurrency ZG;
  CUfCurrency ZK;
  CDateTime TP;
  CUfCurrency OW;
  CUfCurrency OZ;
  std::string MW;
  CDateTime DW;
  CDateTime DS;
  std::string Wy;
  std::string Od;
  CKontrahent Ko;
};
