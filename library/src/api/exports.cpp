// The 38 exported functions: argument checks, registry lookup, and the mapping of the
// device thread's results onto the public return codes.
#include <tessivar/tessivar.h>

#include "api/registry.h"
#include "log/library_log.h"
#include "protocol/commands.h"
#include "usb/usb_device.h"

#include <mutex>
#include <shared_mutex>

#include <algorithm>
#include <cstring>
#include <vector>

using namespace tessivar;

namespace {

constexpr int kVendorId = 0x4306;
constexpr int kProductId = 0x5741;
constexpr int kNameFieldSize = 32;
constexpr int kDetSerialFieldSize = 16;
// A frame's length field is 16 bits wide.
constexpr int kMaxPayload = 0xFFFE;

// Runs f(device) under a read hold of the registry lock; `missing` when the id is not
// registered.
template <typename F>
int WithDevice(int id, int missing, F&& f)
{
    Registry& registry = Registry::Instance();
    std::shared_lock<WriterPreferringLock> lock(registry.lock);
    DevThread* device = registry.Find(id);
    if (!device)
        return missing;
    return f(*device);
}

void LogQuery(uint16_t code, int result)
{
    log::Info(
        QStringLiteral("CMD, func:%1, ret: %2").arg(code, 4, 16, QLatin1Char('0')).arg(result));
}

int LoggedQuery(DevThread& device, uint16_t code, void* destination, int capacity, int budgetMs)
{
    const int result = device.Query(code, destination, capacity, budgetMs);
    LogQuery(code, result);
    return result;
}

bool BadBytes(const void* data, int len)
{
    return len < 0 || len > kMaxPayload || (len > 0 && !data);
}

int ReadText(int id, uint16_t code, char* buf, int len)
{
    return WithDevice(id, TESSIVAR_ERR_NO_DEVICE, [&](DevThread& device) -> int {
        if (buf && len > 0)
            std::memset(buf, 0, static_cast<std::size_t>(len));
        const int result = LoggedQuery(device, code, buf, len - 1, kDefaultBudget);
        return result > 0 ? TESSIVAR_OK : TESSIVAR_ERR_ARGUMENT;
    });
}

int WriteText(int id, uint16_t code, int fieldSize, const char* text, int len)
{
    if (BadBytes(text, len))
        return TESSIVAR_ERR_ARGUMENT;
    char field[kNameFieldSize] = {};
    if (len > 0)
        std::memcpy(field, text, static_cast<std::size_t>(std::min(len, fieldSize)));
    return WithDevice(id, TESSIVAR_ERR_NO_DEVICE, [&](DevThread& device) -> int {
        return device.SendCommand(code, field, fieldSize, kDefaultBudget);
    });
}

int SendBytes(int id, uint16_t code, const void* data, int len)
{
    if (BadBytes(data, len))
        return TESSIVAR_ERR_ARGUMENT;
    return WithDevice(id, TESSIVAR_ERR_NO_DEVICE, [&](DevThread& device) -> int {
        return device.SendCommand(code, data, len, kDefaultBudget);
    });
}

int RunCommand(int id, uint16_t code, int budgetMs = kDefaultBudget)
{
    return WithDevice(id, TESSIVAR_ERR_NO_DEVICE, [&](DevThread& device) -> int {
        return device.SendCommand(code, nullptr, 0, budgetMs);
    });
}

}  // namespace

