#include "usbfs_device.h"

#include <linux/usb/ch9.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>

#include <sys/stat.h>
#include <sys/syscall.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "raw_io.h"

namespace simmeter {

namespace {

// Capabilities reported to libusb: one URB per transfer of any size.
constexpr uint32_t kCaps = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_NO_PACKET_SIZE_LIM;
constexpr int kInterfaceCount = 1;
// Least time between two wake-ups of the pump (replies to requests do not wait for it).
constexpr auto kBatchInterval = std::chrono::milliseconds(1);

unsigned long ArgValue(UMockdevIoctlData* arg)
{
    unsigned long v = 0;
    std::memcpy(&v, arg->data, std::min(sizeof v, static_cast<size_t>(arg->data_len)));
    return v;
}

UMockdevIoctlData* Resolve(UMockdevIoctlData* d, size_t offset, size_t len)
{
    GError* err = nullptr;
    UMockdevIoctlData* r = umockdev_ioctl_data_resolve(d, offset, len, &err);
    if (err)
        g_error_free(err);
    return r;
}

// The ioctl argument as a whole T, copied out of or into the caller's memory; false when
// the caller's pointer cannot be resolved.
template <class T>
bool ReadArgument(UMockdevIoctlData* arg, T* out)
{
    UMockdevIoctlData* d = Resolve(arg, 0, sizeof(T));
    if (!d)
        return false;
    std::memcpy(out, d->data, sizeof(T));
    g_object_unref(d);
    return true;
}

template <class T>
bool WriteArgument(UMockdevIoctlData* arg, const T& value)
{
    UMockdevIoctlData* d = Resolve(arg, 0, sizeof(T));
    if (!d)
        return false;
    std::memcpy(d->data, &value, sizeof(T));
    g_object_unref(d);
    return true;
}

void Complete(UMockdevIoctlClient* c, long res, int err)
{
    umockdev_ioctl_client_complete(c, res, err);
}

}  // namespace

UsbfsDevice::UsbfsDevice(UMockdevTestbed* tb, std::string devnode, std::string nodePath, int devnum,
                         DescriptorSet desc, std::shared_ptr<MeterModel> model)
    : tb_(tb),
      devnode_(std::move(devnode)),
      nodePath_(std::move(nodePath)),
      devnum_(devnum),
      desc_(std::move(desc)),
      model_(std::move(model))
{
    rawio::Unlink(nodePath_.c_str());
    if (rawio::MakeFifo(nodePath_.c_str()) != 0) {
        throw std::runtime_error("cannot create the device node " + nodePath_ + ": " +
                                 std::strerror(errno));
    }
    gateFd_ = rawio::Open(nodePath_.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (gateFd_ < 0)
        throw std::runtime_error("cannot open " + nodePath_ + ": " + std::strerror(errno));
    // One page: a single byte makes the pipe full, so POLLOUT means "a URB is reapable".
    rawio::Fcntl(gateFd_, F_SETPIPE_SZ, 4096);
    const uint8_t b = 0;
    rawio::Write(gateFd_, &b, 1);
    gateOpen_ = false;
}

UsbfsDevice::~UsbfsDevice()
{
    Disconnect();
    {
        std::lock_guard<std::mutex> lock(mu_);
        for (auto& u : pendingIn_)
            ReleaseUrb(u);
        for (auto& u : completed_)
            ReleaseUrb(u);
        pendingIn_.clear();
        completed_.clear();
        if (reaperSlot_)
            g_object_unref(reaperSlot_);
        if (reaper_)
            g_object_unref(reaper_);
        reaperSlot_ = nullptr;
        reaper_ = nullptr;
    }
    if (handler_) {
        if (attached_)
            umockdev_testbed_detach_ioctl(tb_, devnode_.c_str(), nullptr);
        g_signal_handlers_disconnect_by_data(handler_, this);
        g_object_unref(handler_);
    }
    for (auto* c : clients_)
        g_object_unref(c);
    if (gateFd_ >= 0)
        rawio::Close(gateFd_);
}

void UsbfsDevice::Start()
{
    handler_ = umockdev_ioctl_base_new();
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(OnIoctlThunk), this);
    g_signal_connect(handler_, "client-connected", G_CALLBACK(OnClientConnectedThunk), this);
    GError* err = nullptr;
    if (!umockdev_testbed_attach_ioctl(tb_, devnode_.c_str(), handler_, &err)) {
        std::string msg = err ? err->message : "unknown error";
        if (err)
            g_error_free(err);
        throw std::runtime_error("cannot attach the usbfs emulation to " + devnode_ + ": " + msg);
    }
    {
        std::lock_guard<std::mutex> lock(mu_);
        attached_ = true;
    }
    pump_ = std::thread([this] { PumpLoop(); });
}

void UsbfsDevice::Disconnect()
{
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (!unplugged_) {
            unplugged_ = true;
            // As a host controller does on disconnect: everything in flight ends with -ESHUTDOWN.
            while (!pendingIn_.empty()) {
                Urb u = std::move(pendingIn_.front());
                pendingIn_.pop_front();
                u.status = -ESHUTDOWN;
                u.actual = 0;
                completed_.push_back(std::move(u));
            }
            inQueue_.clear();
            inQueueBytes_ = 0;
            inFrontOffset_ = 0;
            CompleteReaperLocked();
            UpdateGateLocked();
        }
        stop_ = true;
    }
    cv_.notify_all();
    if (pump_.joinable())
        pump_.join();
}

