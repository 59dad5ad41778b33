#include "simmeter/testing.h"

#include <cstring>
#include <thread>

#include <libusb.h>

#include "simmeter/preload.h"

namespace simmeter {
namespace testing {

int RunAllTests(int argc, char** argv)
{
    bool listing = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--gtest_list_tests") == 0)
            listing = true;
    }
    if (!listing) {
        EnsureUnderPreload(argv);
        TightenTimerSlack();
        VirtualBus::Instance();
    }
    ::testing::InitGoogleTest(&argc, argv);
    const int rc = RUN_ALL_TESTS();
    if (!listing)
        VirtualBus::Instance().UnplugAll();
    return rc;
}

bool WaitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (pred())
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return pred();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

std::shared_ptr<SimMeter> SimMeterTest::Plug(const std::string& port, MeterConfig cfg)
{
    auto m = Bus().Plug(port, std::move(cfg));
    plugged_.push_back(m);
    return m;
}

void SimMeterTest::TearDown()
{
    for (auto it = plugged_.rbegin(); it != plugged_.rend(); ++it)
        Bus().Unplug(*it);
    plugged_.clear();
}

OtherProgram::OtherProgram(const SimMeter& meter)
{
    EXPECT_EQ(libusb_init(&ctx_), 0);
    libusb_device** list = nullptr;
    const ssize_t n = libusb_get_device_list(ctx_, &list);
    for (ssize_t i = 0; i < n; ++i)
        if (libusb_get_device_address(list[i]) == meter.DeviceNumber())
            libusb_open(list[i], &handle_);
    if (n >= 0)
        libusb_free_device_list(list, 1);
    if (handle_)
        claimed_ = libusb_claim_interface(handle_, 0) == 0;
}

void OtherProgram::Quit()
{
    if (handle_) {
        libusb_release_interface(handle_, 0);
        libusb_close(handle_);
        handle_ = nullptr;
    }
    if (ctx_)
        libusb_exit(ctx_);
    ctx_ = nullptr;
}

}  // namespace testing
}  // namespace simmeter
