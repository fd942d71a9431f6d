/*
 * Corvex: access to the controller board over USB or the LAN.
 *
 * Every function returns a 32-bit status code (CVX_STATUS) unless its
 * declaration says otherwise. A device handle is an opaque pointer-sized
 * value; 0 is never a valid handle.
 *
 * The USB driver library is loaded by name at the first call: the file named
 * in the environment variable CORVEX_FTD2XX if it is set, otherwise
 * "libftd2xx.so" through the dynamic loader's search path.
 *
 * Settings file "Corvex.ini" is looked for in the executable's folder, then
 * the working folder, then the user's config folder ($XDG_CONFIG_HOME, or
 * ~/.config); the first one found is read. Its [UserProgram] CipherKey, 32
 * hexadecimal digits (16 bytes), is the key material of user program images
 * enciphered with cipher mode 1; without it (or with any other value) such an
 * image gives 0xFFFF0104.
 */
#ifndef CORVEX_H
#define CORVEX_H

#include <stdint.h>

/* The version of this header; the library's file carries the same. */
#define CVX_VERSION_MAJOR 3
#define CVX_VERSION_MINOR 6
#define CVX_VERSION_PATCH 0

#ifdef _WIN32
#include <oaidl.h>
#define CVX_API __stdcall
#define CVX_EXPORT
#else
#define CVX_API
#define CVX_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef uintptr_t CVX_HANDLE;
typedef uint32_t CVX_STATUS;

/* Status codes. 0 to 18 coincide with the USB driver's own values. */
#define CVX_OK 0x00000000u
#define CVX_INVALID_HANDLE 0x00000001u
#define CVX_DEVICE_NOT_FOUND 0x00000002u
#define CVX_TABLE_FULL 0x00000005u
#define CVX_INVALID_ARGUMENT 0x00000010u
#define CVX_NOT_SUPPORTED 0x00000011u
#define CVX_FAILED 0x00000012u
#define CVX_TIMEOUT 0xFFFF0001u
#define CVX_FILE_OPEN_ERROR 0xFFFF0002u
#define CVX_NO_MEMORY 0xFFFF0003u
#define CVX_NO_RECORD 0xFFFF0004u
#define CVX_SOCKET_ERROR 0xFFFF0005u
#define CVX_PASSWORD_REFUSED 0xFFFF0006u
#define CVX_WRONG_MODE 0xFFFF0007u
#define CVX_NOT_MONITOR 0xFFFF0008u
#define CVX_IMAGE_SIZE 0xFFFF0101u
#define CVX_IMAGE_CHECKSUM 0xFFFF0102u
#define CVX_IMAGE_FIRMWARE 0xFFFF0103u
#define CVX_IMAGE_NO_KEY 0xFFFF0104u
#define CVX_FLASH_ERROR_BASE 0xFFFF0200u /* + the flash writer's error byte */
#define CVX_FLASH_ERASE_FAILED 0xFFFF0203u
#define CVX_FLASH_RECORD_FAILED 0xFFFF0204u
#define CVX_FLASH_RETRIES 0xFFFF0206u
#define CVX_FLASH_LENGTH 0xFFFF0210u
#define CVX_FLASH_ADDRESS 0xFFFF0211u
#define CVX_FLASH_NOT_BLANK 0xFFFF0212u

/* Interface-type word and open flags. */
#define CVX_IF_USB 0x80000000u
#define CVX_IF_LAN 0x40000000u
#define CVX_IF_FLASH_WRITER 0x00800000u
#define CVX_OPEN_DISCOVER 0x00000001u

/* Purge mask. */
#define CVX_PURGE_RX 1u
#define CVX_PURGE_TX 2u

/* Address that selects the short port commands. */
#define CVX_NO_ADDRESS 0xFFFFFFFFu

#ifndef _WIN32
/*
 * Automation array stand-in, laid out like the Windows descriptor. Only
 * one-dimensional arrays are used. An array of strings has FADF_BSTR set in
 * fFeatures; its elements are BSTR pointers to zero-terminated text owned by
 * the array: a listing frees a non-null element with free() before it stores
 * a new malloc'ed text.
 */
