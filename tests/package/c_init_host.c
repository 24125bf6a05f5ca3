/* A C host of this release's lifecycle, linked through pkg-config against librivlo alone: it
 * starts the library with options (its key, the collector's address from the environment, the
 * headless device, which librivlo loads by itself), runs the library's main-thread work in its
 * own poll loop through rivlo_set_main_thread_scheduler, tags its session and closes with a
 * limit, which uploads the session before it returns.
 *
 *   c_init_host APPLICATION_KEY TAG
 *
 * Exit status 0 when every call returned what it should. */

#define _POSIX_C_SOURCE 200809L /* clock_gettime */

#include <rivlo/rivlo.h>

#include <poll.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

static int wake = -1;
static int notified = 0;

static void notify(void* context) {
    (void)context;
    const uint64_t one = 1;
    __atomic_add_fetch(&notified, 1, __ATOMIC_RELAXED);
    if (write(wake, &one, sizeof one) < 0) perror("write");
}

static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

/* The host's event loop for `seconds`: sleeps until notified or the library's next timer. */
static int run_loop(double seconds) {
    const double end = now() + seconds;
    int next = -1;
    while (now() < end) {
        struct pollfd ready = {wake, POLLIN, 0};
        int wait = (int)((end - now()) * 1000) + 1;
        if (next >= 0 && next < wait) wait = next;
        poll(&ready, 1, wait);
        uint64_t count;
        if (read(wake, &count, sizeof count) < 0) { /* nothing was signalled */
        }
        const int rc = rivlo_perform_main_thread_work(&next);
        if (rc != 0) {
            fprintf(stderr, "perform: %s\n", rivlo_strerror(rc));
            return 1;
        }
    }
    return 0;
}

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: %s APPLICATION_KEY TAG\n", argv[0]);
        return 2;
    }
#if !RIVLO_AT_LEAST_VERSION(1, 0, 0)
#error "the headers are older than this host"
#endif
    printf("rivlo %s (headers %d)\n", rivlo_version(), RIVLO_VERSION_NUM);
    wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (rivlo_set_main_thread_scheduler(notify, NULL) != 0) return 3;

    rivlo_options_t* options = rivlo_options_new();
    if (options == NULL) return 4;
    if (rivlo_options_set_application_id(options, "com.example.rivlo-c-init-host") != 0 ||
        rivlo_options_set_display_name(options, "C Init Host") != 0 ||
        rivlo_options_set_application_key(options, argv[1]) != 0 ||
        rivlo_options_set_headless_platform(options, 1) != 0) {
        return 5;
    }
    const int rc = rivlo_init(options);
    rivlo_options_free(options);
    if (rc != 0) {
        fprintf(stderr, "rivlo_init: %s\n", rivlo_strerror(rc));
        return 6;
    }
    if (rivlo_init(NULL) != RIVLO_ERROR_ALREADY_INITIALIZED) return 7;

    rivlo_tag_users_name("c-init-user");
    rivlo_add_tag(argv[2]);
    if (run_loop(3) != 0) return 8;
    printf("recording: %s, notified %d times\n", rivlo_is_recording() ? "yes" : "no", notified);

    /* close stops the session, uploads it within the limit (its answers come back on this
     * thread inside close) and joins the library's threads. */
    const int closed = rivlo_close(60000);
    printf("close: %s\n", rivlo_strerror(closed));
    if (closed != 0) return 9;
    if (rivlo_is_initialized() != 0) return 10;
    rivlo_add_tag("after-close"); /* only logs */
    close(wake);
    return 0;
}
