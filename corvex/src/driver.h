// The USB driver library, loaded by name and bound entry point by entry point.
#pragma once

#include "d2xx.h"

namespace corvex {

struct Driver {
  FT_ListDevices_t ListDevices = nullptr;
  FT_Open_t Open = nullptr;
  FT_Close_t Close = nullptr;
  FT_ResetDevice_t ResetDevice = nullptr;
  FT_SetLatencyTimer_t SetLatencyTimer = nullptr;
  FT_SetTimeouts_t SetTimeouts = nullptr;
  FT_EE_UARead_t EE_UARead = nullptr;
  FT_EE_UASize_t EE_UASize = nullptr;
  FT_EE_Read_t EE_Read = nullptr;
  FT_Write_t Write = nullptr;
  FT_Read_t Read = nullptr;
  FT_GetQueueStatus_t GetQueueStatus = nullptr;
  FT_Purge_t Purge = nullptr;

  // True only when the module loaded and all 13 entry points were found.
  bool present() const { return module_ != nullptr; }

  // Loads the file named in CORVEX_FTD2XX, or the platform's library name.
  void load();
  void unload();

 private:
  void* module_ = nullptr;
};

}  // namespace corvex
