#include "usbfs_device.h"  // GLib/umockdev first

#include "simmeter/virtual_bus.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <stdexcept>

#include "raw_io.h"

namespace simmeter {

namespace {

constexpr int kUsbDeviceMajor = 189;

std::string Hex4(uint16_t v)
{
    char b[8];
    std::snprintf(b, sizeof b, "%04x", v);
    return b;
}

std::string DevNodeFor(int bus, int devnum)
{
    char b[32];
    std::snprintf(b, sizeof b, "/dev/bus/usb/%03d/%03d", bus, devnum);
    return b;
}

void MakeDirs(const std::string& path)
{
    for (size_t i = 1; i < path.size(); ++i) {
        if (path[i] == '/') {
            syscall(SYS_mkdirat, AT_FDCWD, path.substr(0, i).c_str(), 0755);
        }
    }
    syscall(SYS_mkdirat, AT_FDCWD, path.c_str(), 0755);
}

}  // namespace

// ---------------------------------------------------------------- SimMeter

SimMeter::SimMeter(PortChain port, std::shared_ptr<MeterModel> model, MeterConfig cfg)
    : port_(std::move(port)), model_(std::move(model)), cfg_(std::move(cfg))
{
}

SimMeter::~SimMeter() = default;

void SimMeter::Kick()
{
    std::shared_ptr<UsbfsDevice> u;
    {
        std::lock_guard<std::mutex> lock(mu_);
        u = usb_;
    }
    if (u)
        u->Kick();
}

void SimMeter::SetFaults(const FaultConfig& f)
{
    model_->SetFaults(f);
    Kick();
}

void SimMeter::SetSignal(const SignalConfig& s)
{
    model_->SetSignal(s);
    Kick();
}

std::vector<uint8_t> SimMeter::PortNumbers() const
{
    std::vector<uint8_t> p;
    for (int n : port_.ports)
        p.push_back(static_cast<uint8_t>(n));
    return p;
}

bool SimMeter::IsPlugged() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return usb_ != nullptr;
}

int SimMeter::DeviceNumber() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return devnum_;
}

std::string SimMeter::DevNode() const { return DevNodeFor(port_.bus, DeviceNumber()); }

bool SimMeter::IsOpenByHost() const
{
    std::shared_ptr<UsbfsDevice> u;
    {
        std::lock_guard<std::mutex> lock(mu_);
        u = usb_;
    }
    return u && u->HasClients();
}

UsbCounters SimMeter::Counters() const
{
    std::shared_ptr<UsbfsDevice> u;
    {
        std::lock_guard<std::mutex> lock(mu_);
        u = usb_;
    }
    return u ? u->Counters() : UsbCounters{};
}

// ---------------------------------------------------------------- VirtualBus

struct VirtualBus::Impl {
    struct Node {
        std::string syspath;
        int devnum = 0;
        bool hub = false;
    };
    struct Bus {
        std::string rootSyspath;
        int lastDevnum = 1;  // the root hub is device 1
        std::set<int> used{1};
    };

    UMockdevTestbed* tb = nullptr;
    std::string root;

    std::mutex mu;  // guards everything below
    std::map<int, Bus> buses;
    std::map<PortChain, Node> nodes;  // hubs and plugged meters
    std::vector<std::shared_ptr<SimMeter>> plugged;
    // Presences of unplugged meters a host may still hold open; freed once nobody does.
    std::vector<std::shared_ptr<UsbfsDevice>> retired;
    int nextIndex = 1;

    bool RetiredNodeLocked(const std::string& devnode) const
    {
        for (const auto& r : retired) {
            if (r->DevNode() == devnode)
                return true;
        }
        return false;
    }

    int AllocDevnumLocked(int bus)
    {
        Bus& b = buses[bus];
        // Like the kernel: the next free number after the last one given, wrapping past 127.
        for (int i = 0; i < 127; ++i) {
            int n = b.lastDevnum + 1 + i;
            if (n > 127)
                n -= 126;  // 2..127
            if (!b.used.count(n) && !RetiredNodeLocked(DevNodeFor(bus, n))) {
                b.used.insert(n);
                b.lastDevnum = n;
                return n;
            }
        }
        throw std::runtime_error("no free device number on the bus");
    }

