// A measurement page on its own, fed by hand: a record in the device manager filled with
// chosen samples, and a status label that shows what the page says (SigShowMessage).
#pragma once

#include "gui_fixture.h"

#include "datawidget.h"
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
        statusLabel = std::make_unique<QLabel>();
        record = manager->AddDevRecord(kFakeId, "OPM-T", "DET-T", "HS-1", "PS-1", "1.0");
        ASSERT_TRUE(record);
        manager->SetSelDev(kFakeId);
    }
    void TearDown() override
    {
        manager->SetSelDev(-1);
        manager->RemoveDev(kFakeId);
        statusLabel.reset();
    }
    // One sample of `nanowatts`, 10 ms after the previous one.
    void Feed(double nanowatts)
    {
        timeMs += 10;
        const PowerData sample{timeMs, nanowatts};
        record->AddSamples(&sample, 1);
    }
    // The page's status texts into statusLabel, as the main window shows them.
    template <class Page>
    void ListenTo(Page *page)
    {
        QObject::connect(page, &Page::SigShowMessage, statusLabel.get(), &QLabel::setText);
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
    std::unique_ptr<QLabel> statusLabel;
    qint64 timeMs = 1765000000000;
};

// The measurement page itself on that record, at the size the main window gives it.
class DataPageTest : public PageTest {
protected:
    void SetUp() override
    {
        PageTest::SetUp();
        page = std::make_unique<DataWidget>();
        ListenTo(page.get());
        page->resize(1180, 680);
        page->show();
    }
    void TearDown() override
    {
        page.reset();
        PageTest::TearDown();
    }

    std::unique_ptr<DataWidget> page;
};

}  // namespace measuretest
