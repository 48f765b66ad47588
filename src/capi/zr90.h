/* libzr90: the drives of a ZR90 link from C (and from any language that calls C).
 *
 * A link is opened once and used for many calls; every call returns a status code,
 * ZR90_OK (0) or the code of what failed. A call that can fail takes a
 * zr90_error* last: when it is not NULL, a failure fills it in (code, axis,
 * parameter and message); on success it is left as it was.
 *
 * Threads: a link is used by one thread at a time; different links may be used
 * by different threads at once. zr90_cancel may be called on any link from any
 * thread or from a signal handler at any time.
 *
 * Memory: the caller owns what it passes in and the zr90_error it gives. The
 * library owns the objects it hands out (zr90_link, zr90_settings) until the
 * matching zr90_close or zr90_settings_free, and the arrays it returns until
 * zr90_free. A const char* the library returns for a parameter's name, type or
 * memory points into its dictionary and stays valid while the library is loaded.
 */
#ifndef ZR90_H
#define ZR90_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#if defined(ZR90_BUILDING_LIBRARY)
#define ZR90_API __declspec(dllexport)
#else
#define ZR90_API __declspec(dllimport)
#endif
#else
#define ZR90_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Status codes. */
enum zr90_code {
  ZR90_OK = 0,
  ZR90_ARGUMENT = 1,     /* a NULL pointer, an axis out of reach, axes not ascending */
  ZR90_UNKNOWN_NAME = 2, /* no such parameter, or one with no single value */
  ZR90_BAD_VALUE = 3,    /* a value the parameter's type does not hold; nothing was written */
  ZR90_CONFIG = 4,       /* a link setting is missing or malformed */
  ZR90_OPEN = 5,         /* the link could not be brought up */
  ZR90_TIMEOUT = 6,      /* the drive or the card did not answer in time */
  ZR90_CORRUPT = 7,      /* an answer arrived but cannot be trusted */
  ZR90_MODULE = 8,       /* the card's serial-channel module failed a command or transfer */
  ZR90_UNSUPPORTED = 9,  /* the protocol has no command for this access */
  ZR90_NONVOLATILE = 10, /* the drive's non-volatile flag would not clear */
  ZR90_CANCELLED = 11,   /* zr90_cancel ended the call */
  ZR90_NOT_STARTED = 12, /* the axis's channel did not start: no drive answered there */
  ZR90_MISMATCH = 13,    /* written, but read back different */
  ZR90_SETTINGS = 14,    /* a settings file is refused (see line and column) */
  ZR90_FILE = 15,        /* a file cannot be written */
  ZR90_NO_MEMORY = 16
};

typedef struct zr90_error {
  int code;          /* enum zr90_code */
  int axis;          /* the axis it concerns, -1 when none */
  char name[64];     /* the parameter it concerns, "" when none */
  char message[1024];/* what went wrong, in a user's words; cut short to fit */
  int line;          /* ZR90_SETTINGS: where in the file, 0 when not known */
  int column;
} zr90_error;

/* The library's version, "1.0". */
ZR90_API const char* zr90_version(void);

/* The short English name of a status code ("timeout"). */
ZR90_API const char* zr90_code_name(int code);

/* ---- Links ---------------------------------------------------------------- */

typedef struct zr90_link zr90_link;

/* How to reach the drives. Every field may be NULL: it is then taken from the
 * environment variable zr90 reads for it (INTERFACE, PROTOCOL, COMPORT, BAUDRATE,
 * BAUDRATEMUL, IPADDR), else its default; the values are text, checked as the
 * variables are. On a card with no protocol named, the card's protocol is spoken. */
typedef struct zr90_options {
  const char* interface_kind; /* "OSDEVICE", "EZAL16", "OSZAL" */
  const char* protocol;       /* "HEX", "ZAL", "SSZAL", "DIRECT" */
  const char* port;           /* "COM1", or a serial device's path */
  const char* baud;           /* "115200" */
  const char* baud_mul;       /* "1" */
  const char* ip;             /* the card's IPv4 address */
  const char* link;           /* a named link of the user's links file (as zr90 --link):
                                 it fills in the values above left NULL */
  uint8_t channels;           /* card links: the channels to start, bit k for axis k; 0: all eight */
} zr90_options;

/* Opens a link; *link is NULL on failure. options may be NULL: all from the environment. */
ZR90_API int zr90_open(const zr90_options* options, zr90_link** link, zr90_error* error);
/* The same as zr90_open with every option from the environment. */
ZR90_API int zr90_open_environment(zr90_link** link, zr90_error* error);
/* zr90_open in two steps, so that zr90_cancel can end a slow open too: a handle not
 * yet open (NULL when out of memory), then its open. A handle whose open failed may
 * be opened again; it is freed by zr90_close either way. */
