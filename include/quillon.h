/* quillon.h: the library's own interface to near-infrared spectrometer
 * modules. Every attached module can be opened at once, each through its own
 * handle; every call tells what happened as a quillon_result; a running scan
 * stops when asked.
 *
 * Which header to use
 *   quillonlib.h (the 29 functions named like getFormattedSpectrum) is for
 *   hosts written against them: one module per process, failure texts through
 *   getLastException. quillon.h is for new hosts. A process may use both, but
 *   not on the same module: a module open through one is busy for the other.
 *
 * Threads
 *   Every function may be called from any thread. Calls on one module take
 *   turns (each module has its own lock: a second call waits until the first
 *   has returned); calls on different modules run at the same time, so two
 *   threads scanning two modules take the time of one scan. quillon_cancel
 *   takes no lock and may also be called from a signal handler.
 *   The functions that take no module (the tables, quillon_result_text,
 *   quillon_list) need no lock and return at once, quillon_list excepted,
 *   which asks the HID layer.
 *
 * Cancelling
 *   quillon_cancel(module) only sets a flag of the module. A quillon_scan
 *   running on it then returns QUILLON_ERR_CANCELLED within 100 ms, without
 *   reading the scan's data; the module finishes that scan on its own, and the
 *   next quillon_scan on it waits for that before it starts its own. A cancel
 *   that comes while no scan runs is forgotten when the next scan starts.
 *
 * Memory
 *   The library never allocates what the caller frees, except the module
 *   handle, which quillon_close releases. Texts are copied into the caller's
 *   buffers, NUL-terminated and cut to fit.
 *
 * The simulated module
 *   With QUILLONLIB_SIMULATOR=1 in the environment the library talks to
 *   simulated modules instead of hidapi: QUILLONLIB_SIMULATOR_MODULES=N puts
 *   N of them on the bus (default 1), QUILLONLIB_SIMULATOR_SERIALS=A,B,...
 *   names their serial numbers (default QSIM0001, QSIM0002, ...), and
 *   QUILLONLIB_SIMULATOR_STATE names the one file in which all of them keep
 *   their stored configurations. */
#ifndef QUILLON_H
#define QUILLON_H

#include <stddef.h>
#include <stdint.h>

#ifndef QUILLON_API
#if defined(QUILLONLIB_BUILD)
#define QUILLON_API __attribute__((visibility("default")))
#else
#define QUILLON_API
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/** An open module. Obtained from quillon_open, released by quillon_close. */
typedef struct quillon_module quillon_module;

/** What a call did. Every kind has its own text (quillon_result_text). */
typedef enum quillon_result {
    QUILLON_OK = 0,
    /** No such module is attached (or it went away before it was opened). */
    QUILLON_ERR_NOT_FOUND,
    /** Another handle or process holds the module. */
    QUILLON_ERR_BUSY,
    /** The system does not let this user open the module. */
    QUILLON_ERR_ACCESS_DENIED,
    /** The module did not answer in time. */
    QUILLON_ERR_TIMEOUT,
    /** Writing to or reading from the module failed: it was unplugged. */
    QUILLON_ERR_DISCONNECTED,
    /** The module refused the command. */
    QUILLON_ERR_REFUSED,
    /** An argument is outside what the call takes (a null pointer, a
     * position past the stored configurations, values outside the tables). */
    QUILLON_ERR_INVALID_ARGUMENT,
    /** The caller's arrays are too small; nothing was written. */
    QUILLON_ERR_BUFFER_TOO_SMALL,
    /** quillon_cancel stopped the call. */
    QUILLON_ERR_CANCELLED,
    /** Neither hidapi nor (with QUILLONLIB_SIMULATOR=1) the simulated module
     * could be loaded. */
    QUILLON_ERR_NO_HID_LAYER,
    /** Memory ran out. */
    QUILLON_ERR_NO_MEMORY,
    /** The active position holds no configuration, or the module stores none. */
    QUILLON_ERR_NO_CONFIGURATION,
    /** What the module sent could not be decoded. */
    QUILLON_ERR_BAD_DATA,
    /** The module's configurations were not all read when it was opened;
     * storing a list would erase the ones not read. Reopen the module. */
    QUILLON_ERR_INCOMPLETE
} quillon_result;

/** @brief The text of a result, in English.
 *  @returns Constant text, never NULL ("unknown result" for a value that is
 *  not a quillon_result). */
QUILLON_API const char* quillon_result_text(quillon_result result);

/** @brief The library's version, "MAJOR.MINOR.PATCH". Constant text. */
QUILLON_API const char* quillon_library_version(void);