typedef char* BSTR;
typedef struct tagSAFEARRAYBOUND {
  uint32_t cElements;
  int32_t lLbound;
} SAFEARRAYBOUND;
typedef struct tagSAFEARRAY {
  uint16_t cDims;
  uint16_t fFeatures;
  uint32_t cbElements;
  uint32_t cLocks;
  void* pvData;
  SAFEARRAYBOUND rgsabound[1];
} SAFEARRAY;
#define FADF_BSTR 0x0100

/*
 * Automation variant stand-in, laid out like the Windows one: the type word,
 * three reserved words, then the value (or, with VT_BYREF, a pointer to it).
 */
typedef uint16_t VARTYPE;
enum {
  VT_EMPTY = 0, VT_NULL = 1, VT_I2 = 2, VT_I4 = 3, VT_R4 = 4, VT_R8 = 5, VT_CY = 6, VT_DATE = 7, VT_BSTR = 8,
  VT_ERROR = 10, VT_BOOL = 11, VT_VARIANT = 12, VT_I1 = 16, VT_UI1 = 17, VT_UI2 = 18, VT_UI4 = 19, VT_I8 = 20,
  VT_UI8 = 21, VT_INT = 22, VT_UINT = 23, VT_ARRAY = 0x2000, VT_BYREF = 0x4000
};
typedef struct tagVARIANT_RECORD {
  void* pvRecord;
  void* pRecInfo;
} VARIANT_RECORD;
typedef struct tagVARIANT {
  VARTYPE vt;
  uint16_t wReserved1, wReserved2, wReserved3;
  union {
    int64_t llVal;
    uint64_t ullVal;
    int32_t lVal;
    uint32_t ulVal;
    int16_t iVal;
    uint16_t uiVal;
    int8_t cVal;
    uint8_t bVal;
    int16_t boolVal;
    int32_t intVal;
    uint32_t uintVal;
    float fltVal;
    double dblVal;
    BSTR bstrVal;
    SAFEARRAY* parray;
    BSTR* pbstrVal;
    SAFEARRAY** pparray;
    void* byref;
    VARIANT_RECORD brecord;
  };
} VARIANT;
#endif

/* Handle services. */
CVX_EXPORT CVX_STATUS CVX_API CVX_Close(CVX_HANDLE handle);
/* Returns the interface-type word itself, 0 for an invalid handle. */
CVX_EXPORT uint32_t CVX_API CVX_GetIFType(CVX_HANDLE handle);
CVX_EXPORT CVX_STATUS CVX_API CVX_SetTimeouts(CVX_HANDLE handle, uint32_t read_ms, uint32_t write_ms);
CVX_EXPORT CVX_STATUS CVX_API CVX_GetQueueStatus(CVX_HANDLE handle, uint32_t* count);
CVX_EXPORT CVX_STATUS CVX_API CVX_Purge(CVX_HANDLE handle, uint32_t mask);

/* USB listing and opening. Listings return the number of boards found. */
CVX_EXPORT int32_t CVX_API CVX_ListDevices(char* records, int32_t max);
CVX_EXPORT int32_t CVX_API CVX_ListDevicesByID(uint32_t vendor_id, uint32_t product_id, char* records, int32_t max);
CVX_EXPORT int32_t CVX_API CVX_ListDevices2(SAFEARRAY* array);
CVX_EXPORT int32_t CVX_API CVX_ListDevicesByID2(uint32_t vendor_id, uint32_t product_id, SAFEARRAY* array);
CVX_EXPORT CVX_STATUS CVX_API CVX_ListDevicesA(int32_t* count, char* text, int32_t* size, uint32_t flags);
CVX_EXPORT CVX_STATUS CVX_API CVX_OpenA(CVX_HANDLE* handle, const char* name, uint32_t flags);
/* These return the handle, or 0 on any failure. */
CVX_EXPORT CVX_HANDLE CVX_API CVX_Open(const char* name);
CVX_EXPORT CVX_HANDLE CVX_API CVX_OpenByID(uint32_t vendor_id, uint32_t product_id, const char* serial);
CVX_EXPORT CVX_HANDLE CVX_API CVX_OpenByUA(const uint8_t* user_bytes, uint32_t length);
/* Returns the driver's handle of a USB entry, null otherwise. */
CVX_EXPORT void* CVX_API CVX_GetFTHandle(CVX_HANDLE handle);

