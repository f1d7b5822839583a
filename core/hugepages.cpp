#include "core/hugepages.h"

#include <cstdlib>
#include <cstring>
#include <string>

#if defined(__linux__) && defined(__GLIBC__)
#include <unistd.h>
#endif

#if defined(__linux__) && defined(__GLIBC__)
namespace {

// The user's GLIBC_TUNABLES across the restart: "=value", or "-" when there was none.
constexpr const char* kUserTunables = "MATTORA_USER_GLIBC_TUNABLES";

// glibc reads the tunables once, at process start; afterwards the user's own value goes back,
// so that programs we start (the desktop's opener, the browser) do not inherit ours.
void restoreUserTunables(const char* was) {
    if (was[0] == '=')
        ::setenv("GLIBC_TUNABLES", was + 1, 1);
    else
        ::unsetenv("GLIBC_TUNABLES");
    ::unsetenv(kUserTunables);
}

}  // namespace
#endif

void preferHugePages(char** argv) {
#if defined(__linux__) && defined(__GLIBC__)
    if (const char* was = std::getenv(kUserTunables)) {
        restoreUserTunables(std::string(was).c_str());
        return;  // this is the restarted process
    }
    const char* tunables = std::getenv("GLIBC_TUNABLES");
    if (tunables && std::strstr(tunables, "glibc.malloc.hugetlb"))
        return;
    const std::string was = tunables ? std::string("=") + tunables : std::string("-");
    std::string value = "glibc.malloc.hugetlb=1";
    if (tunables && *tunables)
        value = std::string(tunables) + ":" + value;
    if (::setenv(kUserTunables, was.c_str(), 1) != 0 ||
        ::setenv("GLIBC_TUNABLES", value.c_str(), 1) != 0) {
        restoreUserTunables(was.c_str());
        return;
    }
    // The resolved path, not /proc/self/exe, so the process keeps its own name.
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        self[n] = '\0';
        ::execv(self, argv);
    }
    // Still here: run without, and as the user started us.
    restoreUserTunables(was.c_str());
#else
    (void)argv;
#endif
}
