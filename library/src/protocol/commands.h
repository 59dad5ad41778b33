// The meter's command codes and the wait budgets of the requests that wait for a reply
// (milliseconds from the call to its deadline on the steady clock).
#pragma once

#include <cstdint>

namespace tessivar {

enum Command : uint16_t {
    CmdInit = 0x0001,
    CmdRecover = 0x0003,
    CmdWriteDevSerial = 0x000A,
    CmdReadDevSerial = 0x000B,
    CmdWriteDevName = 0x000C,
    CmdReadDevName = 0x000D,
    CmdSetTime = 0x000E,
    CmdReadVersion = 0x0010,
    CmdDiskMode = 0x0011,
    CmdNonDiskMode = 0x0012,
    CmdStartTransfer = 0x0024,
    CmdStopTransfer = 0x0025,
    CmdSetZeroOffset = 0x0028,
    CmdGetZeroOffset = 0x0029,
    CmdWriteDetSerial = 0x1000,
    CmdReadDetSerial = 0x1001,
    CmdWriteDetName = 0x1002,
    CmdReadDetName = 0x1003,
    CmdSetBaseParam = 0x1008,
    CmdGetBaseParam = 0x1009,
    CmdSetLevParam = 0x100A,
    CmdGetLevParam = 0x100B,
    CmdSetSpecParam = 0x100C,
    CmdGetSpecParam = 0x100D,
    CmdSaveDetParam = 0x100E,
    CmdHeartbeat = 0x100F,
    CmdSetAverage = 0x1010,
    CmdGetAverage = 0x1016,
    CmdSetSampleWavelength = 0x1017,
    CmdGetSampleWavelength = 0x1018,
    CmdGetDetectorState = 0x101B,
    CmdGetProbeOffset = 0x101D,
    CmdGetCalibrationDate = 0x101F,
    CmdPowerData = 0x200A,
};

constexpr int kDefaultBudget = 30;      // ms
constexpr int kZeroOffsetBudget = 100;  // ms
constexpr int kSaveParamBudget = 5000;  // ms: the meter writes its flash

}  // namespace tessivar
