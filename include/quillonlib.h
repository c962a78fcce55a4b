/*
 * quillonlib: drive a USB near-infrared spectrometer module over HID reports.
 *
 * Plain C interface. Every function may be called before any other; the first
 * call creates the library's session. Functions that talk to the module block
 * while they wait for it (up to 20 s per reply report, and up to three times
 * the module's estimated scan time for a scan).
 *
 * Threads: every function may be called from any thread. Calls run one at a
 * time inside the library, each to its end before the next begins (a scan
 * holds the module until its spectrum is delivered); the others wait.
 *
 * Processes: an open module is held by this process alone until
 * closeSpectrometer(), the library's unloading or the process's end; opening
 * it in another process fails at once with "Resource busy" and changes
 * nothing on the module.
 *
 * Results of type int: 0 is success and -1 is failure unless a function says
 * otherwise; after a failure getLastException() returns the failure's text.
 * The library never allocates memory that the caller frees; returned texts are
 * constant and live as long as the library is loaded.
 */
#ifndef QUILLONLIB_H
#define QUILLONLIB_H

#if defined(QUILLONLIB_BUILD)
#define QUILLON_API __attribute__((visibility("default")))
#else
#define QUILLON_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Finding, opening and closing a module ---------------------------- */

/* Finds attached modules; stores their number in *count. 0, or -1 (no HID layer, or none found). */
QUILLON_API int enumerateDevices(unsigned int* count);

/* Opens the module at index (from enumerateDevices) and reads its configurations. 0 or -1. */
QUILLON_API int openSpectrometer(int index);

/* Closes the open module, if any. Configurations read at opening stay readable. */
QUILLON_API void closeSpectrometer(void);

/* ---- Fixed tables --------------------------------------------------- */

/* Number of scan types: always 2. */
QUILLON_API int getScanTypesNumber(void);

/* "Column" for 0, "Hadamard" for 1, NULL for any other type. */
QUILLON_API const char* getScanTypesName(int type);

/* Number of selectable pattern widths (51). */
QUILLON_API unsigned int getWidthPixelsNumber(void);

/* Pattern width value at index (index i is a width of i + 2 pixels); 0.0 when out of range. */
QUILLON_API double getWidthPixel(int index);

/* Number of selectable exposure times (7). */
QUILLON_API unsigned int getExposureTimesNumber(void);

/* Exposure time value at index; 0.0 when out of range. */
QUILLON_API double getExposureTime(int index);

/* Stores 2 and 624, the pattern count range of a configuration. Always 0. */
QUILLON_API int getPatternsRange(unsigned int* minimum, unsigned int* maximum);

/* ---- Small module operations ----------------------------------------- */

/* Stores the module's active configuration index (or a negative link code) in *index. Always 0. */
QUILLON_API int getActiveScanIndex(int* index);

/* Makes configuration index the module's active one. 0, or -1 when the module refuses. */
QUILLON_API int setActiveScanIndex(unsigned char index);

/* The module's estimated scan time in milliseconds, or a negative link code. */
QUILLON_API int getEstimatedScanTime(void);

/* Reads the module's seven version words. 0, or -1; does not change the last error. */
QUILLON_API int getVersions(unsigned int* v1, unsigned int* v2, unsigned int* v3, unsigned int* v4,
                            unsigned int* v5, unsigned int* v6, unsigned int* v7);

/* Switches the lamp on (on != 0) or off. Always 0. */
QUILLON_API int setLampStatus(int on);

/* Largest pattern count a section of this range, width (pixels) and type (0 Column,
 * 1 Hadamard) admits under the open module's calibration; 0 when none. */
QUILLON_API int getMaxPattern(const char* name, int startNm, int endNm, unsigned char widthPixels,
                              unsigned int scanType, unsigned char spare);

/* ---- Measuring ------------------------------------------------------- */

/* Adds the number of points of the active configuration's spectrum to *length. 0 or -1. */
QUILLON_API int getFormattedSpectrumLengths(unsigned int* length);

/* Sends the module's average count. Always 0. */
QUILLON_API int setSpectrumAverageTime(unsigned short count);

/* Scans with the active configuration; fills wavelengths (nm) and dark-corrected intensities,
 * each sized by getFormattedSpectrumLengths. 0 or -1 (arrays untouched on failure). */
QUILLON_API int getFormattedSpectrum(double* wavelengths, int* intensities);

/* ---- Errors and logging ---------------------------------------------- */

/* Text of the last failure of the calling thread's calls, like errno ("no error" after a
 * success, "unknow" for an unknown code). A call in another thread does not change it. */
QUILLON_API const char* getLastException(void);

/* Logging to the dated file "YYYY-MM-DD-HH.log" in the working directory: on when on > 0. */
QUILLON_API void setLogSwitch(int on);

/* ---- Configuration queries ------------------------------------------- */

/* Copies the name of configuration index (no NUL, at most bufferLength bytes). 0 or -1. */
QUILLON_API int getScanSectionName(int index, char* buffer, unsigned int bufferLength);

/* Number of sections of configuration name; 0 when it has none. */
QUILLON_API int getScanSectionNameNumber(const char* name);

/* Number of configuration names. */
QUILLON_API int getScanSectionNumber(void);

/* Values of section sectionIndex of configuration name; the type text is copied without NUL.
 * 0 or -1. */
QUILLON_API int getScanSectionNameCfg(const char* name, int sectionIndex, char* typeBuffer,
                                      unsigned int bufferLength, double* width,
                                      unsigned short* wavelengthStartNm,
                                      unsigned short* wavelengthEndNm, unsigned short* numPatterns,
                                      double* exposure);

/* Patterns still free in stored configuration name when section (from 1) is redefined. 0 or -1. */
QUILLON_API int getRemainPatternNum(const char* name, unsigned char section,
                                    unsigned short* remaining);

/* ---- Configuration editing ------------------------------------------- */

/* Sets or appends section sectionIndex of configuration name (not validated yet). 0 or -1. */
QUILLON_API int setTgtCfg(const char* name, int sectionIndex, const char* typeName,
                          unsigned short wavelengthStartNm, unsigned short wavelengthEndNm,
                          double width, unsigned short numPatterns, double exposure);

/* Validates configuration name and stores it on the module. 0 or -1. */
QUILLON_API int setTgtCfgs(const char* name, unsigned short numRepeats);

/* Removes configuration name from the module. 0 or -1. */
QUILLON_API int removeTgtCfg(const char* name);

#ifdef __cplusplus
}
#endif

#endif /* QUILLONLIB_H */
