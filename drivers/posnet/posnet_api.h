/* POSNET vendor libraries: the calls the POSNET driver makes into libposnet (devices and
 * requests) and libhlapi (register commands and their results).
 *
 * Plain C, so that the driver (C++) and stand-ins for the two libraries share one set of
 * declarations. The driver never links against either library: it binds every function
 * listed in POSNET_LIBPOSNET_FUNCTIONS and POSNET_LIBHLAPI_FUNCTIONS by name when the plug-in
 * loads, through the pointer types declared beside each function (NAME_fn).
 *
 * Conventions
 * - Statuses are uint32_t. 0 is success; POSNET_STATUS_END_OF_RECORDS ends a read-out; every
 *   other value is an error (library codes 1 to 0x42FFFF, register errors 0x430000 + n or
 *   0x440000 + n, where n is the register's own error number).
 * - Texts passed in are zero-terminated windows-1250 bytes. Prices and values are decimal
 *   integers in hundredths ("1250" is 12.50), quantities decimal integers in thousandths
 *   ("1500" is 1.5), an optional leading '-', no spaces, no separators.
 * - PLU numbers passed in are uint32_t so that a number the register cannot hold reaches the
 *   register unchanged and is refused there (status 0x430000 + 909), never truncated into
 *   another record's number. PLU numbers read back are uint16_t.
 * - Small numeric arguments (flags, modes, unit, group) are uint8_t; the VAT rate is int32_t.
 *
 * Requests
 * - Every POSS_ command takes the open device and a pointer where it stores a new request,
 *   then the command's arguments. It returns 0 when the request was queued and stored; the
 *   request then completes asynchronously inside the library. A non-zero return is the
 *   command's final status: nothing was queued and *request is set to NULL.
 * - POS_WaitForRequestCompleted(request, ms) returns 0 once the request has completed, or
 *   POSNET_STATUS_TIMEOUT when it did not complete within ms milliseconds.
 * - POS_GetRequestStatus(request) gives the completion status of a completed request, and
 *   POSNET_STATUS_TIMEOUT for one that has not completed.
 * - POSG_ functions copy the result of a completed request into the caller's buffers and
 *   return 0, or a non-zero status when the request holds no result of that kind (the buffers
 *   are then left as they were).
 * - The caller owns every request it receives and frees it with POS_DestroyRequest once it has
 *   read the status and results, also when the request has not completed (the library then
 *   cancels it and releases it when its worker lets go). POS_DestroyRequest(NULL) does
 *   nothing. POS_CloseDevice cancels requests still outstanding; their objects stay valid
 *   until destroyed.
 *
 * Result buffers
 * - Each text buffer of a POSG_ function has the size given by its POSNET_*_SIZE constant;
 *   the library writes at most that many bytes, the zero terminator included. A caller must
 *   not rely on the terminator being there: it reads no further than the buffer's size.
 * - Byte results are uint8_t, PLU numbers uint16_t.
 *
 * The device-handle object
 * - POS_CreateDeviceHandle returns a pointer to an object of at least
 *   POSNET_HANDLE_OBJECT_MIN_SIZE bytes. For an RS-232 handle whose device is open, the
 *   operating-system descriptor of the serial port the library opened is an int stored at byte
 *   offset POSNET_HANDLE_SERIAL_FD_OFFSET of that object (-1 while no port is open). The
 *   driver reads it there (with memcpy, no alignment assumed) to switch a multiplexer over the
 *   library's own port; it never closes it.
 */
#ifndef QUORVEL_DRIVERS_POSNET_POSNET_API_H
#define QUORVEL_DRIVERS_POSNET_POSNET_API_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Exported from the libraries (which are built with hidden visibility by default). */
#define POSNET_API __attribute__((visibility("default")))

/* Opaque objects of the library. */
typedef struct posnet_device_handle_s* POSNET_HANDLE;
typedef struct posnet_device_s* POSNET_DEVICE;
typedef struct posnet_request_s* POSNET_REQUEST;
typedef uint32_t POSNET_STATUS;

/* ---- Constants ---------------------------------------------------------------------- */

/* Device types of POS_CreateDeviceHandle (the configuration's connection types). */
#define POSNET_DEVICE_RS232 1u
#define POSNET_DEVICE_ETHERNET 3u

/* Device parameters of POS_SetDeviceParam. */
/* "port,speed,dataBits,parity,stopBits,N", e.g. "COM2,19200,8,E,1,N" or
 * "/dev/pts/3,115200,8,N,1,N" (port names as the platform's serial ports take them). */