/*
 * LAN services. A LAN board is opened with CVX_OpenA(&handle, address, CVX_IF_LAN)
 * (or CVX_Open with a name holding a full stop): a TCP connection to the
 * current network port and a login with the password digest. With no name
 * (and CVX_OPEN_DISCOVER) the boards that answer a discovery broadcast are
 * tried in order; CVX_ListDevicesA with CVX_IF_LAN alone lists their addresses.
 * CVX_SetPassword keeps only the SHA-256 digest of the text; null or "" sets
 * the default digest back; a text of 256 bytes or more gives 16.
 * CVX_SetNetworkPort(0) sets the default port back.
 */
CVX_EXPORT CVX_STATUS CVX_API CVX_SetPassword(const char* text);
CVX_EXPORT CVX_STATUS CVX_API CVX_SetNetworkPort(uint32_t port);

/*
 * A LAN board in its flash writer asks for an IPv4 address first. The lease
 * record says what is known of it; addresses are in network byte order.
 * board 0 (or 0xFFFFFFFF): the address is obtained from the network's DHCP
 * server for the MAC address the board asks with; server 0: no DHCP lease.
 */
typedef struct CVX_LEASE {
  uint32_t board;
  uint32_t server;
  uint32_t mask;
  uint32_t unused1;
  uint8_t mac[6];
  uint8_t unused2[2];
} CVX_LEASE;

/*
 * The report CVX_FlshOpenLan writes into `text` (when not null) never takes
 * more than this many bytes, terminating zero included: lines that would not
 * fit are left out, from the first one on. The whole report of an assignment
 * with a DHCP exchange takes about half of it.
 */
#define CVX_FLSH_REPORT_SIZE 16384

/*
 * Answers the board's address request on UDP port 67 of every IPv4 address
 * of this machine (binding port 67 needs the right to bind low ports), with a
 * DHCP exchange first when the lease has no board address, then connects to
 * the board (no login). CVX_FlshCloseLan closes the handle and, when the lease
 * names a DHCP server, releases the address. A null handle or lease gives 16.
 */
CVX_EXPORT CVX_STATUS CVX_API CVX_FlshOpenLan(CVX_HANDLE* handle, CVX_LEASE* lease, uint32_t reserved, char* text);
CVX_EXPORT CVX_STATUS CVX_API CVX_FlshCloseLan(CVX_HANDLE handle, const CVX_LEASE* lease);

/*
 * Read/write areas 1 to 7 (flash erase block k for area k: 32 slots of 128
 * bytes; a record is valid when its first word is 0, the current one is the
 * valid record in the highest slot) and the product record in area 7: its
 * bytes 4-19 are the product identifier (laid out as the Windows UUID type),
 * 20-23 the unit number, least significant byte first.
 */
CVX_EXPORT CVX_STATUS CVX_API CVX_ReadRWArea(CVX_HANDLE handle, uint32_t area, void* record);
CVX_EXPORT CVX_STATUS CVX_API CVX_ReadPI(CVX_HANDLE handle, void* record);
CVX_EXPORT CVX_STATUS CVX_API CVX_ReadAppendBlk(CVX_HANDLE handle, uint32_t area, void* record);
/* Stores up to max 128-byte records; returns the number of USB boards. */
CVX_EXPORT int32_t CVX_API CVX_ListProducts(void* records, int32_t max);
/*
 * Opens the board whose product record names identifier ("xxxxxxxx-xxxx-
 * xxxx-xxxx-xxxxxxxxxxxx"; null or "" for any) and unit (0 for any), on USB
 * (CVX_IF_USB) and then on the LAN (CVX_IF_LAN, after a discovery with
 * CVX_OPEN_DISCOVER). An identifier that is not one gives 16 and searches nothing.
 */
CVX_EXPORT CVX_STATUS CVX_API CVX_OpenByPI(CVX_HANDLE* handle, const char* identifier, uint32_t unit, uint32_t flags);