void UsbfsDevice::Kick()
{
    {
        std::lock_guard<std::mutex> lock(mu_);
        kicked_ = true;
    }
    cv_.notify_all();
}

bool UsbfsDevice::HasClients()
{
    std::lock_guard<std::mutex> lock(mu_);
    PruneClientsLocked();
    return !clients_.empty();
}

UsbCounters UsbfsDevice::Counters() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return counters_;
}

// ---------------------------------------------------------------- client tracking

void UsbfsDevice::OnClientConnectedThunk(UMockdevIoctlBase*, UMockdevIoctlClient* client,
                                         gpointer self)
{
    auto* d = static_cast<UsbfsDevice*>(self);
    std::lock_guard<std::mutex> lock(d->mu_);
    // A client that went away (closed the node, or died) leaves its URBs behind; they must
    // never be handed to the next one.
    d->PruneClientsLocked();
    g_object_ref(client);
    d->clients_.push_back(client);
}

void UsbfsDevice::PruneClientsLocked()
{
    for (auto it = clients_.begin(); it != clients_.end();) {
        UMockdevIoctlClient* c = *it;
        // This umockdev clears "connected" when the client's socket closes, without a
        // notification or "client-vanished", so it is polled here.
        if (umockdev_ioctl_client_get_connected(c)) {
            ++it;
            continue;
        }
        ForgetClientLocked(c);
        it = clients_.erase(it);
    }
    if (clients_.empty())
        inHalted_ = outHalted_ = false;
    UpdateGateLocked();
}

void UsbfsDevice::PruneClientLocked(UMockdevIoctlClient* c)
{
    auto it = std::find(clients_.begin(), clients_.end(), c);
    if (it == clients_.end()) {
        if (claimOwner_ == c)
            claimOwner_ = nullptr;
        return;
    }
    ForgetClientLocked(c);
    clients_.erase(it);
    if (clients_.empty())
        inHalted_ = outHalted_ = false;
    UpdateGateLocked();
}

int UsbfsDevice::NodeOpeners() const
{
    struct stat node {};
    if (syscall(SYS_fstat, gateFd_, &node) != 0)
        return -1;
    int n = 0;
    std::error_code ec;
    for (const auto& proc : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string pid = proc.path().filename().string();
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::error_code fdEc;
        for (const auto& fd : std::filesystem::directory_iterator(proc.path() / "fd", fdEc)) {
            struct stat st {};
            if (syscall(SYS_newfstatat, AT_FDCWD, fd.path().c_str(), &st, 0) != 0)
                continue;
            if (st.st_dev == node.st_dev && st.st_ino == node.st_ino)
                ++n;
        }
    }
    return n - 1;  // our own gate
}

void UsbfsDevice::ForgetClientLocked(UMockdevIoctlClient* c)
{
    for (auto* q : {&pendingIn_, &completed_}) {
        for (auto u = q->begin(); u != q->end();) {
            if (u->owner == c) {
                ReleaseUrb(*u);
                u = q->erase(u);
            } else {
                ++u;
            }
        }
    }
    if (claimOwner_ == c)
        claimOwner_ = nullptr;  // the kernel releases on close
    if (reaper_ == c) {
        g_object_unref(reaperSlot_);
        g_object_unref(reaper_);
        reaperSlot_ = nullptr;
        reaper_ = nullptr;
    }
    g_object_unref(c);
}

