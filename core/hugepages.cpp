#include "core/hugepages.h"

#include <cstdlib>
#include <cstring>
#include <string>

#if defined(__linux__) && defined(__GLIBC__)
#include <unistd.h>
#endif

void preferHugePages(char** argv) {
#if defined(__linux__) && defined(__GLIBC__)
    const char* tunables = std::getenv("GLIBC_TUNABLES");
    if (tunables && std::strstr(tunables, "glibc.malloc.hugetlb"))
        return;
    std::string value = "glibc.malloc.hugetlb=1";
    if (tunables && *tunables)
        value = std::string(tunables) + ":" + value;
    if (::setenv("GLIBC_TUNABLES", value.c_str(), 1) != 0)
        return;
    // The resolved path, not /proc/self/exe, so the process keeps its own name.
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return;
    self[n] = '\0';
    ::execv(self, argv);
    // Still here: run without; the setting stays in the environment, so no second try.
#else
    (void)argv;
#endif
}