/*
 * Flash through the flash writer (a handle opened with CVX_IF_FLASH_WRITER,
 * or by CVX_FlshOpenLan). The Flash functions keep to the user's areas 1 to 3
 * (0x1000 to 0x3FFF) and refuse a monitor handle with 0xFFFF0007.
 */
CVX_EXPORT CVX_STATUS CVX_API CVX_FlashEraseBlk(CVX_HANDLE handle, uint32_t block);
CVX_EXPORT CVX_STATUS CVX_API CVX_FlashRead(CVX_HANDLE handle, uint32_t address, void* buffer, uint32_t count);
CVX_EXPORT CVX_STATUS CVX_API CVX_FlashRead2(CVX_HANDLE handle, uint32_t address, SAFEARRAY* array, uint32_t count);
CVX_EXPORT CVX_STATUS CVX_API CVX_FlashWrite(CVX_HANDLE handle, uint32_t address, const void* data, uint32_t count);
CVX_EXPORT CVX_STATUS CVX_API CVX_FlashWrite2(CVX_HANDLE handle, uint32_t address, SAFEARRAY* array, uint32_t count);
CVX_EXPORT CVX_STATUS CVX_API CVX_FlashAppendModeWrite(CVX_HANDLE handle, uint32_t area, const void* record);
CVX_EXPORT CVX_STATUS CVX_API CVX_FlashAppendModeRead(CVX_HANDLE handle, uint32_t area, void* record);
CVX_EXPORT CVX_STATUS CVX_API CVX_FlshEchoTest(CVX_HANDLE handle);
CVX_EXPORT CVX_STATUS CVX_API CVX_FlshReadHwVersion(CVX_HANDLE handle, uint32_t* version);
/* 128 bytes from address. */
CVX_EXPORT CVX_STATUS CVX_API CVX_FlshRead(CVX_HANDLE handle, uint32_t address, void* buffer);
/* mask: erase blocks 0-7 of 4 KiB, 8 of 32 KiB, 9-15 of 64 KiB. */
CVX_EXPORT CVX_STATUS CVX_API CVX_FlshErase(CVX_HANDLE handle, uint32_t mask);
/* address and count multiples of 128 within the 512 KiB. */
CVX_EXPORT CVX_STATUS CVX_API CVX_FlshWrite(CVX_HANDLE handle, uint32_t address, const void* data, uint32_t count);
/* Returns the erase mask covering addresses 0 to size - 1 (0 above 512 KiB). */
CVX_EXPORT uint32_t CVX_API CVX_FlshGetEraseBlk(uint32_t size);
CVX_EXPORT CVX_STATUS CVX_API CVX_FlshWriteRWArea(CVX_HANDLE handle, uint32_t area, const void* record);
CVX_EXPORT CVX_STATUS CVX_API CVX_FlshReadRWArea(CVX_HANDLE handle, uint32_t area, void* record);

/* Raw byte stream. */
CVX_EXPORT CVX_STATUS CVX_API CVX_Write(CVX_HANDLE handle, const void* data, uint32_t length, uint32_t* written);
CVX_EXPORT CVX_STATUS CVX_API CVX_Read(CVX_HANDLE handle, void* data, uint32_t length, uint32_t* read);
CVX_EXPORT CVX_STATUS CVX_API CVX_Write2(CVX_HANDLE handle, SAFEARRAY* array, uint32_t length, uint32_t* written);
CVX_EXPORT CVX_STATUS CVX_API CVX_Read2(CVX_HANDLE handle, SAFEARRAY* array, uint32_t length, uint32_t* read);

/* Board control. */
CVX_EXPORT CVX_STATUS CVX_API CVX_Initialize(CVX_HANDLE handle);
CVX_EXPORT CVX_STATUS CVX_API CVX_InitializeA(CVX_HANDLE handle, uint32_t value);
CVX_EXPORT CVX_STATUS CVX_API CVX_Abort(CVX_HANDLE handle);
CVX_EXPORT CVX_STATUS CVX_API CVX_ReadStatus(CVX_HANDLE handle, uint32_t* status);
CVX_EXPORT CVX_STATUS CVX_API CVX_ReadVersion(CVX_HANDLE handle, uint32_t* version);
CVX_EXPORT CVX_STATUS CVX_API CVX_ReadVersionA(CVX_HANDLE handle, uint32_t* version_word);