extern "C" {

int openLog(const char* dir)
{
    log::Open(dir);
    return TESSIVAR_OK;
}

int scanDev(int* ids, int count)
{
    // A null array or a count <= 0 would otherwise look like "no meter attached" and
    // destroy every registered device.
    if (!ids || count <= 0)
        return TESSIVAR_ERR_ARGUMENT;
    SetMatchIds(kVendorId, kProductId);
    std::fill(ids, ids + count, 0);
    const int found = EnumerateDevices(ids, std::min(count, Registry::kMaxDevices));
    const std::vector<int> foundIds(ids, ids + found);

    Registry& registry = Registry::Instance();
    {
        std::unique_lock<WriterPreferringLock> lock(registry.lock);
        for (auto it = registry.devices.begin(); it != registry.devices.end();) {
            if (std::find(foundIds.begin(), foundIds.end(), it->first) == foundIds.end()) {
                it = registry.devices.erase(it);  // stops its loop, closes its handle
            } else {
                ++it;
            }
        }
        if (static_cast<int>(registry.devices.size()) >= Registry::kMaxDevices)
            return Registry::kMaxDevices;
    }
    for (int id : foundIds) {
        std::unique_lock<WriterPreferringLock> lock(registry.lock);
        if (registry.devices.count(id))
            continue;
        registry.devices.emplace(id,
                                 std::make_unique<DevThread>(std::make_unique<UsbDevice>(id), id));
        if (static_cast<int>(registry.devices.size()) >= Registry::kMaxDevices)
            return Registry::kMaxDevices;
    }
    return found;
}

int releaseDev(void)
{
    Registry& registry = Registry::Instance();
    {
        std::unique_lock<WriterPreferringLock> lock(registry.lock);
        registry.devices.clear();
    }
    ShutdownUsb();
    log::Info(QStringLiteral("exit optical power meter dll"));
    log::Shutdown();
    return TESSIVAR_OK;
}

int openDev(int id)
{
    return WithDevice(id, TESSIVAR_ERR_NO_DEVICE, [](DevThread& device) -> int {
        return device.Open() ? TESSIVAR_OK : TESSIVAR_ERR_ARGUMENT;
    });
}

int closeDev(int id)
{
    return WithDevice(id, TESSIVAR_ERR_NO_DEVICE, [](DevThread& device) -> int {
        device.Close();
        return TESSIVAR_OK;
    });
}

int isDevOpen(int id)
{
    return WithDevice(id, TESSIVAR_ERR_NO_DEVICE,
                      [](DevThread& device) -> int { return device.IsRunning() ? 1 : 0; });
}

int isInited(int id)
{
    return WithDevice(id, TESSIVAR_ERR_NO_DEVICE,
                      [](DevThread& device) -> int { return device.IsInited() ? 1 : 0; });
}

int startTransfer(int id) { return RunCommand(id, CmdStartTransfer); }

int stopTransfer(int id)
{
    return WithDevice(id, TESSIVAR_ERR_NO_DEVICE, [](DevThread& device) -> int {
        if (!device.IsInited())
            return TESSIVAR_ERR_NOT_INITED;
        device.QueueRequest(CmdStopTransfer);
        return TESSIVAR_OK;
    });
}

int getData(int id, PowerData* out, int count)
{
    return WithDevice(id, TESSIVAR_ERR_NO_DEVICE, [&](DevThread& device) -> int {
        if (count <= 0)
            return 0;
        if (!out)
            return TESSIVAR_ERR_ARGUMENT;
        return device.TakePower(out, count);
    });
}

int getSingleData(int id, double* power, int* time)
{
    return WithDevice(id, TESSIVAR_ERR_NO_DEVICE, [&](DevThread& device) -> int {
        if (!power || !time)
            return TESSIVAR_ERR_ARGUMENT;
        PowerData record;
        if (device.TakePower(&record, 1) != 1)
            return TESSIVAR_ERR_ARGUMENT;
        *power = record.power;
        *time = static_cast<int>(static_cast<uint32_t>(record.time));
        return TESSIVAR_OK;
    });
}

int readDevName(int id, char* buf, int len) { return ReadText(id, CmdReadDevName, buf, len); }
int readDevSerial(int id, char* buf, int len) { return ReadText(id, CmdReadDevSerial, buf, len); }
int readDetName(int id, char* buf, int len) { return ReadText(id, CmdReadDetName, buf, len); }
int readDetSerial(int id, char* buf, int len) { return ReadText(id, CmdReadDetSerial, buf, len); }
int readVersion(int id, char* buf, int len) { return ReadText(id, CmdReadVersion, buf, len); }

int writeDevName(int id, const char* text, int len)
{
    return WriteText(id, CmdWriteDevName, kNameFieldSize, text, len);
}
int writeDevSerial(int id, const char* text, int len)
{
    return WriteText(id, CmdWriteDevSerial, kNameFieldSize, text, len);
}
int writeDetName(int id, const char* text, int len)
{
    return WriteText(id, CmdWriteDetName, kNameFieldSize, text, len);
}
int writeDetSerial(int id, const char* text, int len)
{
    return WriteText(id, CmdWriteDetSerial, kDetSerialFieldSize, text, len);
}

int updateDevTime(int id, const void* data, int len)
{
    return SendBytes(id, CmdSetTime, data, len);
}

int setAverage(int id, int count)
{
    const uint16_t value = static_cast<uint16_t>(count);
    return WithDevice(id, TESSIVAR_ERR_NO_DEVICE, [&](DevThread& device) -> int {
        return device.SendCommand(CmdSetAverage, &value, sizeof value, kDefaultBudget);
    });
}

int getAverage(int id, unsigned short* count)
{
    return WithDevice(id, TESSIVAR_ERR_NO_DEVICE, [&](DevThread& device) -> int {
        uint16_t value = 0;
        const int result =
            LoggedQuery(device, CmdGetAverage, count ? &value : nullptr, 2, kDefaultBudget);
        if (result <= 0 || !count)
            return TESSIVAR_ERR_ARGUMENT;
        *count = value;
        return TESSIVAR_OK;
    });
}

int setSampleWavelength(int id, int nm)
{
    const uint16_t value = static_cast<uint16_t>(nm);
    const int result = WithDevice(id, TESSIVAR_ERR_NO_DEVICE, [&](DevThread& device) -> int {
        return device.SendCommand(CmdSetSampleWavelength, &value, sizeof value, kDefaultBudget);
    });
    // Second, separate hold of the registry lock: the coefficient follows when in range.
    if (result >= 0) {
        WithDevice(id, TESSIVAR_ERR_NO_DEVICE, [&](DevThread& device) -> int {
            return device.SetCoefWavelength(static_cast<float>(nm));
        });
    }
    return result;
}

int getSampleWavelength(int id, int* nm)
{
    uint16_t value = 0;
    const int result = WithDevice(id, TESSIVAR_ERR_NO_DEVICE, [&](DevThread& device) -> int {
        return LoggedQuery(device, CmdGetSampleWavelength, &value, 2, kDefaultBudget);
    });
    if (result == TESSIVAR_ERR_NO_DEVICE)
        return result;
    if (!nm)
        return TESSIVAR_ERR_ARGUMENT;
    *nm = value;
    WithDevice(id, TESSIVAR_ERR_NO_DEVICE, [&](DevThread& device) -> int {
        return device.SetCoefWavelength(static_cast<float>(value));
    });
    return result > 0 ? TESSIVAR_OK : TESSIVAR_ERR_ARGUMENT;
}

int getDetectorState(int id, int* state)
{
    return WithDevice(id, TESSIVAR_ERR_NO_DEVICE, [&](DevThread& device) -> int {
        uint16_t value = 0;
        const int result = LoggedQuery(device, CmdGetDetectorState, &value, 2, kDefaultBudget);
        if (!state)
            return TESSIVAR_ERR_ARGUMENT;
        *state = value;
        return result >= 0 ? TESSIVAR_OK : result;
    });
}

int getZeroOffset(int id, double* offset)
{
    if (!offset)
        return TESSIVAR_ERR_ARGUMENT;
    return WithDevice(id, TESSIVAR_ERR_ARGUMENT, [&](DevThread& device) -> int {
        double value = 0;
        const int result =
            LoggedQuery(device, CmdGetZeroOffset, &value, sizeof value, kZeroOffsetBudget);
        // Part of a double is no offset: only a whole one is taken.
        if (result != static_cast<int>(sizeof value))
            return TESSIVAR_ERR_ARGUMENT;
        *offset = value;
        device.SetZeroOffset(value);
        return TESSIVAR_OK;
    });
}

int resetZeroOffset(int id)
{
    return WithDevice(id, TESSIVAR_ERR_NO_DEVICE, [](DevThread& device) -> int {
        const double zero = device.TakeUncorrectedAsZero();
        return device.SendCommand(CmdSetZeroOffset, &zero, sizeof zero, kDefaultBudget);
    });
}

int getBaseParam(int id, void* out, int size)
{
    return WithDevice(id, TESSIVAR_ERR_NO_DEVICE, [&](DevThread& device) -> int {
        if (!device.IsInited() || !device.HasBaseParam() || !out || size < kBaseParamExportSize) {
            return TESSIVAR_ERR_ARGUMENT;
        }
        device.CopyBaseParam(static_cast<uint8_t*>(out));
        return kBaseParamExportSize;
    });
}

int getLevParam(int id, void* out, int size)
{
    return WithDevice(id, TESSIVAR_ERR_NO_DEVICE, [&](DevThread& device) -> int {
        if (!device.IsInited() || !out || size < kLevelRecordSize)
            return TESSIVAR_ERR_ARGUMENT;
        device.CopyLevelRecord(static_cast<uint8_t*>(out));
        return kLevelRecordSize;
    });
}

int getSpecParam(int id, void* out, int size)
{
    return WithDevice(id, TESSIVAR_ERR_NO_DEVICE, [&](DevThread& device) -> int {
        if (!device.IsInited())
            return TESSIVAR_ERR_NOT_INITED;
        const int bytes = kSpecEntrySize * device.SpecCount();
        if (bytes == 0)
            return 0;
        if (!out || size < bytes)
            return TESSIVAR_ERR_ARGUMENT;
        device.CopySpecExport(static_cast<uint8_t*>(out));
        return bytes;
    });
}

int getWaveRange(int id, int* start, int* end)
{
    return WithDevice(id, TESSIVAR_ERR_NO_DEVICE, [&](DevThread& device) -> int {
        if (!device.IsInited())
            return TESSIVAR_ERR_NOT_INITED;
        if (!start || !end)
            return TESSIVAR_ERR_ARGUMENT;
        const BaseParam base = device.Base();
        *start = base.startNm;
        *end = base.endNm;
        return TESSIVAR_OK;
    });
}

int getCalibrationDate(int id, char* out)
{
    return WithDevice(id, TESSIVAR_ERR_NO_DEVICE, [&](DevThread& device) -> int {
        if (!out)
            return TESSIVAR_ERR_ARGUMENT;
        device.CopyCalibrationDate(out);
        return TESSIVAR_OK;
    });
}

int setBaseParam(int id, const void* data, int len)
{
    return SendBytes(id, CmdSetBaseParam, data, len);
}
int setLevParam(int id, const void* data, int len)
{
    return SendBytes(id, CmdSetLevParam, data, len);
}
int setSpecParam(int id, const void* data, int len)
{
    return SendBytes(id, CmdSetSpecParam, data, len);
}

int saveDetParam(int id) { return RunCommand(id, CmdSaveDetParam, kSaveParamBudget); }

int setDevInDiskMode(int id, int mode)
{
    return RunCommand(id, mode == 2 ? CmdDiskMode : CmdNonDiskMode);
}

}  // extern "C"
