/* A stand-in expansion-board library that records how it is called. */
#include <stdint.h>

static uintptr_t g_next_handle;
static int g_opens, g_closes;
static uintptr_t g_last_closed;
static int32_t g_last_unit;
static uint32_t g_last_types;

int32_t WXF_Open(uintptr_t* handle, int32_t unit, uint32_t types) {
  ++g_opens;
  g_last_unit = unit;
  g_last_types = types;
  if (!handle) return 16;
  *handle = g_next_handle;
  return g_next_handle ? 0 : 2;
}

int32_t WXF_Close(uintptr_t handle) {
  ++g_closes;
  g_last_closed = handle;
  return 0;
}

void FakeWexford_Reset(uintptr_t next_handle) {
  g_next_handle = next_handle;
  g_opens = g_closes = 0;
  g_last_closed = 0;
  g_last_unit = -1;
  g_last_types = 0;
}

void FakeWexford_Calls(int* opens, int* closes, uintptr_t* last_closed, int32_t* unit, uint32_t* types) {
  *opens = g_opens;
  *closes = g_closes;
  *last_closed = g_last_closed;
  *unit = g_last_unit;
  *types = g_last_types;
}