/* Ports and bus. */
CVX_EXPORT CVX_STATUS CVX_API CVX_PortSetDir(CVX_HANDLE handle, uint32_t port_address, uint32_t direction);
CVX_EXPORT CVX_STATUS CVX_API CVX_PortRead8(CVX_HANDLE handle, uint32_t address, uint8_t* value);
CVX_EXPORT CVX_STATUS CVX_API CVX_PortRead16(CVX_HANDLE handle, uint32_t address, uint16_t* value);
CVX_EXPORT CVX_STATUS CVX_API CVX_PortWrite8(CVX_HANDLE handle, uint32_t address, uint32_t value);
CVX_EXPORT CVX_STATUS CVX_API CVX_PortWrite16(CVX_HANDLE handle, uint32_t address, uint32_t value);
CVX_EXPORT CVX_STATUS CVX_API CVX_PortWrite8A(CVX_HANDLE handle, uint32_t address, uint32_t value, uint32_t mask);
CVX_EXPORT CVX_STATUS CVX_API CVX_PortBWrite(CVX_HANDLE handle, uint32_t address, const void* data, uint32_t length,
                                             uint32_t flag, uint32_t option);
CVX_EXPORT CVX_STATUS CVX_API CVX_PortBRead(CVX_HANDLE handle, uint32_t address, void* buffer, uint32_t length,
                                            uint32_t flag, uint32_t option);
CVX_EXPORT CVX_STATUS CVX_API CVX_PortBWrite2(CVX_HANDLE handle, uint32_t address, SAFEARRAY* array, uint32_t length,
                                              uint32_t flag, uint32_t option);
CVX_EXPORT CVX_STATUS CVX_API CVX_PortBRead2(CVX_HANDLE handle, uint32_t address, SAFEARRAY* array, uint32_t length,
                                             uint32_t flag, uint32_t option);
CVX_EXPORT CVX_STATUS CVX_API CVX_PortBCopy(CVX_HANDLE handle, uint32_t first, uint32_t second, uint32_t length,
                                            uint32_t byte1, uint32_t byte2);
CVX_EXPORT CVX_STATUS CVX_API CVX_PortCopy8(CVX_HANDLE handle, uint32_t first, uint32_t second);
CVX_EXPORT CVX_STATUS CVX_API CVX_PortCopy16(CVX_HANDLE handle, uint32_t first, uint32_t second);
CVX_EXPORT CVX_STATUS CVX_API CVX_AddressEnable(CVX_HANDLE handle, uint32_t lines);
CVX_EXPORT CVX_STATUS CVX_API CVX_CSEnable(CVX_HANDLE handle, uint32_t flags);
CVX_EXPORT CVX_STATUS CVX_API CVX_BusSetWait(CVX_HANDLE handle, uint32_t area, uint32_t wait);

/*
 * Timer. Channels are 0 to 2; a per-channel function given another channel
 * returns 0 and sends nothing. counter below 0 in TimerStartA/TimerStop acts
 * on the timer start register at once; 0 to 3 arms that pulse counter to act
 * when it reaches compare.
 */
CVX_EXPORT CVX_STATUS CVX_API CVX_TimerEnable(CVX_HANDLE handle, uint32_t mask, uint32_t flag);
CVX_EXPORT CVX_STATUS CVX_API CVX_TimerSetLevel(CVX_HANDLE handle, uint32_t value);
CVX_EXPORT CVX_STATUS CVX_API CVX_TimerSetPulse(CVX_HANDLE handle, uint32_t channel, uint32_t a, uint32_t b);
CVX_EXPORT CVX_STATUS CVX_API CVX_TimerSetClk(CVX_HANDLE handle, uint32_t channel, uint32_t clock);
CVX_EXPORT CVX_STATUS CVX_API CVX_TimerSetCnt(CVX_HANDLE handle, uint32_t channel, uint32_t value);
CVX_EXPORT CVX_STATUS CVX_API CVX_TimerStart(CVX_HANDLE handle, uint32_t value);
CVX_EXPORT CVX_STATUS CVX_API CVX_TimerStartA(CVX_HANDLE handle, uint32_t mask, int32_t counter, uint32_t condition,
                                              uint32_t compare);
