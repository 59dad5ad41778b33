#include "usb/usb_device.h"

#include "usb/port_id.h"

#include <QDebug>
#include <mutex>

#include <atomic>

#include <libusb.h>

namespace tessivar {

static_assert(kUsbNoDevice == LIBUSB_ERROR_NO_DEVICE, "the device loop keys on this code");

namespace {

std::mutex g_usbInitMutex;
bool g_usbInited = false;  // guarded by g_usbInitMutex
std::atomic<int> g_matchVendorId{0};
std::atomic<int> g_matchProductId{0};

bool StartUsb()
{
    std::lock_guard<std::mutex> lock(g_usbInitMutex);
    if (!g_usbInited) {
        const int r = libusb_init(nullptr);
        if (r != 0) {
            qDebug().noquote() << QString::fromUtf8("libusb_init 失败: ") << libusb_error_name(r);
        } else {
            g_usbInited = true;
        }
    }
    return g_usbInited;
}

bool Matches(const libusb_device_descriptor& d)
{
    return d.idVendor == g_matchVendorId.load() && d.idProduct == g_matchProductId.load();
}

}  // namespace

void SetMatchIds(int vendorId, int productId)
{
    g_matchVendorId.store(vendorId);
    g_matchProductId.store(productId);
}

void ShutdownUsb()
{
    std::lock_guard<std::mutex> lock(g_usbInitMutex);
    if (g_usbInited)
        libusb_exit(nullptr);
    g_usbInited = false;
}

int PortId(libusb_device* device)
{
    uint8_t ports[kMaxPortNumbers] = {};
    const int n = libusb_get_port_numbers(device, ports, sizeof ports);
    return PortIdFromPorts(ports, n);
}

int EnumerateDevices(int* ids, int max)
{
    StartUsb();
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(nullptr, &list);
    if (count < 0) {
        qDebug().noquote() << QString::fromUtf8("libusb_get_device_list 失败");
        return 0;
    }
    int found = 0;
    for (ssize_t i = 0; i < count && found < max; ++i) {
        libusb_device_descriptor desc{};
        if (libusb_get_device_descriptor(list[i], &desc) != 0) {
            qDebug().noquote() << "failed to get device descriptor";
            continue;
        }
        if (Matches(desc))
            ids[found++] = PortId(list[i]);
    }
    libusb_free_device_list(list, 1);
    return found;
}

UsbDevice::UsbDevice(int id) : id_(id) {}

UsbDevice::~UsbDevice() { Close(); }

bool UsbDevice::OpenById()
{
    StartUsb();
    Close();
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(nullptr, &list);
    if (count < 0) {
        qDebug().noquote() << QString::fromUtf8("libusb_get_device_list 失败");
        return false;
    }
    bool matched = false;
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor desc{};
        const int r = libusb_get_device_descriptor(list[i], &desc);
        if (r != 0) {
            qDebug().noquote() << QString::fromUtf8("get_device_descriptor 失败:")
                               << libusb_error_name(r);
            continue;
        }
        if (!Matches(desc) || PortId(list[i]) != id_)
            continue;
        matched = true;
        if (libusb_open(list[i], &handle_) != 0) {
            handle_ = nullptr;
            continue;
        }
        if (!Configure(list[i])) {
            // Another program holds the interface: going on would reset a meter that program
            // is using and then fail as "not answering".
            libusb_close(handle_);
            handle_ = nullptr;
            continue;
        }
        libusb_clear_halt(handle_, outEndpoint_);
        libusb_clear_halt(handle_, inEndpoint_);
        libusb_reset_device(handle_);
        libusb_free_device_list(list, 1);
        return true;
    }
    if (!matched)
        qDebug().noquote() << QString::fromUtf8("设备列表中未找到设备 %1").arg(id_);
    libusb_free_device_list(list, 1);
    return false;
}

