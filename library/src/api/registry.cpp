#include "api/registry.h"

namespace tessivar {

Registry& Registry::Instance()
{
    // Never destroyed: a program that exits without releaseDev must not have its device
    // threads joined during static destruction, after the log and USB may be gone.
    static Registry* registry = new Registry;
    return *registry;
}

DevThread* Registry::Find(int id) const
{
    auto it = devices.find(id);
    return it == devices.end() ? nullptr : it->second.get();
}

}  // namespace tessivar