/* ---- Finding and opening modules ------------------------------------- */

/** An attached module as quillon_list finds it. */
typedef struct quillon_module_info {
    char path[256];  /**< the HID layer's name for it: what quillon_open takes */
    char serial[64]; /**< its serial number ("" when it has none) */
} quillon_module_info;

/** @brief Lists the attached modules.
 *
 *  Asks the HID layer for every attached module (USB vendor 0x0451, product
 *  0x4200), in the order it reports them. Sends nothing to any module.
 *
 *  @param infos    Room for `capacity` entries; may be NULL when capacity is 0.
 *  @param capacity How many entries fit in `infos`.
 *  @param count    Receives the number of modules found, which may exceed
 *                  `capacity` (only the first `capacity` are written).
 *  @returns QUILLON_OK (also when none is attached: *count is 0),
 *  QUILLON_ERR_NO_HID_LAYER, QUILLON_ERR_NOT_FOUND when the HID layer cannot
 *  start, QUILLON_ERR_INVALID_ARGUMENT when `count` is NULL. */
QUILLON_API quillon_result quillon_list(quillon_module_info* infos, size_t capacity, size_t* count);

/** @brief Opens a module.
 *
 *  Takes this process's hold of the module (another process, or another
 *  handle of this one, then gets QUILLON_ERR_BUSY), opens it and reads its
 *  calibration and every stored configuration. Opening changes what the
 *  module stores only to finish a save that a process ended part way (see
 *  quillon_recovery); otherwise it only reads.
 *
 *  @param path   A path from quillon_list; NULL opens the first module listed.
 *  @param module Receives the handle; NULL after a failure.
 *  @returns QUILLON_OK, QUILLON_ERR_NOT_FOUND, QUILLON_ERR_BUSY,
 *  QUILLON_ERR_ACCESS_DENIED, QUILLON_ERR_NO_HID_LAYER, or the result of the
 *  first read that failed (QUILLON_ERR_TIMEOUT, _DISCONNECTED, ...). A module
 *  that stores no configuration opens with none. */
QUILLON_API quillon_result quillon_open(const char* path, quillon_module** module);

/** @brief Closes a module and releases its handle and hold.
 *
 *  Waits for a call running on the module to return first (call
 *  quillon_cancel to stop a scan). The lamp is left as it is. NULL is ignored. */
QUILLON_API void quillon_close(quillon_module* module);

/** @brief The path and serial number of an open module. */
QUILLON_API quillon_result quillon_module_identity(quillon_module* module,
                                                   quillon_module_info* info);

/** @brief The module's seven version words, in the order it sends them. */
QUILLON_API quillon_result quillon_versions(quillon_module* module, uint32_t words[7]);

/* ---- Stored configurations, by position ------------------------------ */

/** One section of a configuration. */
typedef struct quillon_section {
    int scan_type;      /**< 0 Column, 1 Hadamard (quillon_scan_type_name) */
    double width_nm;    /**< pattern width: a value of quillon_width */
    uint16_t start_nm;  /**< first wavelength, 900..1700 */
    uint16_t end_nm;    /**< last wavelength, start_nm..1700 */
    uint16_t patterns;  /**< number of patterns (points) */
    double exposure_ms; /**< exposure time: a value of quillon_exposure */
} quillon_section;

/** @brief The number of configurations the module stores (as read when it
 *  was opened, and changed by this handle since). Sends nothing. */
QUILLON_API quillon_result quillon_config_count(quillon_module* module, size_t* count);

/** @brief The name of the configuration at `position`, NUL-terminated and cut
 *  to `capacity` bytes. Names need not be unique. Sends nothing.
 *  @returns QUILLON_OK, QUILLON_ERR_INVALID_ARGUMENT for a position past the
 *  last or a NULL/empty buffer. */
QUILLON_API quillon_result quillon_config_name(quillon_module* module, size_t position, char* name,
                                               size_t capacity);

/** @brief The sections and repeat count of the configuration at `position`.
 *  @param sections Room for `capacity` sections (at most 5 are ever needed).
 *  @param count    Receives the number of sections.
 *  @param repeats  Receives its repeat count; may be NULL.
 *  @returns QUILLON_OK, QUILLON_ERR_INVALID_ARGUMENT, or
 *  QUILLON_ERR_BUFFER_TOO_SMALL (nothing written; *count says how many). */
QUILLON_API quillon_result quillon_config_sections(quillon_module* module, size_t position,
                                                   quillon_section* sections, size_t capacity,
                                                   size_t* count, uint16_t* repeats);