#define POSNET_PARAM_SERIAL 0x20001u
/* "a.b.c.d" or "a.b.c.d:port" (TCP; the port defaults to POSNET_DEFAULT_TCP_PORT). */
#define POSNET_PARAM_IP_ADDRESS 0x20005u
#define POSNET_DEFAULT_TCP_PORT 6666

/* Debug level of POS_SetDebugLevel that logs everything. */
#define POSNET_DEBUG_ALL (-1)

/* Where the serial descriptor lies in the device-handle object (see above). */
#define POSNET_HANDLE_SERIAL_FD_OFFSET 512u
#define POSNET_HANDLE_OBJECT_MIN_SIZE (POSNET_HANDLE_SERIAL_FD_OFFSET + 4u)

/* Time the driver waits for every request, in milliseconds. */
#define POSNET_REQUEST_WAIT_MS 5000u

/* Statuses with a fixed meaning for both sides. */
#define POSNET_STATUS_OK 0u
#define POSNET_STATUS_NO_MEMORY 0x1u            /* "Brak pamięci." */
#define POSNET_STATUS_SHORT_FRAME 0x2u          /* "Za krótka ramka." */
#define POSNET_STATUS_BAD_FRAME 0x3u            /* "Błąd ramki odebranej z kasy." */
#define POSNET_STATUS_CANNOT_OPEN 0x5u          /* "Nie można otworzyc wskazanego urządzenia." */
#define POSNET_STATUS_CRC_ERROR 0x6u            /* "Błąd CRC w odebranej ramce." */
#define POSNET_STATUS_COMM_ERROR 0x7u           /* "Błąd komunikacji." */
#define POSNET_STATUS_DEVICE_BUSY 0x8u          /* "Urządzenie zajęte." */
#define POSNET_STATUS_CONNECTION_REFUSED 0x20u  /* "Błąd sieciowy - połączenie odrzucone." */
#define POSNET_STATUS_NETWORK_UNREACHABLE 0x21u /* "Błąd sieciowy - adres nieosiągalny." */
#define POSNET_STATUS_CONNECT_TIMEOUT 0x22u     /* "Błąd sieciowy - upłynął czas oczekiwania na połączenie." */
#define POSNET_STATUS_QUEUE_EMPTY 0x10001u      /* "Brak danych w kolejce." */
#define POSNET_STATUS_TIMEOUT 0x10002u          /* "Oczekiwanie zakończone upłynięciem czasu (timeout)." */
#define POSNET_STATUS_CANCELLED 0x10003u        /* "Rozkaz anulowany." */
#define POSNET_STATUS_BAD_COMMAND 0x10005u      /* "Błędny numer polecenia." */
#define POSNET_STATUS_BAD_PARAMETER_1 0x10101u  /* "Błędny 1 parametr polecenia." ... */
#define POSNET_STATUS_BAD_PARAMETER_22 0x10116u /* ... "Błędny 22 parametr polecenia." */

/* Register errors: base + the register's error number n (n < 0x10000). */
#define POSNET_STATUS_REGISTER_BASE 0x430000u
#define POSNET_STATUS_REGISTER_BASE2 0x440000u
#define POSNET_REGISTER_STATUS(n) (POSNET_STATUS_REGISTER_BASE + (uint32_t)(n))
#define POSNET_STATUS_NO_RECORD 0x430387u          /* 903 */
#define POSNET_STATUS_BAD_RECORD_NUMBER 0x43038Du  /* 909 */
#define POSNET_STATUS_NAME_NOT_UNIQUE 0x43038Eu    /* 910 */
#define POSNET_STATUS_NO_SUCH_PACKAGING 0x43038Fu  /* 911 */
#define POSNET_STATUS_NO_SUCH_GROUP 0x430390u      /* 912 */
#define POSNET_STATUS_ACTIVE_LINK 0x4303AAu        /* 938 */
#define POSNET_STATUS_NONZERO_STATS 0x4303B0u      /* 944 */
#define POSNET_STATUS_END_OF_RECORDS 0x4303CFu     /* 975 */

