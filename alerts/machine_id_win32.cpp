#include "alerts/machine_id_win32.h"

#include <windows.h>
#include <nb30.h>

#include <cstring>

#include "alerts/machine_id.h"

namespace {

// The address of the first adapter that answers NCBASTAT, if any.
std::vector<CAdapterAddress> FirstAnsweringAdapter() {
  std::vector<CAdapterAddress> answered;
  UCHAR enumBuffer[256] = {};
  NCB ncb = {};
  ncb.ncb_command = NCBENUM;
  ncb.ncb_buffer = enumBuffer;
  ncb.ncb_length = sizeof enumBuffer;
  if (Netbios(&ncb) != NRC_GOODRET) return answered;
  const LANA_ENUM* lanas = reinterpret_cast<const LANA_ENUM*>(enumBuffer);
  for (UCHAR i = 0; i < lanas->length && i <= MAX_LANA; ++i) {
    std::memset(&ncb, 0, sizeof ncb);
    ncb.ncb_command = NCBRESET;
    ncb.ncb_lana_num = lanas->lana[i];
    Netbios(&ncb);

    UCHAR status[600] = {};
    std::memset(&ncb, 0, sizeof ncb);
    ncb.ncb_command = NCBASTAT;
    ncb.ncb_lana_num = lanas->lana[i];
    std::memset(ncb.ncb_callname, ' ', NCBNAMSZ);
    ncb.ncb_callname[0] = '*';
    ncb.ncb_buffer = status;
    ncb.ncb_length = sizeof status;
    if (Netbios(&ncb) == NRC_GOODRET) {
      CAdapterAddress address;
      std::memcpy(address.data(), status, address.size());  // ADAPTER_STATUS begins with the address
      answered.push_back(address);
      break;
    }
  }
  return answered;
}

}  // namespace

std::string ReadMachineId(const std::string& firstLocalIp) {
  return ChooseMachineId(FirstAnsweringAdapter(), firstLocalIp);
}
