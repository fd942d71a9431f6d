// The raw byte stream and the board-control commands that read the board's state.
#include "automation.h"
#include "open_check.h"
#include "guard.h"
#include "io.h"
#include "protocol.h"

using namespace corvex;
namespace proto = corvex::protocol;

namespace corvex {

CVX_STATUS open_check(CVX_HANDLE handle) {
  if (CVX_STATUS s = command(handle, proto::resync()); s != CVX_OK) return s;
  uint32_t version = 0;
  if (CVX_STATUS s = CVX_ReadVersion(handle, &version); s != CVX_OK) return s;
  return proto::is_monitor_version(version) ? CVX_OK : CVX_NOT_MONITOR;
}

}  // namespace corvex

namespace {

template <typename Path>
CVX_STATUS on_array(SAFEARRAY* array, uint32_t length, uint32_t* count, Path&& path) {
  if (!count) return CVX_INVALID_ARGUMENT;
  return automation::with_array_bytes(array, length, path);
}

}  // namespace

extern "C" {

CVX_EXPORT CVX_STATUS CVX_API CVX_Write(CVX_HANDLE handle, const void* data, uint32_t length, uint32_t* written) {
  return guarded([&] { return write_path(handle, data, length, written, Firmware::Monitor); });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_Read(CVX_HANDLE handle, void* data, uint32_t length, uint32_t* read) {
  return guarded([&] { return read_path(handle, data, length, read, Firmware::Monitor, ReplyLength::Asked); });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_Write2(CVX_HANDLE handle, SAFEARRAY* array, uint32_t length, uint32_t* written) {
  return guarded([&] {
    if (in_writer_mode(handle)) return CVX_WRONG_MODE;
    return on_array(array, length, written,
                    [&](uint8_t* data) { return write_path(handle, data, length, written, Firmware::Monitor); });
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_Read2(CVX_HANDLE handle, SAFEARRAY* array, uint32_t length, uint32_t* read) {
  return guarded([&] {
    return on_array(array, length, read,
                    [&](uint8_t* data) {
                      return read_path(handle, data, length, read, Firmware::Monitor, ReplyLength::Asked);
                    });
  });
}

namespace {
// The firmware's version byte: two BCD digits.
CVX_STATUS read_version_byte(CVX_HANDLE handle, uint8_t* bcd) {
  uint32_t value = 0;
  if (CVX_STATUS s = command_number(handle, proto::read_version(), 1, &value); s != CVX_OK) return s;
  *bcd = static_cast<uint8_t>(value);
  return CVX_OK;
}
}  // namespace

CVX_EXPORT CVX_STATUS CVX_API CVX_ReadVersion(CVX_HANDLE handle, uint32_t* version) {
  return guarded([&] {
    if (!version) return CVX_INVALID_ARGUMENT;
    uint8_t bcd = 0;
    if (CVX_STATUS s = read_version_byte(handle, &bcd); s != CVX_OK) return s;
    *version = proto::version_number(bcd);
    return CVX_OK;
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_ReadVersionA(CVX_HANDLE handle, uint32_t* version_word) {
  return guarded([&] {
    if (!version_word) return CVX_INVALID_ARGUMENT;
    uint8_t bcd = 0;
    if (CVX_STATUS s = read_version_byte(handle, &bcd); s != CVX_OK) return s;
    if (!proto::needs_version_word(proto::version_number(bcd))) {
      *version_word = proto::synthesized_version_word(bcd);
      return CVX_OK;
    }
    return command_number(handle, proto::read_version_word(), 4, version_word);
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_ReadStatus(CVX_HANDLE handle, uint32_t* status) {
  return guarded([&] {
    if (!status) return CVX_INVALID_ARGUMENT;
    return command_number(handle, proto::read_status(), 2, status);
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_Abort(CVX_HANDLE handle) {
  return guarded([&] { return command(handle, proto::abort()); });
}

}  // extern "C"
