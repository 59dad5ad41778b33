// Getting a process under the umockdev preload, which the virtual bus needs from the very
// start of the process (libc's file and ioctl calls are wrapped at load time).
#pragma once

namespace simmeter {

constexpr const char* kPreloadLibrary = "libumockdev-preload.so.0";

// Returns at once when the process already runs under the preload. Otherwise re-executes
// /proc/self/exe with the same arguments and LD_PRELOAD extended by the preload library
// (an existing LD_PRELOAD, e.g. a sanitizer runtime, stays first), with ASan's link-order
// check switched off (the preload would come before the ASan runtime otherwise) and TSan
// told to ignore uninstrumented modules (GLib, umockdev), unless those options are set
// already; does not return then. Throws std::runtime_error when the exec fails. Call it first thing in main,
// before any thread is started.
void EnsureUnderPreload(char** argv);

// Makes timers of this process and its children fire with 1 ns slack instead of 50 us;
// the emulated transfers are noticeably faster with it.
void TightenTimerSlack();

}  // namespace simmeter