    std::string AddDeviceLocked(const std::string& name, const std::string& parent, int bus,
                                int devnum, const DescriptorSet& d, const std::string& devpath,
                                bool highSpeed)
    {
        const std::string syspath =
            (parent.empty() ? std::string("/sys/devices") : parent) + "/" + name;
        // Descriptors must be readable when the "add" uevent arrives.
        MakeDirs(root + syspath);
        const Bytes desc = d.SysfsDescriptors();
        umockdev_testbed_set_attribute_binary(tb, syspath.c_str(), "descriptors",
                                              const_cast<guint8*>(desc.data()),
                                              static_cast<gint>(desc.size()));
        const uint16_t vid = wire::GetU16(&d.device[8]), pid = wire::GetU16(&d.device[10]);
        const uint16_t bcd = wire::GetU16(&d.device[12]);
        const std::string minor = std::to_string((bus - 1) * 128 + devnum - 1);
        std::vector<std::string> attrs = {
            "busnum",
            std::to_string(bus) + "\n",
            "devnum",
            std::to_string(devnum) + "\n",
            "speed",
            std::string(highSpeed ? "480" : "12") + "\n",
            "bConfigurationValue",
            "1\n",
            "bNumConfigurations",
            "1\n",
            "bNumInterfaces",
            " 1\n",
            "bMaxPacketSize0",
            "64\n",
            "bDeviceClass",
            std::string(d.isHub ? "09" : "00") + "\n",
            "dev",
            std::to_string(kUsbDeviceMajor) + ":" + minor + "\n",
            "idVendor",
            Hex4(vid) + "\n",
            "idProduct",
            Hex4(pid) + "\n",
            "bcdDevice",
            Hex4(bcd) + "\n",
            "version",
            " 2.00\n",
            "devpath",
            devpath + "\n",
            "maxchild",
            std::string(d.isHub ? "4" : "0") + "\n",
            "authorized",
            "1\n",
            "manufacturer",
            d.strings.manufacturer + "\n",
            "product",
            d.strings.product + "\n",
        };
        if (!d.strings.serial.empty()) {
            attrs.push_back("serial");
            attrs.push_back(d.strings.serial + "\n");
        }
        char busDev[16];
        std::snprintf(busDev, sizeof busDev, "%03d", bus);
        char devDev[16];
        std::snprintf(devDev, sizeof devDev, "%03d", devnum);
        std::vector<std::string> props = {
            "DEVTYPE", "usb_device",
            "DEVNAME", DevNodeFor(bus, devnum),
            "BUSNUM",  busDev,
            "DEVNUM",  devDev,
            "MAJOR",   std::to_string(kUsbDeviceMajor),
            "MINOR",   minor,
            "PRODUCT", Hex4(vid) + "/" + Hex4(pid) + "/" + Hex4(bcd),
            "TYPE",    std::string(d.isHub ? "9/0/1" : "0/0/0"),
        };
        std::vector<gchar*> a, p;
        for (auto& s : attrs)
            a.push_back(const_cast<gchar*>(s.c_str()));
        a.push_back(nullptr);
        for (auto& s : props)
            p.push_back(const_cast<gchar*>(s.c_str()));
        p.push_back(nullptr);
        gchar* made = umockdev_testbed_add_devicev(
            tb, "usb", name.c_str(), parent.empty() ? nullptr : parent.c_str(), a.data(), p.data());
        if (!made)
            throw std::runtime_error("umockdev refused the device " + name);
        std::string result = made;
        g_free(made);
        return result;
    }

    void RemoveDeviceLocked(const std::string& syspath, int bus, int devnum)
    {
        // This umockdev sends no "remove" uevent by itself, and leaves the /sys/dev/char link,
        // which would block the device number's next use.
        umockdev_testbed_uevent(tb, syspath.c_str(), "remove");
        umockdev_testbed_remove_device(tb, syspath.c_str());
        const std::string link = root + "/sys/dev/char/" + std::to_string(kUsbDeviceMajor) + ":" +
                                 std::to_string((bus - 1) * 128 + devnum - 1);
        rawio::Unlink(link.c_str());
    }