bool UsbfsDevice::ClaimLocked(UMockdevIoctlClient* client)
{
    if (claimOwner_ == client)
        return true;
    // An owner that closed the node no longer holds the interface.
    if (claimOwner_)
        PruneClientsLocked();
    // This umockdev sometimes misses that a killed client's socket closed (the client then
    // stays "connected" for good). The kernel would have released its claim, so an owner
    // is taken for gone when no process but the claimant has the node open any more.
    if (claimOwner_) {
        const int openers = NodeOpeners();
        if (openers >= 0 && openers <= 1)
            PruneClientLocked(claimOwner_);
    }
    if (claimOwner_)
        return false;
    claimOwner_ = client;
    return true;
}

// ---------------------------------------------------------------- ioctls

gboolean UsbfsDevice::OnIoctlThunk(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self)
{
    return static_cast<UsbfsDevice*>(self)->OnIoctl(client);
}

gboolean UsbfsDevice::OnIoctl(UMockdevIoctlClient* client)
{
    const unsigned long req = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    std::lock_guard<std::mutex> lock(mu_);
    ++counters_.ioctls;

    switch (req) {
    case USBDEVFS_SUBMITURB: SubmitLocked(client, arg); return TRUE;
    case USBDEVFS_REAPURBNDELAY: ReapLocked(client, arg, false); return TRUE;
    case USBDEVFS_REAPURB: ReapLocked(client, arg, true); return TRUE;
    case USBDEVFS_DISCARDURB: DiscardLocked(client, arg); return TRUE;
    default: break;
    }

    if (unplugged_) {
        Complete(client, -1, ENODEV);
        return TRUE;
    }

    switch (req) {
    case USBDEVFS_GET_CAPABILITIES: {
        const uint32_t caps = kCaps;
        if (!WriteArgument(arg, caps))
            return Complete(client, -1, EFAULT), TRUE;
        Complete(client, 0, 0);
        return TRUE;
    }
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_RELEASEINTERFACE: {
        unsigned int ifno = 0;
        if (!ReadArgument(arg, &ifno))
            return Complete(client, -1, EFAULT), TRUE;
        if (ifno >= static_cast<unsigned>(kInterfaceCount)) {
            Complete(client, -1, ENOENT);
        } else if (req == USBDEVFS_CLAIMINTERFACE) {
            if (ClaimLocked(client)) {
                Complete(client, 0, 0);
            } else {
                Complete(client, -1, EBUSY);
            }
        } else if (claimOwner_ == client) {
            claimOwner_ = nullptr;
            Complete(client, 0, 0);
        } else {
            Complete(client, -1, EINVAL);  // not claimed by this client
        }
        return TRUE;
    }
    case USBDEVFS_DISCONNECT_CLAIM:
        if (ClaimLocked(client)) {
            Complete(client, 0, 0);
        } else {
            Complete(client, -1, EBUSY);
        }
        return TRUE;
    case USBDEVFS_GETDRIVER:
        Complete(client, -1, ENODATA);  // no kernel driver is bound
        return TRUE;
    case USBDEVFS_IOCTL: {
        struct usbdevfs_ioctl io {};
        if (!ReadArgument(arg, &io))
            return Complete(client, -1, EFAULT), TRUE;
        if (io.ioctl_code == static_cast<int>(USBDEVFS_DISCONNECT)) {
            Complete(client, -1, ENODATA);
        } else if (io.ioctl_code == static_cast<int>(USBDEVFS_CONNECT)) {
            Complete(client, 0, 0);
        } else {
            Complete(client, -1, ENOTTY);
        }
        return TRUE;
    }
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESETEP: {
        unsigned int ep = 0;
        if (!ReadArgument(arg, &ep))
            return Complete(client, -1, EFAULT), TRUE;
        if (req == USBDEVFS_CLEAR_HALT)
            ++counters_.clearHalts;
        if ((ep & 0x7F) == 0) {
            Complete(client, 0, 0);
        } else if (ep == kMeterInEndpoint) {
            inHalted_ = false;
            Complete(client, 0, 0);
        } else if (ep == kMeterOutEndpoint) {
            outHalted_ = false;
            Complete(client, 0, 0);
        } else {
            Complete(client, -1, ENOENT);
        }
        return TRUE;
    }
    case USBDEVFS_RESET:
        // A bus reset flushes the endpoint buffers and clears halts; the firmware keeps going.
        ++counters_.resets;
        inHalted_ = outHalted_ = false;
        inQueue_.clear();
        inQueueBytes_ = 0;
        inFrontOffset_ = 0;
        Complete(client, 0, 0);
        return TRUE;
    case USBDEVFS_SETINTERFACE:
    case USBDEVFS_SETCONFIGURATION: Complete(client, 0, 0); return TRUE;
    case USBDEVFS_CONNECTINFO: {
        struct usbdevfs_connectinfo ci {};
        ci.devnum = static_cast<unsigned>(devnum_);
        ci.slow = 0;
        if (!WriteArgument(arg, ci))
            return Complete(client, -1, EFAULT), TRUE;
        Complete(client, 0, 0);
        return TRUE;
    }
    case USBDEVFS_GET_SPEED: Complete(client, USB_SPEED_HIGH, 0); return TRUE;
    case USBDEVFS_CONTROL: ControlIoctlLocked(client, arg); return TRUE;
    default: Complete(client, -1, ENOTTY); return TRUE;
    }
}

