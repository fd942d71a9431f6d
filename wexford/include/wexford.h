/*
 * Wexford: the expansion board, on USB or the LAN, through Corvex.
 *
 * Every function returns a 32-bit status code: Corvex's own, passed on
 * unchanged, or one of the three below. The handle is a Corvex device handle
 * (the same pointer-sized value as CVX_HANDLE); the library keeps no state of
 * its own, so a handle may also be used with Corvex directly.
 */
#ifndef WEXFORD_H
#define WEXFORD_H

#include <stdint.h>

/* The version of this header; the library's file carries the same. */
#define WXF_VERSION_MAJOR 3
#define WXF_VERSION_MINOR 6
#define WXF_VERSION_PATCH 0

#ifdef _WIN32
#define WXF_API __stdcall
#define WXF_EXPORT
#else
#define WXF_API
#define WXF_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef uintptr_t WXF_HANDLE;
typedef uint32_t WXF_STATUS;

/* Statuses this library adds; every other non-zero value is Corvex's. */
#define WXF_OK 0x00u
#define WXF_INVALID_ARGUMENT 0x10u    /* null pointer, unknown selector or open types */
#define WXF_NOT_SUPPORTED 0x11u       /* board firmware older than 3.2.1 (WXF_InitializeA) */
#define WXF_NOT_EXPANSION_BOARD 0x12u /* the product record names another product, or none */

/* Product identifiers, as the board's product record carries them. */
#define WXF_PRODUCT_USB "3aa4096d-2cc0-46dd-878a-88511d75ac78"
#define WXF_PRODUCT_LAN "787c7eb3-31ac-4be1-bd0a-c07563d39179"

/*
 * Types for WXF_Open: a search runs for each interface bit that comes with
 * the expansion-board bit. WXF_TYPE_ANY tries USB first, then the LAN after
 * a discovery broadcast.
 */
#define WXF_TYPE_USB 0x80000000u
#define WXF_TYPE_LAN 0x40000000u
#define WXF_TYPE_EXPANSION 0x00800000u
#define WXF_TYPE_ANY 0xFFFFFF00u

/* Board addresses the application drives. */
#define WXF_PORT_INPUT 0xFFFFD0u
#define WXF_PORT_OUTPUT_A 0xFFFFD3u
#define WXF_PORT_OUTPUT_B 0xFFFFD9u
#define WXF_PORT_SENSE 0xFFFFD4u /* the counters sense its bits 2 and 3 */

/* Counter selectors, also the bits of the start and stop masks. */
#define WXF_COUNTER_0 0x10u
#define WXF_COUNTER_1 0x20u
#define WXF_COUNTER_2 0x02u
#define WXF_COUNTER_3 0x04u
#define WXF_COUNTERS_0_1 0x30u /* the pair: reads give the sum, sets split the value */
#define WXF_COUNTERS_2_3 0x06u

/*
 * Opens the expansion board with the given unit number (its low 16 bits; 0
 * for any unit). *handle is 0 unless the result is 0. Without a USB and
 * expansion or LAN and expansion pair of bits in types: 16.
 */
WXF_EXPORT WXF_STATUS WXF_API WXF_Open(WXF_HANDLE* handle, uint32_t unit, uint32_t types);
WXF_EXPORT WXF_STATUS WXF_API WXF_Close(WXF_HANDLE handle);

/*
 * Checks the product record (18 for another product), initialises the board,
 * makes port 0xFFFFD4's bits 0-1 outputs and drives 0xFF on both output
 * ports; on firmware 3.2.1 and later it also sets the board's initialised
 * flag.
 */
WXF_EXPORT WXF_STATUS WXF_API WXF_Initialize(WXF_HANDLE handle);
/*
 * Firmware 3.2.1 and later (17 before). A board whose initialised flag is
 * set is initialised with value (bit 0 cleared) and keeps its ports as they
 * are; value -1, or a board not yet initialised, gets the whole set-up.
 */
WXF_EXPORT WXF_STATUS WXF_API WXF_InitializeA(WXF_HANDLE handle, int32_t value);

/* Writes the bits of value that are set in mask (0xFF: the whole byte). */
WXF_EXPORT WXF_STATUS WXF_API WXF_PortWrite(WXF_HANDLE handle, uint32_t address, uint32_t value, uint32_t mask);
WXF_EXPORT WXF_STATUS WXF_API WXF_PortRead(WXF_HANDLE handle, uint32_t address, uint8_t* value);

/* One conversion of channel 0 to 3, 0 to 1023. Null value: 16, nothing sent. */
WXF_EXPORT WXF_STATUS WXF_API WXF_ADRead(WXF_HANDLE handle, uint32_t channel, uint32_t* value);
/* Channel 0 is output 0; every other channel is output 1. */
WXF_EXPORT WXF_STATUS WXF_API WXF_DAWrite(WXF_HANDLE handle, uint32_t channel, uint32_t value);

/* The counter mode register and the analog control register. */
WXF_EXPORT WXF_STATUS WXF_API WXF_PCReadReg(WXF_HANDLE handle, uint8_t* value);
WXF_EXPORT WXF_STATUS WXF_API WXF_PCWriteReg(WXF_HANDLE handle, uint32_t value);
WXF_EXPORT WXF_STATUS WXF_API WXF_AnalogReadReg(WXF_HANDLE handle, uint8_t* value);
WXF_EXPORT WXF_STATUS WXF_API WXF_AnalogWriteReg(WXF_HANDLE handle, uint32_t value);

/*
 * Counter set-up. mode 0: every counter's count and control byte to 0.
 * mode 1 with type 48: counters 0 and 1 cleared and counting on bit 2 of the
 * sense port; mode 1 with another type: counters 2 and 3 on bit 3; any other
 * mode: counters 2 and 3 on bit 3 in their second control setting, counter 0
 * cleared beside them. Each also sets its bits in the counter mode register.
 */
WXF_EXPORT WXF_STATUS WXF_API WXF_PCSetMode(WXF_HANDLE handle, uint32_t mode, uint32_t type);
/* Enables the counters of mask, leaving the others as they are. */
WXF_EXPORT WXF_STATUS WXF_API WXF_PCStart(WXF_HANDLE handle, uint32_t mask);
WXF_EXPORT WXF_STATUS WXF_API WXF_PCStop(WXF_HANDLE handle, uint32_t mask);
/*
 * selector is one of the WXF_COUNTER values. An unknown selector gives 16
 * (after the counters were read); a null value gives 16 with nothing sent.
 */
WXF_EXPORT WXF_STATUS WXF_API WXF_PCReadCnt(WXF_HANDLE handle, uint32_t selector, int32_t* value);
/* A pair gets value - value / 2 in its lower counter and value / 2 in the other. */
WXF_EXPORT WXF_STATUS WXF_API WXF_PCSetCnt(WXF_HANDLE handle, uint32_t selector, int32_t value);

#ifdef __cplusplus
}
#endif

#endif
