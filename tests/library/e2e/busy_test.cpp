// A meter that another program holds: its interface claim is refused as busy, and openDev
// fails with -4 instead of resetting the meter under that program.
#include "meter_fixture.h"

#include <libusb.h>

namespace e2e {
namespace {

// The interface held through a libusb context of its own, as another program would.
class OtherProgram {
public:
    explicit OtherProgram(const Meter& meter)
    {
        EXPECT_EQ(libusb_init(&ctx_), 0);
        libusb_device** list = nullptr;
        const ssize_t n = libusb_get_device_list(ctx_, &list);
        for (ssize_t i = 0; i < n; ++i) {
            if (libusb_get_device_address(list[i]) == meter->DeviceNumber())
                libusb_open(list[i], &handle_);
        }
        if (n >= 0)
            libusb_free_device_list(list, 1);
        if (handle_)
            claimed_ = libusb_claim_interface(handle_, 0) == 0;
    }
    ~OtherProgram() { Quit(); }
    bool Holds() const { return claimed_; }
    void Quit()
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

private:
    libusb_context* ctx_ = nullptr;
    libusb_device_handle* handle_ = nullptr;
    bool claimed_ = false;
};

TEST_F(MeterTest, OpeningAMeterThatAnotherProgramHoldsFailsWithoutTouchingIt)
{
    Meter m = Plug("1-3");
    ASSERT_EQ(Scan(), 1);
    OtherProgram other(m);
    ASSERT_TRUE(other.Holds());
    m->ClearReceived();
    const uint64_t resetsBefore = m->Counters().resets;

    CapturedMessages messages;
    const int rc = openDev(kId13);
    const QStringList lines = messages.Lines();

    EXPECT_EQ(rc, TESSIVAR_ERR_ARGUMENT);
    EXPECT_EQ(isDevOpen(kId13), 0);
    EXPECT_EQ(m->Counters().resets, resetsBefore) << "the other program's meter was reset";
    EXPECT_TRUE(m->Received().empty()) << "frames reached a meter held by another program";
    EXPECT_TRUE(lines.filter("Error claiming interface: LIBUSB_ERROR_BUSY").size() == 1)
        << lines.join("\n").toStdString();
    EXPECT_EQ(CountLog(QString::fromUtf8("打开设备, 失败")), 1);

    other.Quit();
    ASSERT_EQ(openDev(kId13), 0);
    EXPECT_TRUE(Ready(kId13)) << "free again, the meter opens";
}

}  // namespace
}  // namespace e2e
