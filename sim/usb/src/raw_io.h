// File operations by raw system calls. Inside a process under the umockdev preload, libc's
// open/ioctl/read/write on device paths are routed to the testbed; the gate FIFOs of the
// emulated nodes must not be, so they are handled with direct syscalls.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace simmeter {
namespace rawio {

inline int Open(const char* path, int flags, int mode = 0)
{
    return static_cast<int>(syscall(SYS_openat, AT_FDCWD, path, flags, mode));
}
inline int MakeFifo(const char* path)
{
    return static_cast<int>(syscall(SYS_mknodat, AT_FDCWD, path, S_IFIFO | 0666, 0));
}
inline long Read(int fd, void* buf, size_t n) { return syscall(SYS_read, fd, buf, n); }
inline long Write(int fd, const void* buf, size_t n) { return syscall(SYS_write, fd, buf, n); }
inline int Fcntl(int fd, int cmd, long arg)
{
    return static_cast<int>(syscall(SYS_fcntl, fd, cmd, arg));
}
inline int Close(int fd) { return static_cast<int>(syscall(SYS_close, fd)); }
inline int Unlink(const char* path)
{
    return static_cast<int>(syscall(SYS_unlinkat, AT_FDCWD, path, 0));
}
inline bool IsFifo(const char* path)
{
    struct stat st {};
    if (syscall(SYS_newfstatat, AT_FDCWD, path, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    return S_ISFIFO(st.st_mode);
}

}  // namespace rawio
}  // namespace simmeter
