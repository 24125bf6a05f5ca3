#pragma once

/* The Rivlo C API, for C hosts and for other languages' bindings.
 *
 * A host starts the library, records, and closes it:
 *
 *     rivlo_options_t* options = rivlo_options_new();
 *     rivlo_options_set_application_id(options, "com.example.tool");
 *     rivlo_options_set_application_key(options, "your-application-key");
 *     int rc = rivlo_init(options);            (0, or a negative rivlo_error: rivlo_strerror)
 *     rivlo_options_free(options);
 *     rivlo_add_tag("nightly");
 *     rivlo_run_main_loop(10);                 (or the host's own loop, see below)
 *     rivlo_close(5000);                       (stops, uploads within 5 s, joins, frees)
 *
 * Hosts written for earlier releases call rivlo_install_linux_platform (or rivlo_start) without
 * rivlo_init: the first such call starts the library with the environment's settings. After
 * rivlo_close only rivlo_init starts it again. Before the library started and after it closed,
 * every call but rivlo_version, rivlo_strerror, rivlo_set_log_handler,
 * rivlo_set_main_thread_scheduler, the rivlo_options_* calls and rivlo_init only writes a log
 * line and returns (RIVLO_ERROR_NOT_INITIALIZED where it returns a code).
 *
 * Strings are UTF-8 and NUL-terminated; the library copies what it keeps, so the caller's
 * buffers may be freed as soon as a call returns. A NULL or malformed (not UTF-8) string is
 * written to the log and the call ignored; nothing here crashes on bad input, and no call lets a
 * C++ exception out (an unexpected failure is logged and reported as RIVLO_ERROR_INTERNAL). No
 * call blocks on the network except rivlo_flush and rivlo_close, within their limits. Calls
 * added in this version return 0 for success and a negative rivlo_error otherwise
 * (rivlo/Error.h); the earlier ones keep their documented results.
 *
 * "Main thread" below is the thread that started the library (rivlo_init, or the first platform
 * installation) and turns the main loop: rivlo_run_main_loop, a toolkit bridge, or the host's
 * own event loop through rivlo_set_main_thread_scheduler.
 *
 * What librivlo.so.1 promises: every function and type here keeps its name, arguments, result
 * and meaning for as long as the major version (the 1 in the file name) stays; a later minor
 * version only adds functions, error values and options. */

#include "rivlo/Error.h"
#include "rivlo/Version.h"

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Options and lifecycle ------------------------------------------------------------------ */

/* How the library starts. A new object holds the environment's settings as defaults:
 * RIVLO_APP_ID, RIVLO_APP_NAME, RIVLO_APP_VERSION, RIVLO_SERVICE_URL, RIVLO_CA_FILE,
 * RIVLO_SCREEN ("390x844@3"), RIVLO_IDIOM ("phone", "pad", "unspecified") and
 * RIVLO_FRONT_CAMERA ("1"); an unusable value is logged and left at the built-in default. The
 * Linux defaults are on, the headless device off, no application key is set. One thread at a
 * time per object. */
typedef struct rivlo_options rivlo_options_t;

/* A new options object, or NULL when memory ran out. Free it with rivlo_options_free. Any
 * thread, at any time. */
RIVLO_API rivlo_options_t* rivlo_options_new(void);
/* Frees an options object (NULL is ignored). rivlo_init keeps a copy of what it needs, so the
 * object may be freed as soon as rivlo_init returns. */
RIVLO_API void rivlo_options_free(rivlo_options_t* options);

/* The setters return 0, or RIVLO_ERROR_INVALID_ARGUMENT (options NULL, text NULL or not UTF-8,
 * a value out of range; logged) and change nothing. NULL or "" clears a text where noted. */

/* The application key; when set, rivlo_init starts a session with it. NULL or "" clears it. */
RIVLO_API int rivlo_options_set_application_key(rivlo_options_t* options, const char* key);
/* Reverse-DNS identifier naming the application's caches and defaults folders; NULL or "": the
 * program's name. */
RIVLO_API int rivlo_options_set_application_id(rivlo_options_t* options, const char* id);
/* The name people see, and the application's version; NULL or "": the program's name, "1.0". */
RIVLO_API int rivlo_options_set_display_name(rivlo_options_t* options, const char* name);
RIVLO_API int rivlo_options_set_application_version(rivlo_options_t* options, const char* version);
/* The service's base URL: https, or plain http towards the loopback interface only. NULL or "":
 * the built-in service. */
RIVLO_API int rivlo_options_set_service_url(rivlo_options_t* options, const char* url);
/* An extra certificate bundle to trust, a readable file. NULL or "": the system's only. */
RIVLO_API int rivlo_options_set_ca_file(rivlo_options_t* options, const char* path);
/* The screen the session reports: width and height in points, scale; each positive, the
 * scale at most 16. */
RIVLO_API int rivlo_options_set_screen(rivlo_options_t* options, double width, double height,
                                       double scale);
/* The device type the session reports: "phone", "pad" or "unspecified". */
RIVLO_API int rivlo_options_set_idiom(rivlo_options_t* options, const char* idiom);
/* 1: a video device (V4L2) is the front camera; 0: no front camera. */
RIVLO_API int rivlo_options_set_front_camera(rivlo_options_t* options, int use_video_device);
/* 1 (the default): rivlo_init installs the Linux defaults; 0: the host installs every seam. */
RIVLO_API int rivlo_options_set_linux_platform(rivlo_options_t* options, int install);
/* 1: rivlo_init installs the headless device (librivlo-headless.so.1); 0 (the default): not. */
RIVLO_API int rivlo_options_set_headless_platform(rivlo_options_t* options, int install);

