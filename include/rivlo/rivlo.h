#pragma once

/* The Rivlo C API, for C hosts and for other languages' bindings.
 *
 * Strings are UTF-8 and NUL-terminated; the library copies what it keeps, so the caller's
 * buffers may be freed as soon as a call returns. A NULL or malformed (not UTF-8) string is
 * written to the log and the call ignored; nothing here crashes on bad input. No call blocks on
 * the network: uploads run on the library's own threads.
 *
 * "Main thread" below is the thread that installed the platform and turns the main loop
 * (rivlo_run_main_loop, or the toolkit's event loop through its bridge).
 *
 * A host without a UI toolkit:
 *
 *     rivlo_install_linux_platform("com.example.tool", "Tool", "1.0");
 *     rivlo_start("your-application-key");
 *     rivlo_add_tag("nightly");
 *     rivlo_run_main_loop(10);
 *     rivlo_stop_and_upload();
 *     rivlo_run_main_loop(5);
 */

#include "rivlo/Version.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Installs the Linux defaults (device facts, network state, folders, cameras, movie encoders)
 * for the application named by application_id (reverse-DNS; names its caches and defaults
 * folders), display_name and version. NULL or empty fields fall back as in rivlo/Platform.h.
 * Call once, before rivlo_start, on the thread that will be the main thread (it becomes it);
 * after rivlo_install_headless_platform when both are wanted. */
RIVLO_API void rivlo_install_linux_platform(const char* application_id, const char* display_name,
                                            const char* version);

/* Installs the headless device (an in-process toolkit with one white window), for programs
 * that want a recorded screen without a display. Call once, before
 * rivlo_install_linux_platform, on the thread that will be the main thread. */
RIVLO_API void rivlo_install_headless_platform(void);

/* Starts the library with the application key (startApplicationWithKey; spaces and tabs around
 * the key are ignored). Only the first start of a process does anything. Returns 1 when the key
 * was handed to the library, 0 when it was refused (NULL, empty or not UTF-8; logged). Main
 * thread. */
RIVLO_API int rivlo_start(const char* application_key);

/* Stops the session and uploads everything pending, on the library's background queue; returns
 * at once. Any thread. */
RIVLO_API void rivlo_stop_and_upload(void);

/* Begins a new session after rivlo_stop_and_upload; logs and does nothing while a session is
 * running. Main thread. */
RIVLO_API void rivlo_restart_session(void);

/* 1 while a session started or restarted by the host is recording, else 0. Any thread. */
RIVLO_API int rivlo_is_recording(void);

/* Marks this session's user as a favourite. Any thread. */
RIVLO_API void rivlo_mark_user_as_favorite(void);

/* Names the screen now showing (instead of its view controller's class name). Main thread. */
RIVLO_API void rivlo_tag_screen_name(const char* name);

/* The user's name for this session's data. Any thread. */
RIVLO_API void rivlo_tag_users_name(const char* name);

/* A free tag, stored with the seconds since the session's tag list began. Any thread. */
RIVLO_API void rivlo_add_tag(const char* tag);

/* The user's precise location in degrees; a later call replaces an earlier one. Latitudes
 * outside [-90, 90], longitudes outside [-180, 180] and non-numbers are logged and ignored. Any
 * thread. */
RIVLO_API void rivlo_set_precise_location(double latitude, double longitude);

/* Sends every following log line to handler(line, context): one UTF-8 line without a trailing
 * newline, valid only during the call. Called on whichever thread wrote the line, possibly
 * several at once, never under a lock of the library. NULL restores the default (standard
 * error). Any thread. */
RIVLO_API void rivlo_set_log_handler(void (*handler)(const char* line, void* context),
                                     void* context);

/* Turns the library's main run loop for the given seconds (0: runs what is due now), for hosts
 * without a toolkit event loop; negative or not-a-number seconds are logged and treated as 0.
 * Main thread. */
RIVLO_API void rivlo_run_main_loop(double seconds);

/* The library's version, RIVLO_VERSION_STRING ("major.minor.patch"); static storage. Any
 * thread. */
RIVLO_API const char* rivlo_version(void);

#ifdef __cplusplus
}
#endif
