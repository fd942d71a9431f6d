#pragma once
// The application's binding to the expansion-board library. The library is
// found by name and each function is bound at its first call; a library or
// entry point that cannot be found raises WexfordUnavailable from that call.

#include <QHash>
#include <QLibrary>
#include <QString>
#include <cstdint>
#include <stdexcept>

namespace kestrel {

using WxfHandle = std::uintptr_t;  // a board-access device handle; 0 = not open

constexpr std::uint32_t kWxfAnyBoard = 0xFFFFFF00u;  // USB first, then LAN

class WexfordUnavailable : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What the application asks of the expansion board: the windows and the
// menu's check talk to this, so tests can put a board of their own behind it.
class WexfordApi {
 public:
  virtual ~WexfordApi() = default;
  virtual std::int32_t WXF_Open(WxfHandle* handle, std::int32_t unit, std::uint32_t types) = 0;
  virtual std::int32_t WXF_Initialize(WxfHandle handle) = 0;
  // Changes only the bits of `mask`.
  virtual std::int32_t WXF_PortWrite(WxfHandle handle, std::uint32_t port, std::uint8_t data, std::uint8_t mask) = 0;
  virtual std::int32_t WXF_PortRead(WxfHandle handle, std::uint32_t port, std::uint8_t* value) = 0;
  virtual std::int32_t WXF_Close(WxfHandle handle) = 0;
};

class Wexford : public WexfordApi {
 public:
  // `library` is a bare name ("Wexford": looked for beside the executable,
  // then on the loader's search path under its runtime name with the major
  // version, then under its plain one) or a file path.
  explicit Wexford(QString library);

  std::int32_t WXF_Open(WxfHandle* handle, std::int32_t unit, std::uint32_t types) override;
  std::int32_t WXF_Initialize(WxfHandle handle) override;
  std::int32_t WXF_PortWrite(WxfHandle handle, std::uint32_t port, std::uint8_t data, std::uint8_t mask) override;
  std::int32_t WXF_PortRead(WxfHandle handle, std::uint32_t port, std::uint8_t* value) override;
  std::int32_t WXF_Close(WxfHandle handle) override;

 private:
  QFunctionPointer resolve(const char* name);

  QString library_;
  QLibrary loaded_;
  QHash<QByteArray, QFunctionPointer> bound_;
};

// The process's binding to "Wexford".
Wexford& wexford();

}  // namespace kestrel
