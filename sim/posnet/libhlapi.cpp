// Stand-in for POSNET's libhlapi: each register command becomes a request of text fields that
// libposnet carries to the register; the POSG_ functions copy a completed request's results
// into the caller's buffers, never more than each buffer's size.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "drivers/posnet/posnet_api.h"
#include "sim/posnet/frame.h"
#include "sim/posnet/standin.h"

using namespace quorvel::posnetsim;

namespace {

std::string num(std::uint32_t v) { return std::to_string(v); }
std::string num(std::uint8_t v) { return std::to_string(static_cast<unsigned>(v)); }
std::string num(std::int32_t v) { return std::to_string(v); }

// Copies `text` into a buffer of `size` bytes: cut to size - 1 bytes, always terminated.
void copyText(char* out, std::size_t size, const std::string& text) {
  if (!out || size == 0) return;
  const std::size_t n = text.size() < size ? text.size() : size - 1;
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
}

// A decimal number of the answer within [0, max]; false for anything else.
bool number(const std::string& s, unsigned long max, unsigned long& out) {
  if (s.empty() || s.size() > 10) return false;
  out = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    out = out * 10 + static_cast<unsigned long>(c - '0');
  }
  return out <= max;
}

bool plu(const std::string& s, std::uint16_t* out) {
  unsigned long v = 0;
  if (!number(s, 0xFFFF, v)) return false;
  if (out) *out = static_cast<std::uint16_t>(v);
  return true;
}

bool byte(const std::string& s, std::uint8_t* out) {
  unsigned long v = 0;
  if (!number(s, 0xFF, v)) return false;
  if (out) *out = static_cast<std::uint8_t>(v);
  return true;
}

// The results of `request` for `command` with exactly `count` fields; the status to return.
std::uint32_t results(POSNET_REQUEST request, const char* command, std::size_t count, const Fields*& out) {
  if (!request) return POSNET_STATUS_BAD_PARAMETER_1;
  out = requestResults(request, command);
  if (!out) return POSNET_STATUS_QUEUE_EMPTY;
  if (out->size() != count) return POSNET_STATUS_BAD_FRAME;
  return 0;
}

POSNET_STATUS submit(POSNET_DEVICE device, POSNET_REQUEST* request, Fields fields) {
  return submitRequest(device, request, std::move(fields));
}

std::string text(const char* s) { return s ? s : ""; }

}  // namespace