    Bus& BusLocked(int bus)
    {
        auto it = buses.find(bus);
        if (it != buses.end())
            return it->second;
        Bus b;
        const std::string name = "usb" + std::to_string(bus);
        MakeDirs(root + "/dev/bus/usb/" + [&] {
            char s[8];
            std::snprintf(s, sizeof s, "%03d", bus);
            return std::string(s);
        }());
        b.rootSyspath = AddDeviceLocked(name, "", bus, 1, HubDescriptors(true, bus), "0", true);
        return buses.emplace(bus, std::move(b)).first->second;
    }

    // The syspath of the hub that `chain` plugs into, creating hubs as needed.
    std::string ParentLocked(const PortChain& chain)
    {
        Bus& b = BusLocked(chain.bus);
        if (chain.ports.size() == 1)
            return b.rootSyspath;
        const PortChain up = chain.Parent();
        auto it = nodes.find(up);
        if (it != nodes.end()) {
            if (!it->second.hub) {
                throw std::invalid_argument("port " + up.Name() + " holds a meter, not a hub");
            }
            return it->second.syspath;
        }
        const std::string parent = ParentLocked(up);
        Node hub;
        hub.hub = true;
        hub.devnum = AllocDevnumLocked(chain.bus);
        hub.syspath = AddDeviceLocked(up.Name(), parent, up.bus, hub.devnum,
                                      HubDescriptors(false, up.bus), up.DevPath(), true);
        nodes[up] = hub;
        return hub.syspath;
    }

    void ReapRetiredLocked()
    {
        for (auto it = retired.begin(); it != retired.end();) {
            if (!(*it)->HasClients()) {
                it = retired.erase(it);
            } else {
                ++it;
            }
        }
    }

    // Presents `m` on the bus at its port.
    void AttachLocked(const std::shared_ptr<SimMeter>& m)
    {
        const PortChain& chain = m->port_;
        if (nodes.count(chain)) {
            throw std::invalid_argument("port " + chain.Name() + " is taken");
        }
        for (const auto& [c, n] : nodes) {
            if (c.bus == chain.bus && c.ports.size() > chain.ports.size() &&
                std::equal(chain.ports.begin(), chain.ports.end(), c.ports.begin())) {
                throw std::invalid_argument("port " + chain.Name() + " is a hub");
            }
        }
        ReapRetiredLocked();
        const std::string parent = ParentLocked(chain);
        Bus& b = buses[chain.bus];
        const int devnum = AllocDevnumLocked(chain.bus);
        const std::string devnode = DevNodeFor(chain.bus, devnum);
        const MeterIdentity id = m->model_->Identity();
        const DescriptorSet d = MeterDescriptors(
            {"Simulated Optics", "Optical Power Meter " + id.devName, id.devSerial},
            m->cfg_.highSpeed);
        std::shared_ptr<UsbfsDevice> usb;
        std::string syspath;
        try {
            // umockdev drops empty node directories when devices go.
            MakeDirs(root + devnode.substr(0, devnode.rfind('/')));
            usb = std::make_shared<UsbfsDevice>(tb, devnode, root + devnode, devnum, d, m->model_);
            usb->Start();
            syspath = AddDeviceLocked(chain.Name(), parent, chain.bus, devnum, d, chain.DevPath(),
                                      m->cfg_.highSpeed);
        } catch (...) {
            b.used.erase(devnum);
            throw;
        }
        if (!rawio::IsFifo((root + devnode).c_str())) {
            RemoveDeviceLocked(syspath, chain.bus, devnum);
            b.used.erase(devnum);
            throw std::runtime_error("umockdev replaced the device node " + devnode);
        }
        Node n;
        n.syspath = syspath;
        n.devnum = devnum;
        nodes[chain] = n;
        {
            std::lock_guard<std::mutex> lock(m->mu_);
            m->usb_ = usb;
            m->devnum_ = devnum;
        }
        plugged.push_back(m);
    }

    void DetachLocked(const std::shared_ptr<SimMeter>& m)
    {
        std::shared_ptr<UsbfsDevice> usb;
        {
            std::lock_guard<std::mutex> lock(m->mu_);
            usb = std::move(m->usb_);
            m->usb_.reset();
        }
        if (!usb)
            return;
        auto it = nodes.find(m->port_);
        usb->Disconnect();
        if (it != nodes.end()) {
            RemoveDeviceLocked(it->second.syspath, m->port_.bus, it->second.devnum);
            buses[m->port_.bus].used.erase(it->second.devnum);
            nodes.erase(it);
        }
        rawio::Unlink((root + DevNodeFor(m->port_.bus, m->DeviceNumber())).c_str());
        plugged.erase(std::remove(plugged.begin(), plugged.end(), m), plugged.end());
        if (usb->HasClients())
            retired.push_back(std::move(usb));
        RemoveEmptyHubsLocked(m->port_);
    }

