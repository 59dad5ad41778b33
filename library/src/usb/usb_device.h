// USB access to the meters. This is the only code of the library that includes libusb.
// It knows nothing of frames: it finds meters by vendor and product id, derives their
// ids from the port path, opens and configures one, and moves bytes over its bulk
// endpoints. Diagnostics go to Qt's debug message stream, not to the library log.
//
// Threads: EnumerateDevices and OpenById run on the callers of scanDev and openDev;
// Write, Read and WriteRead only on the meter's own device thread; Close only after that
// thread has ended. The USB context start and shut-down are serialised internally.
#pragma once

#include <cstdint>

struct libusb_device;
struct libusb_device_handle;

namespace tessivar {

// Vendor and product id that enumeration and opening match (scanDev sets the meter's).
void SetMatchIds(int vendorId, int productId);

// Writes the ids of up to `max` matching meters, in device-list order; returns how many.
int EnumerateDevices(int* ids, int max);

// Device id of a USB device from its port path (rules in usb/port_id.h).
int PortId(libusb_device* device);

// Exits the USB context if it was started; the next enumeration or open starts it again.
void ShutdownUsb();

// Time-out of one bulk OUT transfer. Our largest frame (a whole spectral table, about
// 4.2 KB) needs under 70 ms even at full speed; a meter that does not take data for a
// whole second has stopped, and a bounded write lets the device loop, and so every
// close, finish.
constexpr unsigned kWriteTimeoutMs = 1000;

// What a transfer on a handle returns once its device has left the bus (libusb's
// no-device error). Final: every later transfer on that handle fails the same way.
constexpr int kUsbNoDevice = -4;

class UsbDevice {
public:
    explicit UsbDevice(int id);
    ~UsbDevice();
    UsbDevice(const UsbDevice&) = delete;
    UsbDevice& operator=(const UsbDevice&) = delete;

    int Id() const { return id_; }
    bool IsOpen() const { return handle_ != nullptr; }
    uint8_t InEndpoint() const { return inEndpoint_; }
    uint8_t OutEndpoint() const { return outEndpoint_; }

    // Opens and configures the meter with this id (closing a previous handle first).
    // False when no attached meter has the id, the open fails, or another program holds
    // the meter's interface (claim refused as busy); other claim failures are only logged.
    bool OpenById();
    // Bytes sent, or -1 (closed handle, len <= 0).
    int Write(const uint8_t* data, int len);
    // Bytes received (0 on time-out with nothing), -9 after a stall (already cleared),
    // kUsbNoDevice once the meter has left the bus, or another negative libusb error.
    int Read(uint8_t* buffer, int capacity, int timeoutMs);
    // Write (errors only reported) then Read.
    int WriteRead(const uint8_t* data, int len, uint8_t* buffer, int capacity, int timeoutMs);
    void Close();

private:
    // Claims the interfaces and finds the bulk endpoints. False only when a claim is
    // refused because another program holds the interface (nothing stays claimed then).
    bool Configure(libusb_device* device);
    int BulkWrite(const uint8_t* data, int len);

    libusb_device_handle* handle_ = nullptr;
    uint8_t inEndpoint_ = 0;
    uint8_t outEndpoint_ = 0;
    const int id_;
};

}  // namespace tessivar
