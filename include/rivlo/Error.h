#pragma once

/* What the library's calls report: 0 for success, a negative rivlo_error otherwise. C and C++.
 * The values never change within a major version; a later minor version may add values, so
 * treat an unknown negative value as a failure and show rivlo_strerror's text. */

#include "rivlo/Version.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum rivlo_error {
    RIVLO_OK = 0,
    /* An argument is NULL, not UTF-8, or outside its range (the call changed nothing). */
    RIVLO_ERROR_INVALID_ARGUMENT = -1,
    /* The library is not running: rivlo_init was not called, failed, or rivlo_close ran. */
    RIVLO_ERROR_NOT_INITIALIZED = -2,
    /* rivlo_init while the library runs (call rivlo_close first). */
    RIVLO_ERROR_ALREADY_INITIALIZED = -3,
    /* The call belongs on the main thread (see rivlo.h) and came from another. */
    RIVLO_ERROR_WRONG_THREAD = -4,
    /* The time limit passed before the work ended (it goes on, or stays stored). */
    RIVLO_ERROR_TIMEOUT = -5,
    /* A part the call needs is missing (a library not installed, no platform). */
    RIVLO_ERROR_UNAVAILABLE = -6,
    /* Memory ran out; nothing changed. */
    RIVLO_ERROR_OUT_OF_MEMORY = -7,
    /* An unexpected failure inside the library; its log line says more. */
    RIVLO_ERROR_INTERNAL = -8
} rivlo_error;

/* A short English text for a rivlo_error value ("invalid argument"); static storage, never
 * NULL ("unknown error" for other values). Any thread, at any time. */
RIVLO_API const char* rivlo_strerror(int error);

#ifdef __cplusplus
}
#endif
