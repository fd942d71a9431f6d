/*
 * CVX_StatusText: a status code of the Corvex library as a short English
 * text, for messages and logs. Header only: nothing of it is exported, so
 * any build of the library serves.
 */
#ifndef CORVEX_STATUS_H
#define CORVEX_STATUS_H

#include "corvex.h"

static inline const char* CVX_StatusText(CVX_STATUS status) {
  switch (status) {
    case CVX_OK: return "success";
    case CVX_INVALID_HANDLE: return "invalid handle";
    case CVX_DEVICE_NOT_FOUND: return "device not found";
    case CVX_TABLE_FULL: return "device table full";
    case CVX_INVALID_ARGUMENT: return "invalid argument";
    case CVX_NOT_SUPPORTED: return "not supported";
    case CVX_FAILED: return "failed";
    case CVX_TIMEOUT: return "time-out or short transfer";
    case CVX_FILE_OPEN_ERROR: return "user program file cannot be opened";
    case CVX_NO_MEMORY: return "out of memory, or user program file not usable";
    case CVX_NO_RECORD: return "no valid record in the read/write area";
    case CVX_SOCKET_ERROR: return "socket error";
    case CVX_PASSWORD_REFUSED: return "the board refused the LAN password";
    case CVX_WRONG_MODE: return "not allowed in the device's mode";
    case CVX_NOT_MONITOR: return "the board did not answer as the monitor firmware";
    case CVX_IMAGE_SIZE: return "user program image size out of range";
    case CVX_IMAGE_CHECKSUM: return "user program image check sum or section table wrong";
    case CVX_IMAGE_FIRMWARE: return "user program image needs a newer board firmware";
    case CVX_IMAGE_NO_KEY: return "user program image is enciphered and no key was given";
    case CVX_FLASH_ERASE_FAILED: return "erasing a read/write area failed";
    case CVX_FLASH_RECORD_FAILED: return "writing a read/write area record failed";
    case CVX_FLASH_RETRIES: return "flash write retries exhausted";
    case CVX_FLASH_LENGTH: return "flash length invalid";
    case CVX_FLASH_ADDRESS: return "flash address invalid";
    case CVX_FLASH_NOT_BLANK: return "flash target not blank";
    default: break;
  }
  /* The driver's own small values come through USB calls unchanged. */
  if (status <= CVX_FAILED) return "USB driver error";
  if (status > CVX_FLASH_ERROR_BASE && status <= CVX_FLASH_ERROR_BASE + 0xFFu) return "flash writer error";
  return "unknown status";
}

#endif