    // Hubs go with their last device, so that every test starts from a bare root hub.
    void RemoveEmptyHubsLocked(PortChain chain)
    {
        while (chain.ports.size() > 1) {
            chain = chain.Parent();
            auto it = nodes.find(chain);
            if (it == nodes.end() || !it->second.hub)
                return;
            for (const auto& [c, n] : nodes) {
                if (c.bus == chain.bus && c.ports.size() > chain.ports.size() &&
                    std::equal(chain.ports.begin(), chain.ports.end(), c.ports.begin())) {
                    return;  // still in use
                }
            }
            RemoveDeviceLocked(it->second.syspath, chain.bus, it->second.devnum);
            buses[chain.bus].used.erase(it->second.devnum);
            nodes.erase(it);
        }
    }
};

bool VirtualBus::UnderPreload()
{
    const char* p = std::getenv("LD_PRELOAD");
    return p && std::strstr(p, "libumockdev-preload");
}

VirtualBus& VirtualBus::Instance()
{
    static VirtualBus bus;
    return bus;
}

VirtualBus::VirtualBus() : impl_(std::make_unique<Impl>())
{
    if (!UnderPreload()) {
        throw std::runtime_error(
            "the virtual USB bus needs LD_PRELOAD=libumockdev-preload.so.0 from process start");
    }
    impl_->tb = umockdev_testbed_new();
    gchar* r = umockdev_testbed_get_root_dir(impl_->tb);
    impl_->root = r;
    g_free(r);
    std::lock_guard<std::mutex> lock(impl_->mu);
    // Root hub 1 exists from the start, so that /dev/bus/usb is there when libusb starts.
    impl_->BusLocked(1);
}

VirtualBus::~VirtualBus()
{
    try {
        UnplugAll();
    } catch (...) {
    }
    {
        std::lock_guard<std::mutex> lock(impl_->mu);
        impl_->retired.clear();
    }
    g_object_unref(impl_->tb);
}

std::shared_ptr<SimMeter> VirtualBus::Plug(const std::string& portChain, MeterConfig cfg)
{
    auto chain = ParsePortChain(portChain);
    if (!chain)
        throw std::invalid_argument("malformed port chain \"" + portChain + "\"");
    std::lock_guard<std::mutex> lock(impl_->mu);
    if (cfg.index < 0)
        cfg.index = impl_->nextIndex;
    impl_->nextIndex = std::max(impl_->nextIndex, cfg.index + 1);
    auto model = std::make_shared<MeterModel>(cfg.index);
    if (cfg.identity)
        model->SetIdentity(*cfg.identity);
    if (cfg.calibration)
        model->SetCalibration(*cfg.calibration);
    model->SetSignal(cfg.signal);
    model->SetFaults(cfg.faults);
    model->SetSaveDelayMs(cfg.saveDelayMs);
    std::shared_ptr<SimMeter> m(new SimMeter(*chain, model, cfg));
    impl_->AttachLocked(m);
    return m;
}

void VirtualBus::Unplug(const std::shared_ptr<SimMeter>& m)
{
    if (!m)
        return;
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->DetachLocked(m);
}

void VirtualBus::Replug(const std::shared_ptr<SimMeter>& m)
{
    if (!m)
        return;
    std::lock_guard<std::mutex> lock(impl_->mu);
    if (m->IsPlugged())
        return;
    m->model_->PowerCycle();
    impl_->AttachLocked(m);
}

void VirtualBus::UnplugAll()
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    auto all = impl_->plugged;
    for (auto it = all.rbegin(); it != all.rend(); ++it)
        impl_->DetachLocked(*it);
}

std::vector<std::shared_ptr<SimMeter>> VirtualBus::Meters() const
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->plugged;
}

std::string VirtualBus::RootDir() const { return impl_->root; }

}  // namespace simmeter