void UsbfsDevice::SubmitLocked(UMockdevIoctlClient* client, UMockdevIoctlData* arg)
{
    if (unplugged_)
        return Complete(client, -1, ENODEV);
    Urb u;
    u.owner = client;
    u.addr = ArgValue(arg);
    u.urb = Resolve(arg, 0, sizeof(struct usbdevfs_urb));
    if (!u.urb)
        return Complete(client, -1, EFAULT);
    auto* k = reinterpret_cast<struct usbdevfs_urb*>(u.urb->data);
    u.type = k->type;
    u.endpoint = k->endpoint;
    u.length = k->buffer_length;
    if (u.length < 0 || (u.type != USBDEVFS_URB_TYPE_BULK && u.type != USBDEVFS_URB_TYPE_CONTROL)) {
        ReleaseUrb(u);
        return Complete(client, -1, EINVAL);
    }
    // An IN buffer is fetched from the client only when the URB is reaped, and then only as
    // far as data arrived: a 4 KiB idle read then costs no copy at all.
    const bool bulkIn = u.type == USBDEVFS_URB_TYPE_BULK && (u.endpoint & 0x80);
    if (u.length > 0 && !bulkIn) {
        u.buffer =
            Resolve(u.urb, offsetof(struct usbdevfs_urb, buffer), static_cast<size_t>(u.length));
        if (!u.buffer) {
            ReleaseUrb(u);
            return Complete(client, -1, EFAULT);
        }
    }

    // As usbfs does: a bulk transfer claims the interface implicitly, and fails while
    // another client holds it.
    if (u.type == USBDEVFS_URB_TYPE_BULK && !ClaimLocked(client)) {
        ReleaseUrb(u);
        return Complete(client, -1, EBUSY);
    }

    if (u.type == USBDEVFS_URB_TYPE_CONTROL) {
        ++counters_.controlSubmitted;
        if (u.length < 8) {
            ReleaseUrb(u);
            return Complete(client, -1, EINVAL);
        }
        const uint8_t* setup = u.buffer->data;
        auto r = StandardControl(desc_, setup);
        if (!r) {
            u.status = -EPIPE;
        } else {
            u.dataOffset = 8;
            u.data = std::move(*r);
            if (u.data.size() > static_cast<size_t>(u.length - 8))
                u.data.resize(u.length - 8);
            u.actual =
                (setup[0] & 0x80) ? static_cast<int>(u.data.size()) : wire::GetU16(setup + 6);
        }
        completed_.push_back(std::move(u));
    } else if ((u.endpoint & 0x80) == 0) {
        ++counters_.outSubmitted;
        if (u.endpoint != kMeterOutEndpoint) {
            ReleaseUrb(u);
            return Complete(client, -1, ENOENT);
        }
        if (outHalted_) {
            u.status = -EPIPE;
        } else {
            if (u.length > 0)
                model_->HostWrite(u.buffer->data, static_cast<size_t>(u.length));
            counters_.bytesOut += static_cast<uint64_t>(u.length);
            u.actual = u.length;
            // Immediate replies go out at once; later ones are the pump's business.
            PumpLocked();
            kicked_ = true;
            cv_.notify_all();
        }
        completed_.push_back(std::move(u));
    } else {
        ++counters_.inSubmitted;
        if (u.endpoint != kMeterInEndpoint) {
            ReleaseUrb(u);
            return Complete(client, -1, ENOENT);
        }
        if (model_->ConsumeStallIn())
            inHalted_ = true;
        if (inHalted_) {
            ++counters_.inStalled;
            u.status = -EPIPE;
            completed_.push_back(std::move(u));
        } else {
            pendingIn_.push_back(std::move(u));
            FillInLocked();
        }
    }
    Complete(client, 0, 0);
    CompleteReaperLocked();
    UpdateGateLocked();
}

