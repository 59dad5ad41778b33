// The usbfs emulation of one plugged meter: answers the ioctls libusb issues on the device
// node and moves bytes between the bulk endpoints and the MeterModel.
//
// Readiness without busy polling: libusb waits in poll() for POLLOUT on the node's fd and
// then reaps URBs. The node is a FIFO of one page that the emulation keeps full (no
// POLLOUT) while no URB is reapable and empties (POLLOUT) as soon as one is, so a waiting
// host sleeps in the kernel.
//
// Threads: OnIoctl runs on the testbed's worker thread; the pump thread moves due model
// output to the IN endpoint; Disconnect/Kick/Counters come from any thread. mu_ guards all
// mutable state; lock order: mu_, then the model's own mutex (the model never calls out).
#pragma once

// GLib/umockdev before anything that might define `signals`.
#include <umockdev.h>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "simmeter/meter_model.h"
#include "simmeter/usb_layout.h"
#include "simmeter/virtual_bus.h"

namespace simmeter {

class UsbfsDevice {
public:
    // `devnode` is the node as clients name it ("/dev/bus/usb/001/005"); `nodePath` is where
    // it lives in the testbed. Creates the gate FIFO at nodePath (call before the device is
    // added to the testbed). Throws std::runtime_error on failure.
    UsbfsDevice(UMockdevTestbed* tb, std::string devnode, std::string nodePath, int devnum,
                DescriptorSet desc, std::shared_ptr<MeterModel> model);
    ~UsbfsDevice();
    UsbfsDevice(const UsbfsDevice&) = delete;
    UsbfsDevice& operator=(const UsbfsDevice&) = delete;

    // Attaches the ioctl handler and starts the pump. Throws std::runtime_error on failure.
    void Start();
    // The device left the bus: URBs in flight fail with -ESHUTDOWN, later requests get ENODEV.
    // Stops the pump. Idempotent.
    void Disconnect();
    // New model input or settings: re-evaluate when output is due.
    void Kick();
    // True while some client has the node open (polled; see PruneClientsLocked).
    bool HasClients();
    const std::string& DevNode() const { return devnode_; }
    UsbCounters Counters() const;

    // Largest amount of meter output held for the IN endpoint; beyond it the oldest is lost,
    // as in a head whose buffer overflows while nobody reads.
    static constexpr size_t kMaxInQueueBytes = 256 * 1024;

private:
    struct Urb {
        UMockdevIoctlClient* owner = nullptr;  // the client that submitted it (in clients_)
        UMockdevIoctlData* urb = nullptr;      // resolved struct usbdevfs_urb (one reference held)
        UMockdevIoctlData* buffer = nullptr;   // its resolved buffer (one reference), or null
        unsigned long addr = 0;                // the URB's address in the client
        uint8_t type = 0, endpoint = 0;
        int length = 0;
        // Completion, applied to the client's URB when it is reaped.
        int status = 0;
        int actual = 0;
        size_t dataOffset = 0;  // where `data` goes in the buffer (8 for control: after setup)
        Bytes data;
    };

    static gboolean OnIoctlThunk(UMockdevIoctlBase*, UMockdevIoctlClient*, gpointer self);
    static void OnClientConnectedThunk(UMockdevIoctlBase*, UMockdevIoctlClient*, gpointer self);
    gboolean OnIoctl(UMockdevIoctlClient* client);

    // Helpers below assume mu_ is held.
    void SubmitLocked(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    void ReapLocked(UMockdevIoctlClient* client, UMockdevIoctlData* arg, bool block);
    bool CompleteReaperLocked();
    void DiscardLocked(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    void ControlIoctlLocked(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    void PumpLocked();
    void FillInLocked();
    void UpdateGateLocked();
    // Forgets clients that closed the node, with their URBs and their claim.
    void PruneClientsLocked();
    // Forgets one client as if it had closed the node.
    void PruneClientLocked(UMockdevIoctlClient* c);
    // Releases what `c` holds (URBs, claim, reaper slot) and drops our reference to it; the
    // caller removes it from clients_.
    void ForgetClientLocked(UMockdevIoctlClient* c);
    // File descriptors open on the node in all processes (our own gate not counted), from
    // /proc; -1 if unknown.
    int NodeOpeners() const;
    // Claims the meter's interface for `client`, as the kernel does for CLAIMINTERFACE and
    // implicitly for a bulk URB: false (EBUSY) while another connected client holds it.
    bool ClaimLocked(UMockdevIoctlClient* client);
    // Writes status, length and data into the client's URB (on the worker thread, while the
    // client waits in a reap).
    void ApplyCompletion(Urb& u);
    void ReleaseUrb(Urb& u);
    void PumpLoop();

    UMockdevTestbed* const tb_;
    const std::string devnode_, nodePath_;
    const int devnum_;
    const DescriptorSet desc_;
    const std::shared_ptr<MeterModel> model_;
    UMockdevIoctlBase* handler_ = nullptr;
    int gateFd_ = -1;

    mutable std::mutex mu_;  // guards everything below
    std::condition_variable cv_;
    bool attached_ = false;
    bool stop_ = false;
    bool kicked_ = false;
    bool unplugged_ = false;
    bool gateOpen_ = false;
    bool inHalted_ = false, outHalted_ = false;
    std::deque<Urb> pendingIn_;  // bulk IN URBs waiting for data
    std::deque<Urb> completed_;  // URBs ready to be reaped, in completion order
    std::deque<OutChunk> inQueue_;
    size_t inQueueBytes_ = 0;
    size_t inFrontOffset_ = 0;  // bytes of inQueue_.front() already delivered
    // A client blocked in REAPURB (libusb uses REAPURBNDELAY, this is for completeness).
    UMockdevIoctlClient* reaper_ = nullptr;
    UMockdevIoctlData* reaperSlot_ = nullptr;
    std::vector<UMockdevIoctlClient*> clients_;  // every client seen and not yet pruned (ref held)
    UMockdevIoctlClient* claimOwner_ = nullptr;  // holds interface 0 (one of clients_), or null
    UsbCounters counters_;
    std::thread pump_;
};

}  // namespace simmeter
