// The host's look at the loaded job's goods, and the goods it leaves out of the operation
// because the register holds them as the job gives them (core/goods_selection.h).
#include "core/goods_selection.h"

#include <new>
#include <string>
#include <vector>

#include "core/error_state.h"
#include "core/globals.h"
#include "core/lifecycle.h"
#include "core/records.h"
#include "core/xml/progkom_xml.h"
#include "core/xml/raport_xml.h"
#include "core/xml/vexa_xml.h"
#include "platform/api.h"
#include "platform/cp1250.h"

namespace quorvel::core {
namespace {
std::size_t g_leftOut = 0;
}  // namespace

std::size_t goodsLeftOut() { return g_leftOut; }
void forgetGoodsLeftOut() { g_leftOut = 0; }

}  // namespace quorvel::core

QUORVEL_EXPORT_C bool Quorvel_jobGoods(quorvel::contract::JobHeader* header, quorvel::contract::JobGoodsFn show,
                                       void* context) {
  if (!raport || !vexa) return false;
  try {
    if (header) {
      header->operacja = vexa->GetOperacja();
      header->idModelu = vexa->GetIdModelu();
      header->idTowaru = vexa->GetIdTowaru();
      header->idOpakowania = vexa->GetIdOpakowania();
    }
    // List order over both goods types; a walk of every type tests no type and so leaves
    // every record's markers as the job set them.
    vexa->TwIterReset(CVexaXml::sortNone, ' ');
    quorvel::contract::JobGoods goods;
    for (std::size_t i = 0, n = vexa->IleRekordow(); i < n; ++i) {
      const CTowar& t = vexa->TwIterGetNext();
      goods.id = t.Id;
      goods.hasId = !t.Id_brak;
      goods.type = t.Ty;
      goods.plu = t.KP;
      goods.hasPlu = !t.KP_brak;
      goods.record = TowarRecordText(t);
      if (show) show(context, goods);
    }
    vexa->TwIterReset(CVexaXml::sortNone, ' ');
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

QUORVEL_EXPORT_C long Quorvel_leaveOutGoods(const std::vector<char>& send) {
  if (!raport || !vexa) return -1;
  try {
    // The identifiers first: the catalogue forgets the records it drops.
    vexa->TwIterReset(CVexaXml::sortNone, ' ');
    std::vector<std::uint32_t> confirmed;
    for (std::size_t i = 0, n = vexa->IleRekordow(); i < n && i < send.size(); ++i) {
      const CTowar& t = vexa->TwIterGetNext();
      if (!send[i] && !t.Id_brak) confirmed.push_back(t.Id);
    }
    const std::size_t leftOut = vexa->ZostawTowary(send);
    if (leftOut == 0) return 0;
    for (const std::uint32_t id : confirmed)
      if (progKom) progKom->DodajTowar(id);
    quorvel::core::g_leftOut += leftOut;
    const std::string text =
        "Towary bez zmian od ostatniego przesłania potwierdzonego przez kasę, nieprzesłane ponownie: "_cp +
        std::to_string(leftOut);
    raport->DodajKomunikat("I", text.c_str(), 0, false);
    return static_cast<long>(leftOut);
  } catch (const std::bad_alloc&) {
    return -1;
  }
}
