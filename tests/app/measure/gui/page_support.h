// A measurement page on its own, fed by hand: a record in the device manager filled with
// chosen samples, and a stand-in main window that owns the status line (label_msg).
#pragma once

#include "gui_fixture.h"

#include "devmanage.h"

#include <QLabel>
#include <QString>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

namespace measuretest {

constexpr int kFakeId = 0x7100;  // not a port id: no meter of the bus ever gets it

class PageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        host = std::make_unique<QWidget>();
        statusLabel = new QLabel(host.get());
        statusLabel->setObjectName(QStringLiteral("label_msg"));
        manager->SetMainWidget(host.get());
        record = manager->AddDevRecord(kFakeId, "OPM-T", "DET-T", "HS-1", "PS-1", "1.0");
        ASSERT_TRUE(record);
        manager->SetSelDev(kFakeId);
    }
    void TearDown() override
    {
        manager->SetSelDev(-1);
        manager->RemoveDev(kFakeId);
        manager->SetMainWidget(nullptr);
        host.reset();
    }
    // One sample of `nanowatts`, 10 ms after the previous one.
    void Feed(double nanowatts)
    {
        timeMs += 10;
        const PowerData sample{timeMs, nanowatts};
        record->AddSamples(&sample, 1);
    }
    QString Unit() const { return manager->GetSelUnit(); }
    double FullScale() const
    {
        double low = 0, high = 0;
        manager->GetSelRange(&low, &high);
        return high;
    }

    DevManage *manager = DevManage::Instance();
    DeviceRecordPtr record;
    std::unique_ptr<QWidget> host;
    QLabel *statusLabel = nullptr;
    qint64 timeMs = 1765000000000;
};

}  // namespace measuretest
