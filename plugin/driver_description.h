/* What a driver plug-in tells about itself: its name, the register models it drives, the keys
 * of its configuration and the limits its registers put on the fields of a job.
 *
 * Beside its entry points every driver plug-in exports
 *
 *     const QuorvelDriverDescription* quorvel_driver_description(void);
 *
 * returning a description that lives as long as the plug-in is loaded. The host program reads
 * it without running the plug-in's load handler (`quorvel --help`, `quorvel run --help`, the
 * manual page, `quorvel config`), so a new driver needs no change outside its own folder.
 *
 * Plain C structures of pointers and numbers only, so that a host built apart from the plug-in
 * reads them. Texts are UTF-8, zero-terminated. Versioning: every structure that may grow
 * starts with its own size as the plug-in was built; a reader takes a member only when the
 * size covers it, and further members are only ever added at the end. `version` names the
 * meaning of the members; a reader refuses a description of a newer major version than it
 * knows.
 */
#pragma once

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define QUORVEL_DRIVER_DESCRIPTION_VERSION 1u
#define QUORVEL_DRIVER_DESCRIPTION_SYMBOL "quorvel_driver_description"

/* One accepted value of a choice key: the value as printed, and another spelling taken for it
 * (a code, a longer text; NULL: none). Values are taken in any letter case. */
typedef struct QuorvelChoice {
  const char* value;
  const char* alias;
} QuorvelChoice;

typedef enum QuorvelKeyType {
  QUORVEL_KEY_TEXT = 1,   /* free text; minimum/maximum: its length in characters (windows-1250) */
  QUORVEL_KEY_PATH = 2,   /* a device path, kept byte for byte; minimum/maximum: its length in bytes */
  QUORVEL_KEY_NUMBER = 3, /* decimal digits; minimum/maximum: the range of the value */
  QUORVEL_KEY_CHOICE = 4, /* one of `choices` */
  QUORVEL_KEY_SWITCH = 5  /* yes or no (also on/off, true/false, 1/0) */
} QuorvelKeyType;

/* Flags of a key. */
#define QUORVEL_KEY_READ_ONLY 0x1u     /* shown, never set; `refusal` says why */
#define QUORVEL_KEY_SET_ONLY 0x2u      /* set, never shown (it sets other keys); no default */
#define QUORVEL_KEY_RANGE_CONDITIONAL 0x4u /* NUMBER: the range holds only as other keys decide
                                             (a multiplexer's type, a modem switched on); the
                                             plug-in checks it against the whole record */

/* One key of the configuration, as `quorvel config` shows and takes it. */
typedef struct QuorvelConfigKey {
  const char* name;            /* "speed" */
  unsigned type;               /* QuorvelKeyType */
  unsigned flags;              /* QUORVEL_KEY_* flags */
  const char* defaultValue;    /* as printed without PROG_KOM.CFG; NULL for a set-only key */
  long minimum;                /* see QuorvelKeyType */
  long maximum;
  const QuorvelChoice* choices; /* CHOICE: the accepted values, in the order shown */
  size_t choiceCount;
  const char* help;            /* one line: what the key means */
  const char* refusal;         /* why a value is refused (a read-only key: why it cannot be set);
                                  NULL: the usual text for its type */
} QuorvelConfigKey;

/* What a field of a job's goods means to a driver: the field's tag (Na, KP, ...) and a line. */
typedef struct QuorvelFieldMeaning {
  const char* field;
  const char* meaning;
} QuorvelFieldMeaning;

/* Flags of a model's limits. */
#define QUORVEL_LIMIT_NAME_CUT 0x1u      /* a longer Na is cut to nameLength (the goods is sent and
                                            named in a warning); without it such goods are skipped */
#define QUORVEL_LIMIT_NAME_REQUIRED 0x2u /* goods without Na (or with an empty one) are skipped */
#define QUORVEL_LIMIT_VAT_REQUIRED 0x4u  /* goods without Va are skipped */
#define QUORVEL_LIMIT_SHARED_CODES 0x8u  /* goods and packages share one set of PLU numbers and
                                            one list of names: a packaging's PLU or name repeated
                                            by goods is a duplicate too */

