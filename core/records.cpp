// The job records: defaults, markers and copies.
#include "core/records.h"

CTowar::CTowar() { zero(); }

CTowar::CTowar(const CTowar& other)
    : Id(other.Id), Ty(other.Ty), Sy(other.Sy), KP(other.KP), KK(other.KK), DK(other.DK),
      KO(other.KO), Na(other.Na), CO(other.CO), Va(other.Va), Gr(other.Gr), JM(other.JM),
      Wa(other.Wa), Op(other.Op), Uw(other.Uw), OW(other.OW), DW(other.DW), SW(other.SW),
      PK(other.PK), IdUF(other.IdUF), Ilość(other.Ilość), Wartość(other.Wartość),
      Id_brak(other.Id_brak), Ty_brak(other.Ty_brak), Sy_brak(other.Sy_brak),
      KP_brak(other.KP_brak), KK_brak(other.KK_brak), DK_brak(other.DK_brak),
      KO_brak(other.KO_brak), Na_brak(other.Na_brak), CO_brak(other.CO_brak),
      Va_brak(other.Va_brak), Gr_brak(other.Gr_brak), JM_brak(other.JM_brak),
      Wa_brak(other.Wa_brak), Op_brak(other.Op_brak), Uw_brak(other.Uw_brak),
      OW_brak(other.OW_brak), DW_brak(other.DW_brak), SW_brak(other.SW_brak),
      PK_brak(other.PK_brak), IdUF_brak(other.IdUF_brak), Ilość_brak(other.Ilość_brak),
      Wartość_brak(other.Wartość_brak) {
  for (int i = 0; i < kCeny; ++i) {
    Ce[i] = other.Ce[i];
    Ce_brak[i] = other.Ce_brak[i];
  }
  for (int i = 0; i < kWlasne; ++i) {
    Wł[i] = other.Wł[i];
    Wł_brak[i] = other.Wł_brak[i];
  }
}

CTowar& CTowar::operator=(const CTowar& other) {
  if (this == &other) return *this;
  Id = other.Id;
  Ty = other.Ty;
  Sy = other.Sy;
  KP = other.KP;
  KK = other.KK;
  DK = other.DK;
  KO = other.KO;
  Na = other.Na;
  CO = other.CO;
  Va = other.Va;
  Gr = other.Gr;
  JM = other.JM;
  Wa = other.Wa;
  Op = other.Op;
  Uw = other.Uw;
  OW = other.OW;
  DW = other.DW;
  SW = other.SW;
  PK = other.PK;
  IdUF = other.IdUF;
  Ilość = other.Ilość;
  Wartość = other.Wartość;
  Id_brak = other.Id_brak;
  Ty_brak = other.Ty_brak;
  Sy_brak = other.Sy_brak;
  KP_brak = other.KP_brak;
  KK_brak = other.KK_brak;
  DK_brak = other.DK_brak;
  KO_brak = other.KO_brak;
  Na_brak = other.Na_brak;
  CO_brak = other.CO_brak;
  Va_brak = other.Va_brak;
  Gr_brak = other.Gr_brak;
  JM_brak = other.JM_brak;
  Wa_brak = other.Wa_brak;
  Op_brak = other.Op_brak;
  Uw_brak = other.Uw_brak;
  OW_brak = other.OW_brak;
  DW_brak = other.DW_brak;
  SW_brak = other.SW_brak;
  PK_brak = other.PK_brak;
  IdUF_brak = other.IdUF_brak;
  Ilość_brak = other.Ilość_brak;
  Wartość_brak = other.Wartość_brak;
  for (int i = 0; i < kCeny; ++i) {
    Ce[i] = other.Ce[i];
    Ce_brak[i] = other.Ce_brak[i];
  }
  for (int i = 0; i < kWlasne; ++i) {
    Wł[i] = other.Wł[i];
    Wł_brak[i] = other.Wł_brak[i];
  }
  return *this;
}

CTowar::~CTowar() = default;

void CTowar::zero() {
  Id = 0;
  Ty = 'T';
  Sy.clear();
  KP = 0;
  KK.clear();
  DK.clear();
  KO.clear();
  Na.clear();
  CO = false;
  Va = 0;
  Gr = 0;
  JM = 0;
  Wa = false;
  Op.clear();
  Uw.clear();
  OW = 0;
  DW = CDateTime();
  SW.clear();
  PK.clear();
  IdUF.clear();
  Ilość = CUfCurrency();
  Wartość = CUfCurrency();
  for (int i = 0; i < kCeny; ++i) {
    Ce[i] = CUfCurrency();
    Ce_brak[i] = true;
  }
  for (int i = 0; i < kWlasne; ++i) {
    Wł[i].clear();
    Wł_brak[i] = true;
  }
  Id_brak = Ty_brak = Sy_brak = KP_brak = KK_brak = DK_brak = KO_brak = Na_brak = true;
  CO_brak = Va_brak = Gr_brak = JM_brak = Wa_brak = Op_brak = Uw_brak = OW_brak = true;
  DW_brak = SW_brak = PK_brak = IdUF_brak = Ilość_brak = Wartość_brak = true;
}

CTowarDF::CTowarDF() { zero(); }
CTowarDF::CTowarDF(const CTowarDF& other) = default;
CTowarDF& CTowarDF::operator=(const CTowarDF& other) = default;
CTowarDF::~CTowarDF() = default;

void CTowarDF::zero() {
  Id = 0;
  Ty = 'T';
  KP = 0;
  Na.clear();
  Va = 0;
  JM = 0;
  Il = CN = CB = WN = WB = CUfCurrency();
  TR = ' ';
  Ra = CN0 = CB0 = WN0 = WB0 = CUfCurrency();
  Gr = 0;
  for (auto& w : Wł) w.clear();
}

CKontrahent::CKontrahent() = default;
CKontrahent::CKontrahent(const CKontrahent& other) = default;
CKontrahent& CKontrahent::operator=(const CKontrahent& other) = default;
CKontrahent::~CKontrahent() = default;

void CKontrahent::zero() {
  Na.clear();
  Ul.clear();
  Mi.clear();
  KP.clear();
  Ni.clear();
}

CDokument::CDokument() { zero(); }
CDokument::CDokument(const CDokument& other) = default;
CDokument& CDokument::operator=(const CDokument& other) = default;
CDokument::~CDokument() = default;

void CDokument::zero() {
  Ty = ' ';
  Nu.clear();
  WN = WV = WB = DZ = Za = ZG = ZK = CUfCurrency();
  TP = CDateTime();
  OW = OZ = CUfCurrency();
  MW.clear();
  DW = CDateTime();
  DS = CDateTime();
  Wy.clear();
  Od.clear();
  Ko.zero();
}
