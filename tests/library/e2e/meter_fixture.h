// Shared set-up of the end-to-end library tests: a fresh log directory per test, the
// simulated meters of the test on the virtual bus, and helpers to wait and to read the log.
#pragma once

#include "simmeter/testing.h"
#include "simmeter/virtual_bus.h"

#include "api/registry.h"
#include "log/library_log.h"

#include <tessivar/tessivar.h>

#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace e2e {

using Meter = std::shared_ptr<simmeter::SimMeter>;

// Ids the library derives from these port chains.
constexpr int kId13 = 3 << 24;                  // "1-3"
constexpr int kId112 = (1 << 24) + (2 << 16);   // "1-1.2"
constexpr int kId113 = (1 << 24) + (3 << 16);   // "1-1.3"

// The sim fixture's one wait, with the timeout in ms as these tests give it.
inline bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
  return simmeter::testing::WaitFor(condition, std::chrono::milliseconds(timeoutMs));
}

class MeterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(logDir_.isValid());
    openLog(logDir_.path().toUtf8().constData());
  }

  void TearDown() override {
    releaseDev();
    simmeter::VirtualBus::Instance().UnplugAll();
  }

  Meter Plug(const std::string& port) { return simmeter::VirtualBus::Instance().Plug(port); }

  // Scans, opens `id` and waits until it is ready.
  void OpenReady(int id) {
    int ids[8];
    ASSERT_GE(scanDev(ids, 8), 1);
    ASSERT_EQ(openDev(id), 0);
    ASSERT_TRUE(WaitFor([&] { return isInited(id) == 1; }, 3000)) << "meter never became ready";
  }

  tessivar::DevThread* Device(int id) { return tessivar::Registry::Instance().Find(id); }

  QStringList LogLines() {
    tessivar::log::Flush();
    QFile f(logDir_.path() + "/vorixOptical.log");
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll()).split("\r\n", Qt::SkipEmptyParts);
  }

  int CountLog(const QString& needle) {
    int n = 0;
    for (const QString& line : LogLines()) n += line.contains(needle) ? 1 : 0;
    return n;
  }

  QTemporaryDir logDir_;
};

}  // namespace e2e
