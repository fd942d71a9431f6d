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

class Wexford {
 public:
  // `library` is a bare name ("Wexford": looked for beside the executable,
  // then on the loader's search path) or a file path.
  explicit Wexford(QString library);

  std::int32_t WXF_Open(WxfHandle* handle, std::int32_t unit, std::uint32_t types);
  std::int32_t WXF_Close(WxfHandle handle);

 private:
  QFunctionPointer resolve(const char* name);

  QString library_;
  QLibrary loaded_;
  QHash<QByteArray, QFunctionPointer> bound_;
};

// The process's binding to "Wexford".
Wexford& wexford();

}  // namespace kestrel