ZR90_API zr90_link* zr90_link_new(void);
ZR90_API int zr90_link_open(zr90_link* link, const zr90_options* options, zr90_error* error);
/* Closes the link and frees it; NULL is allowed. */
ZR90_API void zr90_close(zr90_link* link);

/* Ends the wait in progress on the link within 100 ms, and fails every later call on
 * it with ZR90_CANCELLED until zr90_clear_cancel. Async-signal-safe (one atomic
 * store): callable from a signal handler or another thread. */
ZR90_API void zr90_cancel(zr90_link* link);
ZR90_API void zr90_clear_cancel(zr90_link* link);

/* The link in words: "card 10.0.0.2 (UDP port 27181): SSZAL hardware found".
 * Owned by the link. */
ZR90_API const char* zr90_description(const zr90_link* link);
/* The notices of the open (a default assumed, an oddity of the hardware), one per
 * line, each ended by a newline; "" when there were none. Owned by the link. */
ZR90_API const char* zr90_notices(const zr90_link* link);
/* How many axes the link reaches: 1 (axis 0), or 8 on a card. */
ZR90_API unsigned zr90_axis_count(const zr90_link* link);
/* The axes whose channel did not start, bit k for axis k; 0 off a card. */
ZR90_API uint8_t zr90_not_started(const zr90_link* link);

/* ---- Values ---------------------------------------------------------------- */

/* One parameter on one axis: the value, signed types sign-extended. */
ZR90_API int zr90_get(zr90_link* link, const char* name, unsigned axis, int64_t* value, zr90_error* error);

typedef struct zr90_reading {
  int code;      /* ZR90_OK, or what failed for this parameter on this axis */
  uint8_t axis;
  int64_t value; /* valid when code is ZR90_OK */
} zr90_reading;

/* names[0..name_count) on axes[0..axis_count) (ascending, each once), each parameter
 * in one transaction on all the axes where the card allows it. readings holds
 * name_count * axis_count entries, those of names[n] at n * axis_count. Every name
 * is checked before anything is read. Returns ZR90_OK when every value was read,
 * else the code of the first failure, which error describes. */
ZR90_API int zr90_get_many(zr90_link* link, const char* const* names, size_t name_count, const uint8_t* axes,
                           size_t axis_count, zr90_reading* readings, zr90_error* error);

/* One parameter written on one axis and, with verify, read back. The value is text
 * as zr90 set takes it: decimal (a fraction rounds half to even), 0x hexadecimal,
 * negative where the type allows. ZR90_MISMATCH when it reads back different. */
ZR90_API int zr90_set(zr90_link* link, const char* name, const char* value, unsigned axis, int verify,
                      zr90_error* error);

typedef struct zr90_assignment {
  const char* name;
  const char* value; /* as zr90_set takes it */
} zr90_assignment;

typedef struct zr90_write {
  int code;         /* ZR90_OK, what failed, ZR90_MISMATCH, or ZR90_CANCELLED when not tried */
  uint8_t axis;
  int written;      /* the drive took the write */
  int64_t read_back;/* with verify, once written and read */
} zr90_write;

/* Each assignment on each of axes (ascending, each once), in that order, each write
 * read back with verify. Every name and value is checked before anything is
 * written. A failure of the whole link, or a cancel, leaves the rest not tried.
 * results (may be NULL) holds count * axis_count entries, those of assignments[n]
 * at n * axis_count. Returns ZR90_OK when every write verified, else the first
 * failure's code. */
ZR90_API int zr90_set_many(zr90_link* link, const zr90_assignment* assignments, size_t count, const uint8_t* axes,
                           size_t axis_count, int verify, zr90_write* results, zr90_error* error);

/* ---- Faults ---------------------------------------------------------------- */

enum zr90_word_role { ZR90_FAULTS = 0, ZR90_MASK = 1, ZR90_STATUS = 2 };

typedef struct zr90_fault_word {
  const char* name; /* fault, faultmask, startupstatus, status */
  int role;         /* enum zr90_word_role */
  uint16_t value;
  int shows_fault;  /* a fault bit is set in a fault word */
  /* Space-separated bit names: those set, or for the mask those it leaves out. */
  char bits[512];
} zr90_fault_word;

typedef struct zr90_faults {
  size_t count; /* words read, in the order of words */
  zr90_fault_word words[4];
  int any_fault;
} zr90_faults;

/* The fault and status words of one axis, decoded. */
ZR90_API int zr90_read_faults(zr90_link* link, unsigned axis, zr90_faults* faults, zr90_error* error);

/* ---- Parameters ------------------------------------------------------------ */