/* The fields of a goods a register takes (a field it does not take is neither sent nor
 * checked). */
#define QUORVEL_FIELD_NA 0x1u    /* name */
#define QUORVEL_FIELD_KK 0x2u    /* barcode KK */
#define QUORVEL_FIELD_JM 0x4u    /* unit */
#define QUORVEL_FIELD_VA 0x8u    /* VAT rate */
#define QUORVEL_FIELD_GROUP 0x10u /* the goods group (the field `groupField` names) */
#define QUORVEL_FIELD_LINK 0x20u /* KO as a linked deposit package */
#define QUORVEL_FIELD_CE 0x40u   /* the first price */
#define QUORVEL_FIELD_DK 0x80u   /* the further barcodes DK */
#define QUORVEL_FIELD_ALL 0xFFu

/* The limits a register model puts on the fields of a job's goods, as the driver checks them
 * before anything is sent. A range whose both ends are 0 (or a NULL member) is not checked.
 * Prices are in grosze. A field not given in the job is not checked against its range (the
 * driver sends its default); the flags say which fields must be given. */
typedef struct QuorvelFieldLimits {
  size_t size;                 /* sizeof(QuorvelFieldLimits) of the plug-in */
  unsigned nameLength;         /* Na: characters the register keeps */
  long pluMin, pluMax;         /* KP of goods */
  long packageMin, packageMax; /* KP of packages */
  unsigned barcodeDigits;      /* KK and every further barcode of DK (when taken): digits only, at most this many */
  long unitMin, unitMax;       /* JM */
  long vatMin, vatMax;         /* Va */
  long groupMin, groupMax;     /* the goods group, in the field `groupField` names */
  long long priceMin, priceMax; /* Ce (the first price) */
  const char* codePage;        /* the register's own code page of texts */
  const QuorvelFieldMeaning* meanings; /* what the job's fields mean to this driver */
  size_t meaningCount;
  /* Members below were added within version 1: read them only when `size` covers them. */
  unsigned flags;              /* QUORVEL_LIMIT_* */
  const char* groupField;      /* "KO" (a number in the text) or "Gr"; NULL: groups not checked */
  long linkMin, linkMax;       /* KO as the PLU of the deposit package linked to the goods;
                                  both 0: KO is no link */
  unsigned goodsFields;        /* QUORVEL_FIELD_* the register takes of goods (Ty "T"); 0: all */
  unsigned packageFields;      /* the same for packages (Ty "O"); 0: all */
  const char* absentAscii;     /* ASCII characters the register's code page uses for other
                                  characters (its Polish letters), so a name's own are replaced
                                  by plain ones; NULL: none */
} QuorvelFieldLimits;

/* One register model. */
typedef struct QuorvelModel {
  const char* id;              /* idModelu as the job names it, compared exactly */
  long code;                   /* the register's own model code; 0: none */
  long pluCapacity;            /* PLUs the register holds; 0: not known */
  const QuorvelFieldLimits* limits; /* NULL: not known */
} QuorvelModel;

/* The whole description. */
typedef struct QuorvelDriverDescription {
  size_t size;                 /* sizeof(QuorvelDriverDescription) of the plug-in */
  unsigned version;            /* QUORVEL_DRIVER_DESCRIPTION_VERSION */
  const char* name;            /* the plug-in's file name without ".so": "quorvel_x" */
  const char* summary;         /* one line: which registers, reached how */
  const char* registers;       /* what its models are called in the job reference */
  int anyModel;                /* 1: idModelu is not looked at (`models` may still list some) */
  const QuorvelModel* models;
  size_t modelCount;
  const QuorvelConfigKey* keys; /* in the order `quorvel config` prints them */
  size_t keyCount;
} QuorvelDriverDescription;

typedef const QuorvelDriverDescription* (*QuorvelDriverDescriptionFn)(void);

#ifdef __cplusplus
}
#endif
