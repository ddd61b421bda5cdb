// One warning of the report for every goods an operation leaves out for the same reason: the
// goods' identifiers are gathered under the reason's text while the job's goods are walked, and
// the warning is added at the end only when it names any goods.
#pragma once

#include "core/globals.h"
#include "core/xml/raport_xml.h"
#include "core/xml/vexa_xml.h"

namespace quorvel::plugin {

class GoodsWarning {
 public:
  // `text`: the reason, windows-1250; the warning sets the job's status.
  explicit GoodsWarning(const char* text) : message_("W", text, 0, true) {}

  // Names the goods in the warning (a goods without an identifier cannot be named).
  void add(const CTowar& t) {
    if (!t.Id_brak) message_.DodajTowar(t.Id);
  }

  // Adds the warning to the report when it names at least one goods.
  void report() const {
    if (raport && message_.IleTowarow() > 0) raport->DodajKomunikat(message_);
  }

 private:
  CKomunikat message_;
};

}  // namespace quorvel::plugin