CVX_EXPORT CVX_STATUS CVX_API CVX_TimerStop(CVX_HANDLE handle, uint32_t mask, int32_t counter, uint32_t condition,
                                            uint32_t compare);
CVX_EXPORT CVX_STATUS CVX_API CVX_TimerReadCnt(CVX_HANDLE handle, uint32_t channel, uint16_t* value);
CVX_EXPORT CVX_STATUS CVX_API CVX_TimerSetCmp(CVX_HANDLE handle, uint32_t a, uint32_t b);
CVX_EXPORT CVX_STATUS CVX_API CVX_TimerSetCmpOut(CVX_HANDLE handle, uint32_t select, uint32_t address, uint32_t value);
CVX_EXPORT CVX_STATUS CVX_API CVX_TimerSetCmpClr(CVX_HANDLE handle, uint32_t flags);
CVX_EXPORT CVX_STATUS CVX_API CVX_TimerSetCapture(CVX_HANDLE handle, uint32_t channel, uint32_t low, uint32_t high);
CVX_EXPORT CVX_STATUS CVX_API CVX_TimerReadCaptureCnt(CVX_HANDLE handle, uint32_t channel, uint16_t* a, uint16_t* b);
CVX_EXPORT CVX_STATUS CVX_API CVX_TimerSetCaptureCnt(CVX_HANDLE handle, uint32_t channel, uint32_t a, uint32_t b);
CVX_EXPORT CVX_STATUS CVX_API CVX_TimerSetSinglePulse(CVX_HANDLE handle, uint32_t channel, uint32_t start,
                                                      uint32_t width, uint32_t polarity);

/* Analog input. Words are returned in host order, except by ADBRead. */
CVX_EXPORT CVX_STATUS CVX_API CVX_ADRead(CVX_HANDLE handle, uint16_t* values, uint32_t channel, uint32_t scan);
CVX_EXPORT CVX_STATUS CVX_API CVX_ADRead2(CVX_HANDLE handle, SAFEARRAY* array, uint32_t channel, uint32_t scan);
CVX_EXPORT CVX_STATUS CVX_API CVX_ADSetCycle(CVX_HANDLE handle, uint32_t cycle, uint32_t clock);
/* Samples land as the board sends them: big-endian words. */
CVX_EXPORT CVX_STATUS CVX_API CVX_ADBRead(CVX_HANDLE handle, uint16_t* buffer, uint32_t count, uint32_t channel,
                                          uint32_t* got);
CVX_EXPORT CVX_STATUS CVX_API CVX_ADBRead2(CVX_HANDLE handle, SAFEARRAY* array, uint32_t count, uint32_t channel,
                                           uint32_t* got);
CVX_EXPORT CVX_STATUS CVX_API CVX_ADStart(CVX_HANDLE handle, uint32_t address, uint32_t channel, uint32_t scan,
                                          uint32_t value, uint32_t flag);
CVX_EXPORT CVX_STATUS CVX_API CVX_ADCopy(CVX_HANDLE handle, uint32_t destination, uint32_t count, uint32_t channel,
                                         uint32_t scan, uint32_t flag, uint32_t mode);
CVX_EXPORT CVX_STATUS CVX_API CVX_ADStopCopy(CVX_HANDLE handle, uint32_t select);
CVX_EXPORT CVX_STATUS CVX_API CVX_ADReadCopyStatus(CVX_HANDLE handle, uint16_t* status, uint32_t select);
CVX_EXPORT CVX_STATUS CVX_API CVX_ADReadCopyBuffer(CVX_HANDLE handle, uint32_t address, uint16_t* values,
                                                   uint32_t count, uint32_t flag, uint32_t option);
