#include "simmeter/preload.h"

#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include "simmeter/virtual_bus.h"

namespace simmeter {

void EnsureUnderPreload(char** argv)
{
    if (VirtualBus::UnderPreload())
        return;
    const char* old = std::getenv("LD_PRELOAD");
    std::string preload = old && *old ? std::string(old) + ":" + kPreloadLibrary : kPreloadLibrary;
    setenv("LD_PRELOAD", preload.c_str(), 1);
    const char* asan = std::getenv("ASAN_OPTIONS");
    std::string asanOpts = asan && *asan ? asan : "";
    if (asanOpts.find("verify_asan_link_order") == std::string::npos) {
        asanOpts += asanOpts.empty() ? "verify_asan_link_order=0" : ":verify_asan_link_order=0";
        setenv("ASAN_OPTIONS", asanOpts.c_str(), 1);
    }
    // GLib and umockdev are not instrumented; their worker thread hands data to ours through
    // a socket TSan cannot see.
    const char* tsan = std::getenv("TSAN_OPTIONS");
    std::string tsanOpts = tsan && *tsan ? tsan : "";
    if (tsanOpts.find("ignore_noninstrumented_modules") == std::string::npos) {
        tsanOpts += tsanOpts.empty() ? "ignore_noninstrumented_modules=1"
                                     : ":ignore_noninstrumented_modules=1";
        setenv("TSAN_OPTIONS", tsanOpts.c_str(), 1);
    }
    execv("/proc/self/exe", argv);
    throw std::runtime_error(std::string("cannot re-execute under the umockdev preload: ") +
                             std::strerror(errno));
}

void TightenTimerSlack() { prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL); }

}  // namespace simmeter
