/* rivlo-load-probe LIBRARY: loads one shared library into a plain C process with dlopen and
 * prints "<milliseconds to load> <resident kilobytes added>": the time dlopen took (the library,
 * its dependencies, their relocations and initialisers) and the growth of the process's peak
 * resident size. */

#include <dlfcn.h>
#include <stdio.h>
#include <sys/resource.h>
#include <time.h>

static double now_ms(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

static long peak_kb(void) {
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s LIBRARY\n", argv[0]);
        return 2;
    }
    const long before = peak_kb();
    const double start = now_ms();
    void* handle = dlopen(argv[1], RTLD_NOW | RTLD_GLOBAL);
    const double took = now_ms() - start;
    if (handle == NULL) {
        fprintf(stderr, "%s\n", dlerror());
        return 1;
    }
    printf("%.3f %ld\n", took, peak_kb() - before);
    return 0;
}