void UsbfsDevice::ReapLocked(UMockdevIoctlClient* client, UMockdevIoctlData* arg, bool block)
{
    UMockdevIoctlData* slot = Resolve(arg, 0, sizeof(void*));
    if (!slot)
        return Complete(client, -1, EFAULT);
    auto own = std::find_if(completed_.begin(), completed_.end(),
                            [client](const Urb& u) { return u.owner == client; });
    if (own != completed_.end()) {
        Urb u = std::move(*own);
        completed_.erase(own);
        ApplyCompletion(u);
        umockdev_ioctl_data_set_ptr(slot, 0, u.urb);
        Complete(client, 0, 0);
        ReleaseUrb(u);
    } else if (unplugged_) {
        Complete(client, -1, ENODEV);
    } else if (!block) {
        Complete(client, -1, EAGAIN);
    } else if (!reaper_) {
        g_object_ref(client);
        reaper_ = client;
        reaperSlot_ = slot;
        slot = nullptr;  // kept for the completion
    } else {
        Complete(client, -1, EBUSY);
    }
    if (slot)
        g_object_unref(slot);
    UpdateGateLocked();
}

bool UsbfsDevice::CompleteReaperLocked()
{
    if (!reaper_)
        return false;
    UMockdevIoctlClient* c = reaper_;
    auto own = std::find_if(completed_.begin(), completed_.end(),
                            [c](const Urb& u) { return u.owner == c; });
    if (own == completed_.end() && !unplugged_)
        return false;
    UMockdevIoctlData* slot = reaperSlot_;
    reaper_ = nullptr;
    reaperSlot_ = nullptr;
    if (own != completed_.end()) {
        Urb u = std::move(*own);
        completed_.erase(own);
        ApplyCompletion(u);
        umockdev_ioctl_data_set_ptr(slot, 0, u.urb);
        Complete(c, 0, 0);
        ReleaseUrb(u);
    } else {
        Complete(c, -1, ENODEV);
    }
    g_object_unref(slot);
    g_object_unref(c);
    return true;
}

void UsbfsDevice::DiscardLocked(UMockdevIoctlClient* client, UMockdevIoctlData* arg)
{
    const unsigned long addr = ArgValue(arg);
    for (auto it = pendingIn_.begin(); it != pendingIn_.end(); ++it) {
        if (it->addr != addr || it->owner != client)
            continue;
        Urb u = std::move(*it);
        pendingIn_.erase(it);
        u.status = -ENOENT;
        ++counters_.inDiscarded;
        completed_.push_back(std::move(u));
        Complete(client, 0, 0);
        CompleteReaperLocked();
        UpdateGateLocked();
        return;
    }
    // Already completed (or never submitted): the kernel answers EINVAL.
    Complete(client, -1, EINVAL);
}

void UsbfsDevice::ControlIoctlLocked(UMockdevIoctlClient* client, UMockdevIoctlData* arg)
{
    UMockdevIoctlData* d = Resolve(arg, 0, sizeof(struct usbdevfs_ctrltransfer));
    if (!d)
        return Complete(client, -1, EFAULT);
    struct usbdevfs_ctrltransfer ct {};
    std::memcpy(&ct, d->data, sizeof ct);
    uint8_t setup[8] = {ct.bRequestType,
                        ct.bRequest,
                        static_cast<uint8_t>(ct.wValue & 0xFF),
                        static_cast<uint8_t>(ct.wValue >> 8),
                        static_cast<uint8_t>(ct.wIndex & 0xFF),
                        static_cast<uint8_t>(ct.wIndex >> 8),
                        static_cast<uint8_t>(ct.wLength & 0xFF),
                        static_cast<uint8_t>(ct.wLength >> 8)};
    ++counters_.controlSubmitted;
    auto r = StandardControl(desc_, setup);
    if (!r) {
        g_object_unref(d);
        return Complete(client, -1, EPIPE);
    }
    long n = 0;
    if ((ct.bRequestType & 0x80) && !r->empty() && ct.wLength > 0) {
        UMockdevIoctlData* buf =
            Resolve(d, offsetof(struct usbdevfs_ctrltransfer, data), ct.wLength);
        if (buf) {
            std::memcpy(buf->data, r->data(), std::min<size_t>(r->size(), ct.wLength));
            g_object_unref(buf);
        }
        n = static_cast<long>(std::min<size_t>(r->size(), ct.wLength));
    } else if (!(ct.bRequestType & 0x80)) {
        n = ct.wLength;
    }
    g_object_unref(d);
    Complete(client, n, 0);
}