CVX_EXPORT CVX_STATUS CVX_API CVX_ADReadCopyBuffer2(CVX_HANDLE handle, uint32_t address, SAFEARRAY* array,
                                                    uint32_t count, uint32_t flag, uint32_t option);

/* Analog output. */
CVX_EXPORT CVX_STATUS CVX_API CVX_DASetCycle(CVX_HANDLE handle, uint32_t select, uint32_t period, uint32_t clock);
CVX_EXPORT CVX_STATUS CVX_API CVX_DASetParm(CVX_HANDLE handle, uint32_t flag, uint32_t address, uint32_t length,
                                            uint32_t value);
CVX_EXPORT CVX_STATUS CVX_API CVX_DAReadStatus(CVX_HANDLE handle, uint32_t select, uint16_t* status);
CVX_EXPORT CVX_STATUS CVX_API CVX_DAStart(CVX_HANDLE handle, uint32_t mask);
CVX_EXPORT CVX_STATUS CVX_API CVX_DAStop(CVX_HANDLE handle, uint32_t mask);

/* Serial channel. Only channel 0 carries data. */
CVX_EXPORT CVX_STATUS CVX_API CVX_SCISetMode(CVX_HANDLE handle, uint32_t channel, uint32_t mode, uint32_t rate);
CVX_EXPORT CVX_STATUS CVX_API CVX_SCIReadStatus(CVX_HANDLE handle, uint32_t channel, uint8_t* status, uint32_t* count);
CVX_EXPORT CVX_STATUS CVX_API CVX_SCIRead(CVX_HANDLE handle, uint32_t channel, uint8_t* buffer, uint32_t length,
                                          uint32_t* got);
CVX_EXPORT CVX_STATUS CVX_API CVX_SCIRead2(CVX_HANDLE handle, uint32_t channel, SAFEARRAY* array, uint32_t length,
                                           uint32_t* got);
CVX_EXPORT CVX_STATUS CVX_API CVX_SCIWrite(CVX_HANDLE handle, uint32_t channel, const uint8_t* data, uint32_t length);
CVX_EXPORT CVX_STATUS CVX_API CVX_SCIWrite2(CVX_HANDLE handle, uint32_t channel, SAFEARRAY* array, uint32_t length);
CVX_EXPORT CVX_STATUS CVX_API CVX_SCISetDelimiter(CVX_HANDLE handle, uint32_t channel, const uint8_t* data,
                                                  uint32_t length);
CVX_EXPORT CVX_STATUS CVX_API CVX_SCISetDelimiter2(CVX_HANDLE handle, uint32_t channel, SAFEARRAY* array,
                                                   uint32_t length);

/* Pulse counters 0 to 3; masks use the enable bits 0x10, 0x20, 0x02, 0x04. */
CVX_EXPORT CVX_STATUS CVX_API CVX_PCSetCmp(CVX_HANDLE handle, uint32_t counter, uint32_t value);
CVX_EXPORT CVX_STATUS CVX_API CVX_PCSetCnt(CVX_HANDLE handle, uint32_t counter, uint32_t value);
/* counter -1 reads all four into values[0..3]. */
CVX_EXPORT CVX_STATUS CVX_API CVX_PCReadCnt(CVX_HANDLE handle, int32_t counter, uint32_t* values);
CVX_EXPORT CVX_STATUS CVX_API CVX_PCReadCnt2(CVX_HANDLE handle, int32_t counter, SAFEARRAY* array);
CVX_EXPORT CVX_STATUS CVX_API CVX_PCSetControl(CVX_HANDLE handle, uint32_t counter, uint32_t value);
CVX_EXPORT CVX_STATUS CVX_API CVX_PCSetCondBit(CVX_HANDLE handle, uint32_t counter, uint32_t address, uint32_t mask);
CVX_EXPORT CVX_STATUS CVX_API CVX_PCSetCmpOut(CVX_HANDLE handle, uint32_t counter, uint32_t address, uint32_t value);
CVX_EXPORT CVX_STATUS CVX_API CVX_PCStart(CVX_HANDLE handle, uint32_t mask);
CVX_EXPORT CVX_STATUS CVX_API CVX_PCStartA(CVX_HANDLE handle, uint32_t mask);
CVX_EXPORT CVX_STATUS CVX_API CVX_PCStop(CVX_HANDLE handle, uint32_t mask);

