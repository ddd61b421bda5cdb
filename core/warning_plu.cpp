// The warning for a goods record skipped because its PLU code lies outside the register's range.
// Kept apart from the error state so that the state itself needs no goods record.
#include "core/error_state.h"
#include "core/message_sink.h"
#include "core/records.h"
#include "core/xml/raport_xml.h"
#include "platform/cp1250.h"

void Warning_pluPozaZakresem(const CTowar& towar) {
  CMessageSink* raport = ErrorGetRaport();
  if (!raport) return;
  CKomunikat komunikat("W",
                       towar.Ty == 'O' ? "Opakowanie o kodzie PLU poza zakresem zostało pominięte."_cp
                                       : "Towar o kodzie PLU poza zakresem został pominięty."_cp,
                       0, false);
  komunikat.DodajTowar(towar.Id);
  raport->DodajKomunikat(komunikat);
}
