// Types and entry points of the USB driver library, as its API documents them.
#pragma once

#include <cstdint>

#ifdef _WIN32
#define FT_CALL __stdcall
#else
#define FT_CALL
#endif

extern "C" {

using FT_HANDLE = void*;
using FT_STATUS = std::uint32_t;

enum : FT_STATUS {
  FT_OK = 0,
  FT_INVALID_HANDLE = 1,
  FT_DEVICE_NOT_FOUND = 2,
  FT_DEVICE_NOT_OPENED = 3,
  FT_IO_ERROR = 4,
  FT_INSUFFICIENT_RESOURCES = 5,
  FT_INVALID_PARAMETER = 6,
  FT_EEPROM_READ_FAILED = 11,
  FT_INVALID_ARGS = 16,
  FT_NOT_SUPPORTED = 17,
  FT_OTHER_ERROR = 18,
};

constexpr std::uint32_t FT_LIST_NUMBER_ONLY = 0x80000000u;
constexpr std::uint32_t FT_PURGE_RX = 1;
constexpr std::uint32_t FT_PURGE_TX = 2;

// The EEPROM program-data record with every extension the API documents,
// so a real driver may fill as much of it as its chip has.
struct FT_PROGRAM_DATA {
  std::uint32_t Signature1;  // 0x00000000
  std::uint32_t Signature2;  // 0xFFFFFFFF
  std::uint32_t Version;
  std::uint16_t VendorId;
  std::uint16_t ProductId;
  char* Manufacturer;
  char* ManufacturerId;
  char* Description;
  char* SerialNumber;
  std::uint16_t MaxPower;
  std::uint16_t PnP;
  std::uint16_t SelfPowered;
  std::uint16_t RemoteWakeup;
  // Rev4
  unsigned char Rev4, IsoIn, IsoOut, PullDownEnable, SerNumEnable, USBVersionEnable;
  std::uint16_t USBVersion;
  // Rev5
  unsigned char Rev5, IsoInA, IsoInB, IsoOutA, IsoOutB, PullDownEnable5, SerNumEnable5, USBVersionEnable5;
  std::uint16_t USBVersion5;
  unsigned char AIsHighCurrent, BIsHighCurrent, IFAIsFifo, IFAIsFifoTar, IFAIsFastSer, AIsVCP, IFBIsFifo, IFBIsFifoTar,
      IFBIsFastSer, BIsVCP;
  // Rev6
  unsigned char UseExtOsc, HighDriveIOs, EndpointSize, PullDownEnableR, SerNumEnableR, InvertTXD, InvertRXD, InvertRTS,
      InvertCTS, InvertDTR, InvertDSR, InvertDCD, InvertRI, Cbus0, Cbus1, Cbus2, Cbus3, Cbus4, RIsD2XX;
  // Rev7
  unsigned char PullDownEnable7, SerNumEnable7, ALSlowSlew, ALSchmittInput, ALDriveCurrent, AHSlowSlew, AHSchmittInput,
      AHDriveCurrent, BLSlowSlew, BLSchmittInput, BLDriveCurrent, BHSlowSlew, BHSchmittInput, BHDriveCurrent,
      IFAIsFifo7, IFAIsFifoTar7, IFAIsFastSer7, AIsVCP7, IFBIsFifo7, IFBIsFifoTar7, IFBIsFastSer7, BIsVCP7,
      PowerSaveEnable;
  // Rev8
  unsigned char PullDownEnable8, SerNumEnable8, ASlowSlew, ASchmittInput, ADriveCurrent, BSlowSlew, BSchmittInput,
      BDriveCurrent, CSlowSlew, CSchmittInput, CDriveCurrent, DSlowSlew, DSchmittInput, DDriveCurrent, ARIIsTXDEN,
      BRIIsTXDEN, CRIIsTXDEN, DRIIsTXDEN, AIsVCP8, BIsVCP8, CIsVCP8, DIsVCP8;
  // Rev9
  unsigned char PullDownEnableH, SerNumEnableH, ACSlowSlewH, ACSchmittInputH, ACDriveCurrentH, ADSlowSlewH,
      ADSchmittInputH, ADDriveCurrentH, Cbus0H, Cbus1H, Cbus2H, Cbus3H, Cbus4H, Cbus5H, Cbus6H, Cbus7H, Cbus8H, Cbus9H,
      IsFifoH, IsFifoTarH, IsFastSerH, IsFT1248H, FT1248CpolH, FT1248LsbH, FT1248FlowControlH, IsVCPH, PowerSaveEnableH;
};

// Newest record version the layout above covers.
constexpr std::uint32_t FT_PROGRAM_DATA_VERSION = 5;

using FT_ListDevices_t = FT_STATUS(FT_CALL*)(void* arg1, void* arg2, std::uint32_t flags);
using FT_Open_t = FT_STATUS(FT_CALL*)(int index, FT_HANDLE* handle);
using FT_Close_t = FT_STATUS(FT_CALL*)(FT_HANDLE handle);
using FT_ResetDevice_t = FT_STATUS(FT_CALL*)(FT_HANDLE handle);
using FT_SetLatencyTimer_t = FT_STATUS(FT_CALL*)(FT_HANDLE handle, unsigned char ms);
using FT_SetTimeouts_t = FT_STATUS(FT_CALL*)(FT_HANDLE handle, std::uint32_t read_ms, std::uint32_t write_ms);
using FT_EE_UARead_t = FT_STATUS(FT_CALL*)(FT_HANDLE handle, unsigned char* data, std::uint32_t length,
                                           std::uint32_t* read);
using FT_EE_UASize_t = FT_STATUS(FT_CALL*)(FT_HANDLE handle, std::uint32_t* size);
using FT_EE_Read_t = FT_STATUS(FT_CALL*)(FT_HANDLE handle, FT_PROGRAM_DATA* data);
using FT_Write_t = FT_STATUS(FT_CALL*)(FT_HANDLE handle, void* data, std::uint32_t length, std::uint32_t* written);
using FT_Read_t = FT_STATUS(FT_CALL*)(FT_HANDLE handle, void* data, std::uint32_t length, std::uint32_t* read);
using FT_GetQueueStatus_t = FT_STATUS(FT_CALL*)(FT_HANDLE handle, std::uint32_t* count);
using FT_Purge_t = FT_STATUS(FT_CALL*)(FT_HANDLE handle, std::uint32_t mask);
}