bool UsbDevice::Configure(libusb_device* device)
{
    libusb_config_descriptor* config = nullptr;
    int r = libusb_get_config_descriptor(device, 0, &config);
    if (r != 0) {
        qDebug().noquote() << QString::fromUtf8("获取config_descriptor失败,")
                           << libusb_error_name(r);
        return true;
    }
    if (config->bNumInterfaces < 1) {
        qDebug().noquote() << QString::fromUtf8("error: usb接口数量 < 1");
        libusb_free_config_descriptor(config);
        return true;
    }
    for (int i = 0; i < config->bNumInterfaces; ++i) {
        if (libusb_kernel_driver_active(handle_, i) != 0)
            libusb_detach_kernel_driver(handle_, i);
        r = libusb_claim_interface(handle_, i);
        if (r == LIBUSB_ERROR_BUSY) {
            qDebug().noquote() << "Error claiming interface:" << libusb_error_name(r)
                               << "(the meter is in use by another program)";
            for (int claimed = 0; claimed < i; ++claimed)
                libusb_release_interface(handle_, claimed);
            libusb_free_config_descriptor(config);
            return false;
        }
        if (r != 0)
            qDebug().noquote() << "Error claiming interface:" << libusb_error_name(r);
    }
    libusb_free_config_descriptor(config);

    r = libusb_get_config_descriptor(device, 0, &config);
    if (r != 0) {
        qDebug().noquote() << QString::fromUtf8("获取config_descriptor失败,")
                           << libusb_error_name(r);
        return true;
    }
    for (int i = 0; i < config->bNumInterfaces; ++i) {
        const libusb_interface& itf = config->interface[i];
        if (itf.num_altsetting < 1) {
            qDebug().noquote() << QString::fromUtf8("error: usb接口配置数量 < 1");
            continue;
        }
        const libusb_interface_descriptor& alt = itf.altsetting[0];
        for (int e = 0; e < alt.bNumEndpoints; ++e) {
            const libusb_endpoint_descriptor& ep = alt.endpoint[e];
            if ((ep.bmAttributes & 3) != LIBUSB_TRANSFER_TYPE_BULK)
                continue;
            if (ep.bEndpointAddress & LIBUSB_ENDPOINT_IN) {
                inEndpoint_ = ep.bEndpointAddress;
            } else {
                outEndpoint_ = ep.bEndpointAddress;
            }
        }
    }
    libusb_free_config_descriptor(config);
    return true;
}

int UsbDevice::BulkWrite(const uint8_t* data, int len)
{
    int transferred = 0;
    const int r = libusb_bulk_transfer(handle_, outEndpoint_, const_cast<uint8_t*>(data), len,
                                       &transferred, kWriteTimeoutMs);
    if (r != 0)
        qDebug().noquote() << "Error while sending data";
    return transferred;
}

int UsbDevice::Write(const uint8_t* data, int len)
{
    if (!handle_ || len <= 0)
        return -1;
    return BulkWrite(data, len);
}

int UsbDevice::Read(uint8_t* buffer, int capacity, int timeoutMs)
{
    if (!handle_)
        return -1;
    int transferred = 0;
    const int r = libusb_bulk_transfer(handle_, inEndpoint_, buffer, capacity, &transferred,
                                       static_cast<unsigned>(timeoutMs));
    if (r == 0 || r == LIBUSB_ERROR_TIMEOUT)
        return transferred;
    if (r == LIBUSB_ERROR_PIPE) {
        qDebug().noquote() << "libusb error state : error pipe";
        libusb_clear_halt(handle_, inEndpoint_);
        return LIBUSB_ERROR_PIPE;
    }
    qDebug().noquote() << "Error while waiting for data," << r << libusb_error_name(r);
    return r;
}

int UsbDevice::WriteRead(const uint8_t* data, int len, uint8_t* buffer, int capacity, int timeoutMs)
{
    if (!handle_)
        return -1;
    if (len > 0)
        BulkWrite(data, len);
    return Read(buffer, capacity, timeoutMs);
}

void UsbDevice::Close()
{
    if (handle_) {
        libusb_close(handle_);
        handle_ = nullptr;
    }
}

}  // namespace tessivar