/* Sizes of the POSG_ result buffers, in bytes, the terminator included. */
#define POSNET_NAME_SIZE 41u          /* goods or packaging name (40 characters), windows-1250 */
#define POSNET_BARCODE_SIZE 21u       /* barcode (20 digits) */
#define POSNET_NUMBER_SIZE 24u        /* price, value or quantity text (64-bit range) */
#define POSNET_AUX_TEXT_SIZE 40u      /* texts the driver does not use */
#define POSNET_BARCODE_LIST_SIZE 4096u /* further barcodes, separated by line feeds */

/* Declares function NAME and the pointer type NAME_fn the binding stores. */
#define POSNET_DECLARE(ret, name, params) \
  typedef ret(*name##_fn) params;         \
  POSNET_API ret name params

/* ---- libposnet: devices and requests ------------------------------------------------ */

/* New device handle of POSNET_DEVICE_RS232 or POSNET_DEVICE_ETHERNET; NULL on failure. */
POSNET_DECLARE(POSNET_HANDLE, POS_CreateDeviceHandle, (uint32_t deviceType));
/* Sets a POSNET_PARAM_ text parameter before the device is opened. */
POSNET_DECLARE(POSNET_STATUS, POS_SetDeviceParam,
               (POSNET_HANDLE handle, uint32_t param, const char* value));
/* Opens the port or connection; NULL on failure. */
POSNET_DECLARE(POSNET_DEVICE, POS_OpenDevice, (POSNET_HANDLE handle));
/* Name of the library's own transmission log file, as the file system spells it (UTF-8);
 * may be set before or after the device is opened. */
POSNET_DECLARE(POSNET_STATUS, POS_SetDebugFileName, (POSNET_HANDLE handle, const char* fileName));
/* Log level; POSNET_DEBUG_ALL logs every byte both ways, 0 switches the log off. */
POSNET_DECLARE(POSNET_STATUS, POS_SetDebugLevel, (POSNET_HANDLE handle, int32_t level));
POSNET_DECLARE(POSNET_STATUS, POS_CloseDevice, (POSNET_DEVICE device));
POSNET_DECLARE(POSNET_STATUS, POS_DestroyDeviceHandle, (POSNET_HANDLE handle));
POSNET_DECLARE(POSNET_STATUS, POS_WaitForRequestCompleted,
               (POSNET_REQUEST request, uint32_t timeoutMs));
POSNET_DECLARE(POSNET_STATUS, POS_GetRequestStatus, (POSNET_REQUEST request));
POSNET_DECLARE(void, POS_DestroyRequest, (POSNET_REQUEST request));
/* Why the last POS_OpenDevice of the handle failed: POSNET_STATUS_CONNECTION_REFUSED (nothing
 * listens at the address and port), POSNET_STATUS_NETWORK_UNREACHABLE (no route to the
 * address), POSNET_STATUS_CONNECT_TIMEOUT (no answer to the connection within the library's
 * time), POSNET_STATUS_CANNOT_OPEN for any other reason; 0 when the open did not fail.
 * Optional: a library without it is bound all the same, and every failed open then reads as
 * an address that does not exist. */
POSNET_DECLARE(POSNET_STATUS, POS_GetDeviceError, (POSNET_HANDLE handle));

/* ---- libhlapi: register commands ---------------------------------------------------- */

/* VAT rates; the driver passes 0. */
POSNET_DECLARE(POSNET_STATUS, POSS_VATGet,
               (POSNET_DEVICE device, POSNET_REQUEST* request, uint8_t mode));
/* Consumes the default result of a completed request. */
POSNET_DECLARE(POSNET_STATUS, POSG_Default, (POSNET_REQUEST request));

/* Sales counters cleared: goods (0, 0, 0), packagings (0, 0). */
POSNET_DECLARE(POSNET_STATUS, POSS_PLUStatClearAll,
               (POSNET_DEVICE device, POSNET_REQUEST* request, uint8_t a, uint8_t b, uint8_t c));
POSNET_DECLARE(POSNET_STATUS, POSS_PackStatClearAll,
               (POSNET_DEVICE device, POSNET_REQUEST* request, uint8_t a, uint8_t b));

/* Whole base deleted: goods (0, 0), packagings (2, 0). */
POSNET_DECLARE(POSNET_STATUS, POSS_PLUDelAll,
               (POSNET_DEVICE device, POSNET_REQUEST* request, uint8_t a, uint8_t b));
POSNET_DECLARE(POSNET_STATUS, POSS_PackDelAll,
               (POSNET_DEVICE device, POSNET_REQUEST* request, uint8_t a, uint8_t b));

/* One record deleted: goods (plu, 0, 1, 0), packaging (plu, 0, 0, 0). */
POSNET_DECLARE(POSNET_STATUS, POSS_PLUDel,
               (POSNET_DEVICE device, POSNET_REQUEST* request, uint32_t plu, uint8_t a, uint8_t b,
                uint8_t c));
POSNET_DECLARE(POSNET_STATUS, POSS_PackDel,
               (POSNET_DEVICE device, POSNET_REQUEST* request, uint32_t plu, uint8_t a, uint8_t b,
                uint8_t c));

/* Price changed: (plu, price in hundredths, 0). */
POSNET_DECLARE(POSNET_STATUS, POSS_PluPriceUpdate,
               (POSNET_DEVICE device, POSNET_REQUEST* request, uint32_t plu, const char* price,
                uint8_t flags));
POSNET_DECLARE(POSNET_STATUS, POSS_PackPriceUpdate,
               (POSNET_DEVICE device, POSNET_REQUEST* request, uint32_t plu, const char* price,
                uint8_t flags));

/* Goods programmed. The driver passes: plu, name, barcode ("" for none), price, "0",
 * linked packaging PLU (0 for none), unit, 0, group, VAT rate, 3,
 * openPrice (1 when the price may NOT be entered at the till, i.e. the goods' CO is false,
 * else 0), 0, 0, 1, 0, 0. */
POSNET_DECLARE(POSNET_STATUS, POSS_PLUIns,
               (POSNET_DEVICE device, POSNET_REQUEST* request, uint32_t plu, const char* name,
                const char* barcode, const char* price, const char* price2, uint32_t linkedPack,
                uint8_t unit, uint8_t a8, uint8_t group, int32_t vat, uint8_t a11,
                uint8_t fixedPrice, uint8_t a13, uint8_t a14, uint8_t a15, uint8_t a16,
                uint8_t a17));
/* Packaging programmed: plu, name, barcode, price, "0", fixedPrice (as for goods), 1, 0, 0. */
POSNET_DECLARE(POSNET_STATUS, POSS_PackIns,
               (POSNET_DEVICE device, POSNET_REQUEST* request, uint32_t plu, const char* name,
                const char* barcode, const char* price, const char* price2, uint8_t fixedPrice,
                uint8_t a7, uint8_t a8, uint8_t a9));
/* Barcodes of a record replaced by the list: main barcode, then each further one after a
 * line feed ("590123\n590124\n590125"); (plu, list, 0). */
POSNET_DECLARE(POSNET_STATUS, POSS_BarcodeIns,
               (POSNET_DEVICE device, POSNET_REQUEST* request, uint32_t plu, const char* list,
                uint8_t flags));

/* Read contexts: (1, 1, 0) walks the catalogue, (3, 2, 0) the sales statistics. */
POSNET_DECLARE(POSNET_STATUS, POSS_CntxPLUInit,
               (POSNET_DEVICE device, POSNET_REQUEST* request, uint8_t a, uint8_t b, uint8_t c));
POSNET_DECLARE(POSNET_STATUS, POSS_CntxPackInit,
               (POSNET_DEVICE device, POSNET_REQUEST* request, uint8_t a, uint8_t b, uint8_t c));

/* Next record of the catalogue context: goods (0, 1, 0), packagings (0, 1). A completed
 * request with status POSNET_STATUS_END_OF_RECORDS means there are no more. */
POSNET_DECLARE(POSNET_STATUS, POSS_PLURead,
               (POSNET_DEVICE device, POSNET_REQUEST* request, uint8_t a, uint8_t b, uint8_t c));
POSNET_DECLARE(POSNET_STATUS, POSS_PackRead,
               (POSNET_DEVICE device, POSNET_REQUEST* request, uint8_t a, uint8_t b));

/* Next record of the statistics context: (0, clear, 0); clear 1 zeroes the record's counters
 * as it is read (the driver passes 0 and clears separately). */
POSNET_DECLARE(POSNET_STATUS, POSS_PLUStatRead,
               (POSNET_DEVICE device, POSNET_REQUEST* request, uint8_t a, uint8_t clear,
                uint8_t c));
POSNET_DECLARE(POSNET_STATUS, POSS_PackStatRead,
               (POSNET_DEVICE device, POSNET_REQUEST* request, uint8_t a, uint8_t clear,
                uint8_t c));

/* ---- libhlapi: results ---------------------------------------------------------------- */

/* Goods record, 15 results:
 *  1 plu; 2 name [POSNET_NAME_SIZE]; 3 barcode [POSNET_BARCODE_SIZE], "" for none;
 *  4 price in hundredths [POSNET_NUMBER_SIZE]; 5 second price [POSNET_NUMBER_SIZE];
 *  6 inactive (non-zero: the record is not in use); 7 linked packaging PLU, 0 for none;
 *  8 unit; 9 VAT rate; 10 reserved; 11 fixed price (0: price may be entered at the till);
 *  12, 13 reserved; 14 group; 15 further barcodes separated by line feeds
 *  [POSNET_BARCODE_LIST_SIZE]. */
POSNET_DECLARE(POSNET_STATUS, POSG_PLURead,
               (POSNET_REQUEST request, uint16_t* plu, char* name, char* barcode, char* price,
                char* price2, uint8_t* inactive, uint8_t* linkedPack, uint8_t* unit,
                uint8_t* vat, uint8_t* r10, uint8_t* fixedPrice, uint8_t* r12, uint8_t* r13,
                uint8_t* group, char* barcodes));

/* Packaging record, 6 results: 1 plu; 2 name [POSNET_NAME_SIZE];
 * 3 barcode [POSNET_BARCODE_SIZE]; 4 price in hundredths [POSNET_NUMBER_SIZE];
 * 5 second price [POSNET_NUMBER_SIZE]; 6 fixed price (0: price may be entered). */
POSNET_DECLARE(POSNET_STATUS, POSG_PackRead,
               (POSNET_REQUEST request, uint16_t* plu, char* name, char* barcode, char* price,
                char* price2, uint8_t* fixedPrice));

/* Goods sales, 5 results: 1 plu; 2 value in hundredths [POSNET_NUMBER_SIZE];
 * 3 quantity in thousandths [POSNET_NUMBER_SIZE]; 4 auxiliary text [POSNET_AUX_TEXT_SIZE];
 * 5 reserved byte. */
POSNET_DECLARE(POSNET_STATUS, POSG_PLUStatRead,
               (POSNET_REQUEST request, uint16_t* plu, char* value, char* quantity, char* aux,
                uint8_t* r5));

/* Packaging turnover, 6 results: 1 plu; 2 quantity sold; 3 quantity returned (both in
 * thousandths, returned as a positive number); 4 value sold; 5 value returned (both in
 * hundredths, returned as a positive number); all texts [POSNET_NUMBER_SIZE];
 * 6 reserved byte. */
POSNET_DECLARE(POSNET_STATUS, POSG_PackStatRead,
               (POSNET_REQUEST request, uint16_t* plu, char* soldQuantity,
                char* returnedQuantity, char* soldValue, char* returnedValue, uint8_t* r6));

/* Every function of each library, for a binding that looks them all up: X(name). Functions a
 * library may lack are listed apart (POSNET_LIBPOSNET_OPTIONAL). */
#define POSNET_LIBPOSNET_FUNCTIONS(X)                                                        \
  X(POS_CreateDeviceHandle) X(POS_SetDeviceParam) X(POS_OpenDevice) X(POS_SetDebugFileName) \
  X(POS_SetDebugLevel) X(POS_CloseDevice) X(POS_DestroyDeviceHandle)                        \
  X(POS_WaitForRequestCompleted) X(POS_GetRequestStatus) X(POS_DestroyRequest)

#define POSNET_LIBPOSNET_OPTIONAL(X) X(POS_GetDeviceError)

#define POSNET_LIBHLAPI_FUNCTIONS(X)                                                       \
  X(POSS_VATGet) X(POSG_Default) X(POSS_PLUStatClearAll) X(POSS_PackStatClearAll)         \
  X(POSS_PLUDelAll) X(POSS_PackDelAll) X(POSS_PLUDel) X(POSS_PackDel)                      \
  X(POSS_PluPriceUpdate) X(POSS_PackPriceUpdate) X(POSS_PLUIns) X(POSS_PackIns)             \
  X(POSS_BarcodeIns) X(POSS_CntxPLUInit) X(POSS_CntxPackInit) X(POSS_PLURead)               \
  X(POSS_PackRead) X(POSS_PLUStatRead) X(POSS_PackStatRead) X(POSG_PLURead)                 \
  X(POSG_PackRead) X(POSG_PLUStatRead) X(POSG_PackStatRead)

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* QUORVEL_DRIVERS_POSNET_POSNET_API_H */