typedef struct zr90_parameter {
  const char* name;
  uint16_t address;
  const char* type;   /* "uint", "eword", ... */
  const char* memory; /* "ram", "eeprom", or "" for a type with no value in the drive */
  int width;          /* bytes of its one access; 0 where it has no single value */
  int is_signed;
  int64_t lowest;     /* the decimal values a write takes */
  uint64_t highest;
} zr90_parameter;

/* How many parameters the dictionary has; zr90_parameter_at takes 0 to that - 1. */
ZR90_API size_t zr90_parameter_count(void);
ZR90_API int zr90_parameter_at(size_t index, zr90_parameter* parameter);
/* By name, in any letter case. */
ZR90_API int zr90_parameter_info(const char* name, zr90_parameter* parameter, zr90_error* error);

/* ---- Settings -------------------------------------------------------------- */

typedef struct zr90_settings zr90_settings;

/* Every EEPROM setting of each of axes (ascending, each once; NULL and 0: every
 * axis whose channel started) and with with_ram the RAM values too. An axis that
 * cannot be read fails the call. */
ZR90_API int zr90_save(zr90_link* link, const uint8_t* axes, size_t axis_count, int with_ram,
                       zr90_settings** settings, zr90_error* error);
/* The drives read again for what like holds: its axes, with RAM where it has RAM,
 * only the settings it holds. What a comparison with the live drives takes. */
ZR90_API int zr90_save_like(zr90_link* link, const zr90_settings* like, zr90_settings** settings,
                            zr90_error* error);
/* A settings file read and checked whole (ZR90_SETTINGS with line and column). */
ZR90_API int zr90_settings_load(const char* path, zr90_settings** settings, zr90_error* error);
/* The settings as a file, replaced atomically. */
ZR90_API int zr90_settings_write(const zr90_settings* settings, const char* path, zr90_error* error);
ZR90_API void zr90_settings_free(zr90_settings* settings);

/* The axes the settings hold, ascending; returns how many (at most 8). */
ZR90_API size_t zr90_settings_axes(const zr90_settings* settings, uint8_t axes[8]);

typedef struct zr90_setting {
  const char* name;
  int ram;       /* a RAM value, not an EEPROM setting */
  int64_t value;
} zr90_setting;

/* The EEPROM settings, then the RAM values, of one axis; index from 0 to the count
 * less one. */
ZR90_API size_t zr90_settings_count(const zr90_settings* settings, unsigned axis);
ZR90_API int zr90_settings_at(const zr90_settings* settings, unsigned axis, size_t index, zr90_setting* setting);

typedef struct zr90_difference {
  uint8_t axis;
  const char* name;
  int in_a, in_b;  /* whether that side holds the setting */
  int64_t a, b;
} zr90_difference;

/* Every setting in which a and b differ, on the axes either holds, in dictionary
 * order; *differences is NULL when there are none, else to be given to zr90_free. */
ZR90_API int zr90_diff(const zr90_settings* a, const zr90_settings* b, zr90_difference** differences,
                       size_t* count, zr90_error* error);

enum zr90_outcome {
  ZR90_PLANNED = 0,     /* dry run: would be written */
  ZR90_VERIFIED = 1,    /* written and read back the same */
  ZR90_DIFFERS = 2,     /* written, but read back different */
  ZR90_UNCONFIRMED = 3, /* an access failed: it may or may not be written */
  ZR90_NOT_WRITTEN = 4, /* the restore stopped before it */
  ZR90_OVERWRITTEN = 5  /* verified, then changed by a later write of its axis */
};

typedef struct zr90_change {
  uint8_t axis;
  const char* name;
  int64_t old_value, new_value;
  int outcome; /* enum zr90_outcome */
} zr90_change;

typedef struct zr90_restore_options {
  const uint8_t* axes; /* NULL: every axis the settings hold */
  size_t axis_count;
  int from_axis;       /* -1: each axis its own; else that axis's settings onto every one of axes */
  int dry_run;         /* only plan: nothing written, no backup */
  /* A folder to keep the drives' own settings in before the first write (as
   * NAME.before-YYYYMMDDTHHMMSS.json); NULL: no backup. */
  const char* backup_dir;
} zr90_restore_options;

/* Writes the settings that differ from the drives', each read back. *changes
 * (NULL when there are none; to be given to zr90_free) lists every change with its
 * outcome; backup (may be NULL) receives the backup's path, "" when none was made.
 * Returns ZR90_OK when every change verified (or, dry, was planned). */
ZR90_API int zr90_restore(zr90_link* link, const zr90_settings* settings, const zr90_restore_options* options,
                          zr90_change** changes, size_t* count, char* backup, size_t backup_size,
                          zr90_error* error);

/* Frees an array the library returned. */
ZR90_API void zr90_free(void* memory);

#ifdef __cplusplus
}
#endif

#endif /* ZR90_H */
