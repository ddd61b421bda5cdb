#include "drivers/skeleton/goods.h"

#include <map>

#include "core/error_state.h"
#include "core/globals.h"
#include "core/progress.h"
#include "core/stop.h"
#include "core/xml/progkom_xml.h"
#include "core/xml/vexa_xml.h"
#include "drivers/skeleton/limits.h"
#include "drivers/skeleton/link.h"
#include "drivers/skeleton/records.h"
#include "platform/cp1250.h"
#include "plugin/goods_warning.h"

namespace quorvel::skeleton {

plugin::GoodsRules goodsRules() {
  plugin::GoodsRules rules;
  rules.limits = modelLimits();
  return rules;
}

namespace {

// The register's record of a goods the plan lets through: the name cut to the model's length
// (its characters are already those of the register's code page), and for a package only its
// name and price, as the limits say the register takes them.
GoodsRecord recordOf(const CTowar& t) {
  GoodsRecord r;
  r.type = !t.Ty_brak && t.Ty == 'O' ? 'O' : 'T';
  r.plu = t.KP_brak ? 0 : static_cast<long>(t.KP);
  r.name = t.Na_brak ? std::string() : t.Na.substr(0, modelLimits().nameLength);
  for (char& c : r.name)
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  r.price = t.Ce_brak[0] ? 0 : t.Ce[0].GetCurrency() / 100;
  r.openPrice = !t.CO_brak && t.CO;
  if (r.type == 'T') {
    r.barcode = t.KK_brak ? std::string() : t.KK;
    r.unit = t.JM_brak ? 1 : t.JM;
    r.vat = t.Va_brak ? 0 : t.Va;
    r.group = t.Gr_brak ? 1 : t.Gr;
  }
  return r;
}

// Why the register refused a goods, for its warning (windows-1250).
std::string refusalText(int refusal) {
  const char* why = "nieznany powód"_cp;
  switch (static_cast<RegisterRefusal>(refusal)) {
    case RegisterRefusal::BadRecord: why = "nieczytelny rekord"_cp; break;
    case RegisterRefusal::Name: why = "nazwa"_cp; break;
    case RegisterRefusal::Plu: why = "kod PLU"_cp; break;
    case RegisterRefusal::Barcode: why = "kod kreskowy"_cp; break;
    case RegisterRefusal::Unit: why = "jednostka miary"_cp; break;
    case RegisterRefusal::Vat: why = "stawka VAT"_cp; break;
    case RegisterRefusal::Group: why = "grupa towarowa"_cp; break;
    case RegisterRefusal::Price: why = "cena"_cp; break;
    case RegisterRefusal::Character: why = "znak spoza strony kodowej kasy"_cp; break;
    case RegisterRefusal::DuplicateName: why = "zdublowana nazwa towaru"_cp; break;
  }
  return std::string("Kasa odrzuciła towar: "_cp) + why + " (błąd nr "_cp + std::to_string(refusal) + ")";
}

}  // namespace

int sendGoods() {
  // Everything the register cannot hold as given is found before the first goods is sent.
  const plugin::GoodsPlan plan = plugin::GoodsPlan::check(goodsRules(), plugin::GoodsWork::Send);
  const char* const work = "Przesyłanie towarów"_cp;
  const long total = static_cast<long>(vexa->IleRekordow() - plan.skippedCount());
  long sent = 0;
  std::map<int, std::string> refusalTexts;
  std::map<int, plugin::GoodsWarning> refused;
  QuorvelProgress(0, total, work);
  vexa->TwIterReset(CVexaXml::sortNone, ' ');
  while (!vexa->TwIterEmpty()) {
    const CTowar& t = vexa->TwIterGetNext();
    if (plan.skipped(t)) continue;
    if (JobStopRequested()) {
      JobStoppedAfter(work, sent, total);
      break;
    }
    std::string answer;
    if (const int e = exchange(goodsRequest(recordOf(t)), answer)) return e;
    const std::optional<int> refusal = parseGoodsAnswer(answer);
    if (!refusal) return SetError(ERR_DEVICE_DATA);
    QuorvelProgress(++sent, total, work);
    if (*refusal == 0) {
      if (progKom && !t.Id_brak) progKom->DodajTowar(t.Id);
      continue;
    }
    // Refused by the register: named under its reason, the rest goes on.
    auto it = refused.find(*refusal);
    if (it == refused.end()) {
      const std::string& text = refusalTexts.emplace(*refusal, refusalText(*refusal)).first->second;
      it = refused.emplace(*refusal, plugin::GoodsWarning(text.c_str())).first;
    }
    it->second.add(t);
  }
  for (const auto& [number, warning] : refused) warning.report();
  return GetErrorNum();
}

int changePrices() { return notCarriedOut(); }
int deleteGoods() { return notCarriedOut(); }
int deleteAllGoods() { return notCarriedOut(); }
int importGoods() { return notCarriedOut(); }

}  // namespace quorvel::skeleton
