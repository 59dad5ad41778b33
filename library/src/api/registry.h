// The process-wide device registry: device id -> DevThread, at most 8 entries.
//
// `lock` is a non-recursive, writer-preferring read-write lock: every per-device export
// holds it for reading for its whole call (including the wait for the meter), scanDev
// and releaseDev take it for writing. It is the outermost lock of the library.
#pragma once

#include "device/dev_thread.h"

#include "sync/rw_lock.h"

#include <map>
#include <memory>

namespace tessivar {

struct Registry {
    static constexpr int kMaxDevices = TESSIVAR_MAX_DEVICES;

    WriterPreferringLock lock;  // guards devices
    std::map<int, std::unique_ptr<DevThread>> devices;

    static Registry& Instance();

    // The device with this id, or null. Caller holds `lock`.
    DevThread* Find(int id) const;
};

}  // namespace tessivar
