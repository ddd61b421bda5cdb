// XML escaping of the texts that the report and device-data writers put into their files.
#pragma once

#include "platform/api.h"

// The text as windows-1250 XML character data, safe in element content and in attribute
// values: " & ' < > become &quot; &amp; &apos; &lt; &gt;; bytes of 0x80 and above other than
// the eighteen Polish letters become '_', and so do control bytes other than tab, LF and CR,
// which XML 1.0 does not allow even as references. A null text gives an empty result.
// The result lies in one process-wide buffer, valid until the next call.
QUORVEL_API const char* str2xml(const char* text);