/* Starts the library with the options (NULL: the environment's settings): installs the platform
 * they ask for, registers the recorders, and starts a session when they hold an application key.
 * The calling thread becomes the main thread unless a scheduler was set. Returns 0,
 * RIVLO_ERROR_ALREADY_INITIALIZED while the library runs, RIVLO_ERROR_UNAVAILABLE when a
 * requested platform is missing (nothing started), or another rivlo_error. Main thread. */
RIVLO_API int rivlo_init(const rivlo_options_t* options);

/* Waits up to timeout_ms until the work under way has ended: stops and uploads in progress,
 * every request answered and its answer handled. Returns 0 when nothing is left,
 * RIVLO_ERROR_TIMEOUT when work still runs (it goes on), RIVLO_ERROR_NOT_INITIALIZED when the
 * library does not run. On the main thread it runs the main-thread work while it waits; from
 * another thread the main thread must keep turning. Any thread. */
RIVLO_API int rivlo_flush(uint64_t timeout_ms);

/* Stops the library: the open session is stopped and its uploads begun; what is being uploaded
 * is finished within timeout_ms or cut short and kept in the store for the next start; every
 * thread the library started is joined, what it allocated is freed, and the platform it
 * installed is taken out. Returns 0 when everything ended in time, RIVLO_ERROR_TIMEOUT when the
 * limit cut work short (the library is closed either way), RIVLO_ERROR_NOT_INITIALIZED when it
 * did not run, RIVLO_ERROR_WRONG_THREAD off the main thread. rivlo_init may run again
 * afterwards. Main thread. */
RIVLO_API int rivlo_close(uint64_t timeout_ms);

/* 1 while the library runs (between rivlo_init and rivlo_close), else 0. Any thread. */
RIVLO_API int rivlo_is_initialized(void);

/* ---- The main thread --------------------------------------------------------------------------
 */

/* Hands the library's main-thread work to the host's own event loop (GLib, libuv, a toolkit).
 * notify(context) is called on any thread, never under a lock of the library, when work arrives
 * or timed work moves earlier; the host then calls rivlo_perform_main_thread_work on its main
 * thread soon (never from inside notify). Nothing to do means no call. NULL hands the loop back
 * (rivlo_run_main_loop). The calling thread becomes the main thread: call it on the thread that
 * will perform the work, before rivlo_init. It stays set across rivlo_close. Returns 0. */
RIVLO_API int rivlo_set_main_thread_scheduler(void (*notify)(void* context), void* context);

/* Runs the library's main-thread work that is due now. When next_timeout_ms is not NULL it
 * receives the milliseconds until timed work is next due (call again by then, unless notify
 * asks sooner), or -1 when none waits. Returns 0, RIVLO_ERROR_WRONG_THREAD off the main thread,
 * RIVLO_ERROR_NOT_INITIALIZED while the library does not run (next_timeout_ms gets -1). Main
 * thread. */
RIVLO_API int rivlo_perform_main_thread_work(int* next_timeout_ms);

/* Turns the library's main run loop for the given seconds (0: runs what is due now), for hosts
 * without an event loop; the thread sleeps while nothing is due. Negative or not-a-number
 * seconds are logged and treated as 0. Main thread. */
RIVLO_API void rivlo_run_main_loop(double seconds);

/* ---- Platforms (the calls of earlier releases; rivlo_init does the same) ----------------------
 */

/* Installs the Linux defaults (device facts, network state, folders, cameras, movie encoders)
 * for the application named by application_id (reverse-DNS; names its caches and defaults
 * folders), display_name and version. NULL or empty fields fall back as in rivlo/Platform.h.
 * Starts the library with the environment's settings when it does not run yet. Call before
 * rivlo_start, on the thread that will be the main thread (it becomes it); after
 * rivlo_install_headless_platform when both are wanted. */
RIVLO_API void rivlo_install_linux_platform(const char* application_id, const char* display_name,
                                            const char* version);

/* Installs the headless device (an in-process toolkit with one white window) from
 * librivlo-headless.so.1, for programs that want a recorded screen without a display; a log
 * line says so when that library is missing. Starts the library as above. Call once, before
 * rivlo_install_linux_platform, on the thread that will be the main thread. */
RIVLO_API void rivlo_install_headless_platform(void);

/* ---- Sessions ---------------------------------------------------------------------------------
 */

/* Starts a session with the application key (startApplicationWithKey; spaces and tabs around
 * the key are ignored), starting the library with the environment's settings when it does not
 * run yet. Only the first start after init does anything. Returns 1 when the key was handed to
 * the library, 0 when it was refused (NULL, empty or not UTF-8; after rivlo_close; an internal
 * failure; logged). Main thread. */
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

/* ---- Log and version --------------------------------------------------------------------------
 */

/* Sends every following log line to handler(line, context): one UTF-8 line without a trailing
 * newline, valid only during the call. Called on whichever thread wrote the line, possibly
 * several at once, never under a lock of the library. NULL restores the default (standard
 * error). Stays set across rivlo_close. Any thread, at any time. */
RIVLO_API void rivlo_set_log_handler(void (*handler)(const char* line, void* context),
                                     void* context);

/* The library's version, RIVLO_VERSION_STRING ("major.minor.patch") of the library the program
 * runs with; static storage. Any thread, at any time. */
RIVLO_API const char* rivlo_version(void);

#ifdef __cplusplus
}
#endif