extern "C" {

POSNET_STATUS POSS_VATGet(POSNET_DEVICE device, POSNET_REQUEST* request, uint8_t mode) {
  return submit(device, request, {"VATGet", num(mode)});
}

POSNET_STATUS POSG_Default(POSNET_REQUEST request) {
  if (!request) return POSNET_STATUS_BAD_PARAMETER_1;
  if (POS_GetRequestStatus(request) != 0) return POSNET_STATUS_QUEUE_EMPTY;
  return 0;
}

POSNET_STATUS POSS_PLUStatClearAll(POSNET_DEVICE device, POSNET_REQUEST* request, uint8_t a, uint8_t b, uint8_t c) {
  return submit(device, request, {"PLUStatClearAll", num(a), num(b), num(c)});
}
POSNET_STATUS POSS_PackStatClearAll(POSNET_DEVICE device, POSNET_REQUEST* request, uint8_t a, uint8_t b) {
  return submit(device, request, {"PackStatClearAll", num(a), num(b)});
}
POSNET_STATUS POSS_PLUDelAll(POSNET_DEVICE device, POSNET_REQUEST* request, uint8_t a, uint8_t b) {
  return submit(device, request, {"PLUDelAll", num(a), num(b)});
}
POSNET_STATUS POSS_PackDelAll(POSNET_DEVICE device, POSNET_REQUEST* request, uint8_t a, uint8_t b) {
  return submit(device, request, {"PackDelAll", num(a), num(b)});
}
POSNET_STATUS POSS_PLUDel(POSNET_DEVICE device, POSNET_REQUEST* request, uint32_t p, uint8_t a, uint8_t b, uint8_t c) {
  return submit(device, request, {"PLUDel", num(p), num(a), num(b), num(c)});
}
POSNET_STATUS POSS_PackDel(POSNET_DEVICE device, POSNET_REQUEST* request, uint32_t p, uint8_t a, uint8_t b,
                           uint8_t c) {
  return submit(device, request, {"PackDel", num(p), num(a), num(b), num(c)});
}
POSNET_STATUS POSS_PluPriceUpdate(POSNET_DEVICE device, POSNET_REQUEST* request, uint32_t p, const char* price,
                                  uint8_t flags) {
  if (!price) return POSNET_STATUS_BAD_PARAMETER_1 + 3;
  return submit(device, request, {"PluPriceUpdate", num(p), price, num(flags)});
}
POSNET_STATUS POSS_PackPriceUpdate(POSNET_DEVICE device, POSNET_REQUEST* request, uint32_t p, const char* price,
                                   uint8_t flags) {
  if (!price) return POSNET_STATUS_BAD_PARAMETER_1 + 3;
  return submit(device, request, {"PackPriceUpdate", num(p), price, num(flags)});
}

POSNET_STATUS POSS_PLUIns(POSNET_DEVICE device, POSNET_REQUEST* request, uint32_t p, const char* name,
                          const char* barcode, const char* price, const char* price2, uint32_t linkedPack,
                          uint8_t unit, uint8_t a8, uint8_t group, int32_t vat, uint8_t a11, uint8_t fixedPrice,
                          uint8_t a13, uint8_t a14, uint8_t a15, uint8_t a16, uint8_t a17) {
  if (!name) return POSNET_STATUS_BAD_PARAMETER_1 + 3;
  if (!price) return POSNET_STATUS_BAD_PARAMETER_1 + 5;
  return submit(device, request,
                {"PLUIns", num(p), name, text(barcode), price, text(price2), num(linkedPack), num(unit), num(a8),
                 num(group), num(vat), num(a11), num(fixedPrice), num(a13), num(a14), num(a15), num(a16), num(a17)});
}

POSNET_STATUS POSS_PackIns(POSNET_DEVICE device, POSNET_REQUEST* request, uint32_t p, const char* name,
                           const char* barcode, const char* price, const char* price2, uint8_t fixedPrice, uint8_t a7,
                           uint8_t a8, uint8_t a9) {
  if (!name) return POSNET_STATUS_BAD_PARAMETER_1 + 3;
  if (!price) return POSNET_STATUS_BAD_PARAMETER_1 + 5;
  return submit(device, request,
                {"PackIns", num(p), name, text(barcode), price, text(price2), num(fixedPrice), num(a7), num(a8),
                 num(a9)});
}

POSNET_STATUS POSS_BarcodeIns(POSNET_DEVICE device, POSNET_REQUEST* request, uint32_t p, const char* list,
                              uint8_t flags) {
  if (!list) return POSNET_STATUS_BAD_PARAMETER_1 + 3;
  return submit(device, request, {"BarcodeIns", num(p), list, num(flags)});
}

POSNET_STATUS POSS_CntxPLUInit(POSNET_DEVICE device, POSNET_REQUEST* request, uint8_t a, uint8_t b, uint8_t c) {
  return submit(device, request, {"CntxPLUInit", num(a), num(b), num(c)});
}
POSNET_STATUS POSS_CntxPackInit(POSNET_DEVICE device, POSNET_REQUEST* request, uint8_t a, uint8_t b, uint8_t c) {
  return submit(device, request, {"CntxPackInit", num(a), num(b), num(c)});
}
POSNET_STATUS POSS_PLURead(POSNET_DEVICE device, POSNET_REQUEST* request, uint8_t a, uint8_t b, uint8_t c) {
  return submit(device, request, {"PLURead", num(a), num(b), num(c)});
}
POSNET_STATUS POSS_PackRead(POSNET_DEVICE device, POSNET_REQUEST* request, uint8_t a, uint8_t b) {
  return submit(device, request, {"PackRead", num(a), num(b)});
}
POSNET_STATUS POSS_PLUStatRead(POSNET_DEVICE device, POSNET_REQUEST* request, uint8_t a, uint8_t clear, uint8_t c) {
  return submit(device, request, {"PLUStatRead", num(a), num(clear), num(c)});
}
POSNET_STATUS POSS_PackStatRead(POSNET_DEVICE device, POSNET_REQUEST* request, uint8_t a, uint8_t clear, uint8_t c) {
  return submit(device, request, {"PackStatRead", num(a), num(clear), num(c)});
}

// The buffers are written only when the whole answer is sound: a record either arrives whole
// or the caller's buffers stay as they were.
POSNET_STATUS POSG_PLURead(POSNET_REQUEST request, uint16_t* p, char* name, char* barcode, char* price, char* price2,
                           uint8_t* inactive, uint8_t* linkedPack, uint8_t* unit, uint8_t* vat, uint8_t* r10,
                           uint8_t* fixedPrice, uint8_t* r12, uint8_t* r13, uint8_t* group, char* barcodes) {
  const Fields* f = nullptr;
  if (const std::uint32_t s = results(request, "PLURead", 15, f)) return s;
  const Fields& r = *f;
  std::uint16_t code = 0;
  std::uint8_t bytes[9] = {};
  const std::size_t byteField[9] = {5, 6, 7, 8, 9, 10, 11, 12, 13};
  if (!plu(r[0], &code)) return POSNET_STATUS_BAD_FRAME;
  for (int i = 0; i < 9; ++i)
    if (!byte(r[byteField[i]], &bytes[i])) return POSNET_STATUS_BAD_FRAME;
  if (p) *p = code;
  copyText(name, POSNET_NAME_SIZE, r[1]);
  copyText(barcode, POSNET_BARCODE_SIZE, r[2]);
  copyText(price, POSNET_NUMBER_SIZE, r[3]);
  copyText(price2, POSNET_NUMBER_SIZE, r[4]);
  std::uint8_t* outs[9] = {inactive, linkedPack, unit, vat, r10, fixedPrice, r12, r13, group};
  for (int i = 0; i < 9; ++i)
    if (outs[i]) *outs[i] = bytes[i];
  copyText(barcodes, POSNET_BARCODE_LIST_SIZE, r[14]);
  return 0;
}

POSNET_STATUS POSG_PackRead(POSNET_REQUEST request, uint16_t* p, char* name, char* barcode, char* price, char* price2,
                            uint8_t* fixedPrice) {
  const Fields* f = nullptr;
  if (const std::uint32_t s = results(request, "PackRead", 6, f)) return s;
  const Fields& r = *f;
  std::uint16_t code = 0;
  std::uint8_t fixed = 0;
  if (!plu(r[0], &code) || !byte(r[5], &fixed)) return POSNET_STATUS_BAD_FRAME;
  if (p) *p = code;
  copyText(name, POSNET_NAME_SIZE, r[1]);
  copyText(barcode, POSNET_BARCODE_SIZE, r[2]);
  copyText(price, POSNET_NUMBER_SIZE, r[3]);
  copyText(price2, POSNET_NUMBER_SIZE, r[4]);
  if (fixedPrice) *fixedPrice = fixed;
  return 0;
}

POSNET_STATUS POSG_PLUStatRead(POSNET_REQUEST request, uint16_t* p, char* value, char* quantity, char* aux,
                               uint8_t* r5) {
  const Fields* f = nullptr;
  if (const std::uint32_t s = results(request, "PLUStatRead", 5, f)) return s;
  const Fields& r = *f;
  std::uint16_t code = 0;
  std::uint8_t reserved = 0;
  if (!plu(r[0], &code) || !byte(r[4], &reserved)) return POSNET_STATUS_BAD_FRAME;
  if (p) *p = code;
  copyText(value, POSNET_NUMBER_SIZE, r[1]);
  copyText(quantity, POSNET_NUMBER_SIZE, r[2]);
  copyText(aux, POSNET_AUX_TEXT_SIZE, r[3]);
  if (r5) *r5 = reserved;
  return 0;
}

POSNET_STATUS POSG_PackStatRead(POSNET_REQUEST request, uint16_t* p, char* soldQuantity, char* returnedQuantity,
                                char* soldValue, char* returnedValue, uint8_t* r6) {
  const Fields* f = nullptr;
  if (const std::uint32_t s = results(request, "PackStatRead", 6, f)) return s;
  const Fields& r = *f;
  std::uint16_t code = 0;
  std::uint8_t reserved = 0;
  if (!plu(r[0], &code) || !byte(r[5], &reserved)) return POSNET_STATUS_BAD_FRAME;
  if (p) *p = code;
  copyText(soldQuantity, POSNET_NUMBER_SIZE, r[1]);
  copyText(returnedQuantity, POSNET_NUMBER_SIZE, r[2]);
  copyText(soldValue, POSNET_NUMBER_SIZE, r[3]);
  copyText(returnedValue, POSNET_NUMBER_SIZE, r[4]);
  if (r6) *r6 = reserved;
  return 0;
}

}  // extern "C"