// ---------------------------------------------------------------- data path

void UsbfsDevice::PumpLocked()
{
    if (unplugged_)
        return;
    std::vector<OutChunk> out = model_->TakeOutput();
    for (auto& c : out) {
        inQueueBytes_ += c.bytes.size();
        inQueue_.push_back(std::move(c));
    }
    while (inQueueBytes_ > kMaxInQueueBytes && !inQueue_.empty()) {
        inQueueBytes_ -= inQueue_.front().bytes.size() - inFrontOffset_;
        inFrontOffset_ = 0;
        inQueue_.pop_front();
    }
    FillInLocked();
}

void UsbfsDevice::FillInLocked()
{
    while (!pendingIn_.empty() && !inQueue_.empty()) {
        UMockdevIoctlClient* owner = pendingIn_.front().owner;
        if (!umockdev_ioctl_client_get_connected(owner)) {
            // Never pour data into the read of a host that is gone.
            PruneClientsLocked();
            if (!pendingIn_.empty() && pendingIn_.front().owner == owner) {
                ReleaseUrb(pendingIn_.front());
                pendingIn_.pop_front();
            }
            continue;
        }
        Urb u = std::move(pendingIn_.front());
        pendingIn_.pop_front();
        const size_t cap = static_cast<size_t>(u.length);
        u.data.clear();
        while (!inQueue_.empty() && u.data.size() < cap) {
            OutChunk& c = inQueue_.front();
            const size_t left = c.bytes.size() - inFrontOffset_;
            const size_t take = std::min(left, cap - u.data.size());
            u.data.insert(u.data.end(),
                          c.bytes.begin() + static_cast<std::ptrdiff_t>(inFrontOffset_),
                          c.bytes.begin() + static_cast<std::ptrdiff_t>(inFrontOffset_ + take));
            inFrontOffset_ += take;
            inQueueBytes_ -= take;
            if (inFrontOffset_ < c.bytes.size())
                break;  // URB full
            const bool ends = c.endsTransfer;
            inQueue_.pop_front();
            inFrontOffset_ = 0;
            if (ends)
                break;
        }
        u.status = 0;
        u.actual = static_cast<int>(u.data.size());
        counters_.bytesIn += u.data.size();
        ++counters_.inCompleted;
        completed_.push_back(std::move(u));
    }
    CompleteReaperLocked();
    UpdateGateLocked();
}

void UsbfsDevice::UpdateGateLocked()
{
    const bool want = !completed_.empty();
    if (want == gateOpen_)
        return;
    uint8_t b = 0;
    if (want) {
        rawio::Read(gateFd_, &b, 1);
    } else {
        rawio::Write(gateFd_, &b, 1);
    }
    gateOpen_ = want;
}

void UsbfsDevice::ApplyCompletion(Urb& u)
{
    auto* k = reinterpret_cast<struct usbdevfs_urb*>(u.urb->data);
    k->status = u.status;
    k->actual_length = u.actual;
    if (u.data.empty())
        return;
    if (!u.buffer) {
        u.buffer =
            Resolve(u.urb, offsetof(struct usbdevfs_urb, buffer), u.dataOffset + u.data.size());
    }
    if (u.buffer) {
        std::memcpy(u.buffer->data + u.dataOffset, u.data.data(), u.data.size());
    } else {
        k->status = -EFAULT;
        k->actual_length = 0;
    }
}

void UsbfsDevice::ReleaseUrb(Urb& u)
{
    if (u.buffer)
        g_object_unref(u.buffer);
    if (u.urb)
        g_object_unref(u.urb);
    u.buffer = nullptr;
    u.urb = nullptr;
}

void UsbfsDevice::PumpLoop()
{
    std::unique_lock<std::mutex> lock(mu_);
    while (!stop_) {
        PumpLocked();
        kicked_ = false;
        auto due = model_->NextDue();
        if (due) {
            // Like a head that empties its buffer once per USB frame, fast streams go out in
            // batches instead of one wake-up (and one transfer) per sample.
            *due = std::max(*due, std::chrono::steady_clock::now() + kBatchInterval);
            cv_.wait_until(lock, *due, [this] { return stop_ || kicked_; });
        } else {
            cv_.wait(lock, [this] { return stop_ || kicked_; });
        }
    }
}

}  // namespace simmeter
