// Where the error state sends its messages: the narrow side of the report writer that the
// error state needs. The report writer (core/xml/raport_xml.h) implements it; the error state
// holds one and knows nothing else of the report.
#pragma once

#include <cstdint>

#include "platform/api.h"

class CKomunikat;

class QUORVEL_API CMessageSink {
 public:
  virtual ~CMessageSink() = default;

  // One message of type "E", "W" or "I"; with ustawStatus it also becomes the status.
  virtual void DodajKomunikat(const char* typ, const char* tresc, std::int32_t numer, bool ustawStatus) = 0;
  // A message with its list of goods identifiers.
  virtual void DodajKomunikat(const CKomunikat& komunikat) = 0;
  // Status type and text; a null text leaves the text as it is.
  virtual void UstawStatus(const char* typ, const char* tresc) = 0;
  // The job's operation name, carried by the report's root tag.
  virtual void SetOperacja(const char* operacja) = 0;

 protected:
  CMessageSink() = default;
  CMessageSink(const CMessageSink&) = default;
  CMessageSink& operator=(const CMessageSink&) = default;
};