/* Timed copy, channels 0 and 1. */
CVX_EXPORT CVX_STATUS CVX_API CVX_TCPYStart(CVX_HANDLE handle, uint32_t channel);
CVX_EXPORT CVX_STATUS CVX_API CVX_TCPYSetParm(CVX_HANDLE handle, uint32_t channel, uint32_t source,
                                              uint32_t destination, uint32_t count, uint32_t b1, uint32_t b2,
                                              uint32_t b3);
CVX_EXPORT CVX_STATUS CVX_API CVX_TCPYSetCmp(CVX_HANDLE handle, uint32_t channel, uint32_t value);
CVX_EXPORT CVX_STATUS CVX_API CVX_TCPYSetClk(CVX_HANDLE handle, uint32_t channel, uint32_t clock);
CVX_EXPORT CVX_STATUS CVX_API CVX_TCPYSetCycle(CVX_HANDLE handle, uint32_t channel, uint32_t value, uint32_t clock);
CVX_EXPORT CVX_STATUS CVX_API CVX_TCPYSetPatternCtrl(CVX_HANDLE handle, uint32_t channel, uint32_t source,
                                                     uint32_t destination, uint32_t count, uint32_t word,
                                                     uint32_t value, uint32_t step, uint32_t control);
CVX_EXPORT CVX_STATUS CVX_API CVX_TCPYSetTrig(CVX_HANDLE handle, uint32_t channel, int32_t start_counter,
                                              int32_t stop_counter, uint32_t condition);
CVX_EXPORT CVX_STATUS CVX_API CVX_TCPYReadStatus(CVX_HANDLE handle, uint32_t channel, uint32_t* count, uint32_t* done);

/*
 * User programs. CVX_ATFDownload needs firmware word 0x030001 or later (17
 * otherwise) and the image's own minimum (0xFFFF0103); it writes the image's
 * sections to their load addresses ("HEAP" of type 3 cleared, "main" and
 * "STACK" skipped), then the command and main words when not 0. key_text
 * deciphers images of cipher mode 2 (null or "": 0xFFFF0104); mode 1 takes
 * the key of [UserProgram] CipherKey in Corvex.ini. CVX_ATFGetInfo fills a
 * 96-byte record from the image's header. CVX_ATFUserCommand2 takes its data
 * from a variant: empty, null or error sends none; a string its characters;
 * an array its data; a scalar its value's bytes (by reference too); length
 * may not exceed what the variant holds (16).
 */
#define CVX_ATF_INFO_SIZE 96
CVX_EXPORT CVX_STATUS CVX_API CVX_ATFDownload(CVX_HANDLE handle, const char* file_name, const char* key_text);
CVX_EXPORT CVX_STATUS CVX_API CVX_ATFGetInfo(const char* file_name, void* info);
CVX_EXPORT CVX_STATUS CVX_API CVX_ATFSetCommand(CVX_HANDLE handle, uint32_t value);
CVX_EXPORT CVX_STATUS CVX_API CVX_ATFSetMain(CVX_HANDLE handle, uint32_t value);
CVX_EXPORT CVX_STATUS CVX_API CVX_ATFUserCommand(CVX_HANDLE handle, uint32_t command, uint32_t first, uint32_t second,
                                                 const void* data, uint32_t length);
CVX_EXPORT CVX_STATUS CVX_API CVX_ATFUserCommand2(CVX_HANDLE handle, uint32_t command, uint32_t first,
                                                  uint32_t second, VARIANT* variant, uint32_t length);
/* No board service behind these: they return 17. */
CVX_EXPORT CVX_STATUS CVX_API CVX_ATFCall(CVX_HANDLE handle, uint32_t address);
CVX_EXPORT CVX_STATUS CVX_API CVX_ATFSetEntry(CVX_HANDLE handle, uint32_t value);
CVX_EXPORT CVX_STATUS CVX_API CVX_ATFReadServiceVersion(CVX_HANDLE handle, uint32_t value);

#ifdef __cplusplus
}
#endif

#endif
