// Simulated meters on a virtual USB bus under the real libusb.
//
// The bus is a umockdev testbed: a fake sysfs and /dev that libusb's Linux backend finds
// through udev, plus a usbfs ioctl emulation on each meter's device node. A program sees the
// meters only if it runs under LD_PRELOAD=libumockdev-preload.so.0, and a libusb context
// sees only the testbed that existed when it was initialised, so there is ONE bus per
// process, created before anything calls libusb_init, with meters plugged and unplugged at
// run time. The process that creates the bus must itself run under the preload (the
// launcher and the test fixture arrange that by re-executing themselves).
//
// Threads: every member of VirtualBus and SimMeter may be called from any thread. Each
// plugged meter has one pump thread that moves its due output onto the IN endpoint; the
// ioctl emulation runs on the testbed's worker thread. Nothing busy-polls: an idle open
// meter costs only the host's own transfer cadence.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "simmeter/meter_model.h"
#include "simmeter/usb_layout.h"

namespace simmeter {

struct MeterConfig {
    int index = -1;                          // meter number for names and serials; -1: plug order
    std::optional<MeterIdentity> identity;   // default: DefaultIdentity(index)
    std::optional<Calibration> calibration;  // default: DefaultCalibration()
    SignalConfig signal;
    FaultConfig faults;
    int saveDelayMs = 300;  // how long 0x100E takes
    bool highSpeed = true;  // 480 Mbit/s, else 12
};

class UsbfsDevice;  // the emulated device node (internal)

// Counters of the USB traffic of one plugged presence, for tests and benchmarks.
struct UsbCounters {
    uint64_t inSubmitted = 0, inCompleted = 0, inDiscarded = 0, inStalled = 0;
    uint64_t outSubmitted = 0, bytesIn = 0, bytesOut = 0, controlSubmitted = 0;
    uint64_t ioctls = 0, clearHalts = 0, resets = 0;
};

// One meter: the model plus its USB presence. Handles stay valid after Unplug (the model
// keeps its state; Replug presents it again).
class SimMeter {
public:
    ~SimMeter();
    SimMeter(const SimMeter&) = delete;
    SimMeter& operator=(const SimMeter&) = delete;

    MeterModel& Model() { return *model_; }
    const MeterModel& Model() const { return *model_; }

    // Every request frame the host wrote, in order, time-stamped.
    std::vector<ReceivedFrame> Received() const { return model_->Received(); }
    void ClearReceived() { model_->ClearReceived(); }
    void SetFaults(const FaultConfig& f);
    FaultConfig Faults() const { return model_->Faults(); }
    void SetSignal(const SignalConfig& s);
    SignalConfig Signal() const { return model_->Signal(); }
    bool IsStreaming() const { return model_->IsStreaming(); }

    const PortChain& Port() const { return port_; }
    std::string PortName() const { return port_.Name(); }
    // libusb's port numbers for this meter, e.g. {1, 2} for "1-1.2".
    std::vector<uint8_t> PortNumbers() const;
    bool IsPlugged() const;
    int BusNumber() const { return port_.bus; }
    int DeviceNumber() const;     // of the current (or last) presence
    std::string DevNode() const;  // "/dev/bus/usb/001/005"
    // True while some process has the device node open.
    bool IsOpenByHost() const;
    UsbCounters Counters() const;

private:
    friend class VirtualBus;
    SimMeter(PortChain port, std::shared_ptr<MeterModel> model, MeterConfig cfg);
    void Kick();  // new model input: recompute when output is due

    const PortChain port_;
    const std::shared_ptr<MeterModel> model_;
    const MeterConfig cfg_;
    mutable std::mutex mu_;             // guards usb_, devnum_
    std::shared_ptr<UsbfsDevice> usb_;  // null while unplugged
    int devnum_ = 0;
};

class VirtualBus {
public:
    // The process-wide bus; creates the testbed on first use. Throws std::runtime_error when
    // the process does not run under the umockdev preload.
    static VirtualBus& Instance();
    // True when this process runs under the umockdev preload.
    static bool UnderPreload();

    // Plugs a meter at the given port chain ("1-3", "1-1.2", "1-1.2.3.4.5"), creating the hubs
    // on the way; returns its handle. Throws std::invalid_argument for a malformed chain or a
    // port that is taken (by a meter or a hub).
    std::shared_ptr<SimMeter> Plug(const std::string& portChain, MeterConfig cfg = {});
    // Removes the meter from the bus, also while it streams: transfers in flight fail as on a
    // real disconnect, later ones report "no device". No-op when not plugged.
    void Unplug(const std::shared_ptr<SimMeter>& m);
    // Plugs an unplugged meter back at its port (new device number); its head is power
    // cycled (streaming stops, unsaved calibration is lost).
    void Replug(const std::shared_ptr<SimMeter>& m);
    void UnplugAll();
    std::vector<std::shared_ptr<SimMeter>> Meters() const;  // plugged ones, in plug order

    // Testbed root; UMOCKDEV_DIR for programs started on this bus.
    std::string RootDir() const;

    ~VirtualBus();

private:
    VirtualBus();
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace simmeter