/** @brief Stores a new configuration after the last one.
 *
 *  The sections are checked against the module's limits (at most 5 sections,
 *  20 configurations, 624 patterns in all, the tables and the module's
 *  calibration) before anything is sent; then the module's whole list is
 *  stored anew. If the module does not take it, the list it held is written
 *  back.
 *  @param name     Up to 39 bytes.
 *  @param position Receives the new configuration's position; may be NULL.
 *  @param reason   Receives, after a refusal, why (NUL-terminated, cut to
 *                  `reason_capacity`); may be NULL.
 *  @returns QUILLON_OK, QUILLON_ERR_INVALID_ARGUMENT (see `reason`),
 *  QUILLON_ERR_INCOMPLETE, or the module's failure. */
QUILLON_API quillon_result quillon_config_add(quillon_module* module, const char* name,
                                              const quillon_section* sections, size_t count,
                                              uint16_t repeats, size_t* position, char* reason,
                                              size_t reason_capacity);

/** @brief Replaces the configuration at `position` (name, sections and repeat
 *  count), checked and stored as quillon_config_add does. */
QUILLON_API quillon_result quillon_config_replace(quillon_module* module, size_t position,
                                                  const char* name, const quillon_section* sections,
                                                  size_t count, uint16_t repeats, char* reason,
                                                  size_t reason_capacity);

/** @brief Removes the configuration at `position`; the ones after it move up
 *  by one. The active configuration stays active; when it is the one
 *  removed, position 0 becomes active. */
QUILLON_API quillon_result quillon_config_remove(quillon_module* module, size_t position);

/** @brief Asks the module for its active position.
 *  The position may hold no configuration (a module may report any byte). */
QUILLON_API quillon_result quillon_active_get(quillon_module* module, size_t* position);

/** @brief Makes the configuration at `position` the active one (stored on the
 *  module). @returns QUILLON_ERR_INVALID_ARGUMENT, without sending anything,
 *  for a position that holds no configuration. */
QUILLON_API quillon_result quillon_active_set(quillon_module* module, size_t position);

/** @brief The number of points a scan of the active configuration delivers
 *  (the sum of its sections' patterns). Sends nothing.
 *  @returns QUILLON_OK or QUILLON_ERR_NO_CONFIGURATION. */
QUILLON_API quillon_result quillon_point_count(quillon_module* module, size_t* points);

/** @brief The module's estimate of a scan of its active configuration, in
 *  milliseconds. */
QUILLON_API quillon_result quillon_estimated_scan_time(quillon_module* module,
                                                       uint32_t* milliseconds);

/** @brief The largest number of patterns one section of these values can have
 *  on this module (its calibration decides). 0 when none fits. */
QUILLON_API quillon_result quillon_max_patterns(quillon_module* module, int scan_type,
                                                uint16_t start_nm, uint16_t end_nm, double width_nm,
                                                uint32_t* patterns);

/* ---- Lamp and scan ----------------------------------------------------- */

/** @brief Switches the lamp on (`on` not 0) or off. */
QUILLON_API quillon_result quillon_lamp_set(quillon_module* module, int on);

/** @brief The lamp state this handle last commanded: 1 on, 0 off, -1 not
 *  commanded since opening (the module cannot be asked). */
QUILLON_API quillon_result quillon_lamp_get(quillon_module* module, int* on);

/** @brief Scans with the active configuration and delivers its spectrum.
 *
 *  Blocks for the whole scan (the module's estimate, plus reading the data).
 *  One point per pattern, sections in configuration order: wavelengths in nm
 *  and dark-corrected intensities.
 *  @param capacity Entries each array holds.
 *  @param points   Receives the number of points written.
 *  @returns QUILLON_OK; QUILLON_ERR_BUFFER_TOO_SMALL when the active
 *  configuration has more than `capacity` points (nothing sent or written;
 *  quillon_point_count tells how many); QUILLON_ERR_CANCELLED after
 *  quillon_cancel (nothing written); QUILLON_ERR_NO_CONFIGURATION; or the
 *  module's failure. The arrays are written only on QUILLON_OK. */
QUILLON_API quillon_result quillon_scan(quillon_module* module, double* wavelengths_nm,
                                        int32_t* intensities, size_t capacity, size_t* points);

/** @brief Asks a scan running on the module to stop (see "Cancelling" above).
 *  Only sets a flag: safe from any thread and from a signal handler.
 *  @returns QUILLON_OK, or QUILLON_ERR_INVALID_ARGUMENT for NULL. */
QUILLON_API quillon_result quillon_cancel(quillon_module* module);

/* ---- Saves cut short, backups ------------------------------------------ */

