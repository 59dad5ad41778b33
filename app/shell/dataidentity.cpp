// The meter identity of a data file header, from the device manager. Apart from
// datafile.cpp so that the file format itself needs nothing but Qt Core (the fuzz target
// builds it alone).
#include "datafile.h"

#include "devmanage.h"

namespace datafile {

void FillIdentity(int devId, HeaderInfo *info)
{
    info->devName.clear();
    info->devSerial.clear();
    info->detName.clear();
    info->detSerial.clear();
    info->waveLen = 0;
    info->average = 0;
    const DeviceRecordPtr rec = DevManage::Instance()->GetDevRecord(devId);
    if (!rec) return;
    info->devName = rec->devName;
    info->devSerial = rec->devSerial;
    info->detName = rec->detName;
    info->detSerial = rec->detSerial;
    info->waveLen = double(rec->waveLen.load());
    info->average = rec->average.load() & 0xFFFFu;
}

}  // namespace datafile
