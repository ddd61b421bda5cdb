// Expat's unknown-encoding handler for the whole windows-1250 code page, for the programs that
// read the files the system writes (the host program, tests, benchmarks, fuzz targets).
// The job reader installs its own, narrower handler.
#pragma once

#include <expat.h>

#include <cstring>

#include "platform/cp1250.h"

namespace quorvel::cp1250 {

// Refuses every other encoding name; the five bytes without a character are invalid input.
inline int XMLCALL expatUnknownEncoding(void*, const XML_Char* name, XML_Encoding* info) {
  if (std::strcmp(name, "windows-1250") != 0) return XML_STATUS_ERROR;
  for (int b = 0; b < 256; ++b) {
    const std::uint32_t cp = codePointOf(static_cast<unsigned char>(b));
    info->map[b] = (b >= 0x80 && cp == 0) ? -1 : static_cast<int>(cp);
  }
  info->data = nullptr;
  info->convert = nullptr;
  info->release = nullptr;
  return XML_STATUS_OK;
}

}  // namespace quorvel::cp1250
