/* A C host linked through pkg-config: a command-line program without a UI toolkit that
 * installs the Linux defaults, starts, tags its session, stops and turns the main loop while
 * the upload runs.
 *
 *   c_host APPLICATION_KEY TAG
 *
 * Before starting it hands the C API what a careless caller might (NULL and malformed text,
 * an impossible location) and prints how many of those calls were logged and ignored. */

#include <rivlo/rivlo.h>

#include <math.h>
#include <stdio.h>
#include <string.h>

static void on_log(const char* line, void* context) {
    int* ignored = (int*)context;
    if (strstr(line, "; ignored") != NULL) ++*ignored;
    fprintf(stderr, "%s\n", line);
}

int main(int argc, char** argv) {
    int ignored = 0;
    if (argc < 3) {
        fprintf(stderr, "usage: %s APPLICATION_KEY TAG\n", argv[0]);
        return 2;
    }
    rivlo_set_log_handler(on_log, &ignored);
    printf("rivlo %s\n", rivlo_version());

    rivlo_install_linux_platform("com.example.rivlo-c-host", "C Host", "1.0");

    rivlo_add_tag(NULL);
    rivlo_add_tag("\xc3\x28"); /* a lead byte without its continuation */
    rivlo_tag_users_name(NULL);
    rivlo_tag_screen_name("\xed\xa0\x80"); /* an encoded surrogate */
    rivlo_set_precise_location(NAN, 13.4);
    if (rivlo_start(NULL) != 0) return 3;
    printf("bad calls ignored: %d\n", ignored);
    fflush(stdout);

    if (rivlo_start(argv[1]) != 1) return 4;
    rivlo_tag_users_name("c-user");
    rivlo_add_tag(argv[2]);
    rivlo_set_precise_location(48.14, 11.58);
    rivlo_mark_user_as_favorite();
    rivlo_run_main_loop(1);
    rivlo_stop_and_upload();
    /* The upload finishes on the library's threads and the main loop; the test stops this
     * program once the collector has the tag. */
    rivlo_run_main_loop(120);
    return 0;
}