/** What opening a module did with a save that an earlier process (or a pulled
 *  cable) did not finish. Every save of configurations is first written to a
 *  journal in $XDG_STATE_HOME/quillonlib (else ~/.local/state/quillonlib); the
 *  next opening finds it and compares it with what the module holds. */
typedef enum quillon_recovery_kind {
    /** No unfinished save of this module was found. */
    QUILLON_RECOVERY_NONE = 0,
    /** The save had not begun: the module holds the list from before it. */
    QUILLON_RECOVERY_DROPPED,
    /** The save was finished: `restored` configurations were written. */
    QUILLON_RECOVERY_FINISHED,
    /** The journal was damaged, of another module, or the module was changed
     *  since: nothing was written, and the journal was set aside (see `detail`),
     *  so this is reported once. */
    QUILLON_RECOVERY_REFUSED,
    /** The module could not be read: the journal stays for the next opening. */
    QUILLON_RECOVERY_PENDING
} quillon_recovery_kind;

typedef struct quillon_recovery_info {
    quillon_recovery_kind kind;
    uint32_t restored; /**< configurations written (QUILLON_RECOVERY_FINISHED) */
    char detail[512];  /**< why a journal was refused and where it went; "" otherwise */
} quillon_recovery_info;

/** @brief What the last opening of `module` did with an unfinished save.
 *  @param module A handle, or NULL for the module opened through
 *                quillonlib.h's openSpectrometer (whose opening only logs it).
 *  @returns QUILLON_OK, or QUILLON_ERR_INVALID_ARGUMENT when `info` is NULL. */
QUILLON_API quillon_result quillon_recovery(quillon_module* module, quillon_recovery_info* info);

/** @brief The record image of the configuration at `position`, byte for byte
 *  as the library stores it on the module (at most 183 bytes). Sends nothing.
 *  @returns QUILLON_OK, QUILLON_ERR_INVALID_ARGUMENT for a position past the
 *  last, QUILLON_ERR_BUFFER_TOO_SMALL (*length tells the size). */
QUILLON_API quillon_result quillon_config_record(quillon_module* module, size_t position,
                                                 uint8_t* record, size_t capacity,
                                                 size_t* length);

/** One configuration for quillon_configs_store: its record image (from
 *  quillon_config_record), its name, sections and repeat count, or both. */
typedef struct quillon_stored_config {
    const char* name;                 /**< NULL: taken from the record */
    const quillon_section* sections;  /**< with `name`: 1 to 5 sections */
    size_t section_count;
    uint16_t repeats;
    const uint8_t* record; /**< NULL: built from the fields; otherwise stored as is,
                                and the fields, when given, must agree with it */
    size_t record_length;
} quillon_stored_config;

/** @brief Stores several configurations in one save (a backup's import).
 *
 *  Every configuration is checked as quillon_config_add checks it before
 *  anything is sent; then, in one journaled save, they are appended after
 *  the module's configurations (`replace` 0: the active configuration stays
 *  active) or replace all of them (`replace` not 0: `active_position` becomes
 *  active). A count of 0 with `replace` removes every configuration.
 *  @returns QUILLON_OK, QUILLON_ERR_INVALID_ARGUMENT (nothing sent; see
 *  `reason`), QUILLON_ERR_INCOMPLETE, or the module's failure. */
QUILLON_API quillon_result quillon_configs_store(quillon_module* module,
                                                 const quillon_stored_config* configs,
                                                 size_t count, int replace,
                                                 size_t active_position, char* reason,
                                                 size_t reason_capacity);

/* ---- The fixed tables ------------------------------------------------ */

/** @brief Scan types: 2; their names "Column" (0) and "Hadamard" (1), NULL
 *  for any other type. */
QUILLON_API size_t quillon_scan_type_count(void);
QUILLON_API const char* quillon_scan_type_name(int scan_type);

/** @brief Pattern widths in nm: 51 values, entry i for a width of i + 2
 *  columns. @returns QUILLON_ERR_INVALID_ARGUMENT past the last. */
QUILLON_API size_t quillon_width_count(void);
QUILLON_API quillon_result quillon_width(size_t index, double* width_nm);

/** @brief Exposure times in ms: 7 values, entry i for exposure setting i. */
QUILLON_API size_t quillon_exposure_count(void);
QUILLON_API quillon_result quillon_exposure(size_t index, double* exposure_ms);

/** @brief The pattern count a configuration may have in all: 2 to 624. */
QUILLON_API void quillon_pattern_range(uint32_t* minimum, uint32_t* maximum);

#ifdef __cplusplus
}
#endif

#endif /* QUILLON_H */
