#include "sessions/WexfordBinding.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#ifdef _WIN32
#define WXF_CALL __stdcall
#else
#define WXF_CALL
#endif

namespace kestrel {

Wexford::Wexford(QString library) : library_(std::move(library)) {}

QFunctionPointer Wexford::resolve(const char* name) {
  if (const auto it = bound_.constFind(name); it != bound_.cend()) return *it;
  if (!loaded_.isLoaded()) {
    // Beside the executable first, as the Windows loader would look.
    const bool bareName = !library_.contains(u'/') && !library_.contains(u'\\');
    if (bareName && QCoreApplication::instance()) {
      loaded_.setFileName(QDir(QCoreApplication::applicationDirPath()).filePath(library_));
      loaded_.load();
    }
    // Then on the loader's path: the runtime name (libWexford.so.3, all an
    // installed system may have), then the plain one of a build tree.
    if (!loaded_.isLoaded() && bareName) {
      loaded_.setFileNameAndVersion(library_, KESTREL_VERSION_MAJOR);
      loaded_.load();
    }
    if (!loaded_.isLoaded()) {
      loaded_.setFileName(library_);
      if (!loaded_.load()) throw WexfordUnavailable(loaded_.errorString().toStdString());
    }
  }
  const QFunctionPointer fn = loaded_.resolve(name);
  if (!fn) throw WexfordUnavailable(std::string("entry point not found: ") + name);
  bound_.insert(name, fn);
  return fn;
}

std::int32_t Wexford::WXF_Open(WxfHandle* handle, std::int32_t unit, std::uint32_t types) {
  using Fn = std::int32_t(WXF_CALL*)(WxfHandle*, std::int32_t, std::uint32_t);
  return reinterpret_cast<Fn>(resolve("WXF_Open"))(handle, unit, types);
}

std::int32_t Wexford::WXF_Initialize(WxfHandle handle) {
  using Fn = std::int32_t(WXF_CALL*)(WxfHandle);
  return reinterpret_cast<Fn>(resolve("WXF_Initialize"))(handle);
}

std::int32_t Wexford::WXF_PortWrite(WxfHandle handle, std::uint32_t port, std::uint8_t data, std::uint8_t mask) {
  using Fn = std::int32_t(WXF_CALL*)(WxfHandle, std::uint32_t, std::uint32_t, std::uint32_t);
  return reinterpret_cast<Fn>(resolve("WXF_PortWrite"))(handle, port, data, mask);
}

std::int32_t Wexford::WXF_PortRead(WxfHandle handle, std::uint32_t port, std::uint8_t* value) {
  using Fn = std::int32_t(WXF_CALL*)(WxfHandle, std::uint32_t, std::uint8_t*);
  return reinterpret_cast<Fn>(resolve("WXF_PortRead"))(handle, port, value);
}

std::int32_t Wexford::WXF_Close(WxfHandle handle) {
  using Fn = std::int32_t(WXF_CALL*)(WxfHandle);
  return reinterpret_cast<Fn>(resolve("WXF_Close"))(handle);
}

Wexford& wexford() {
  static Wexford binding(QStringLiteral("Wexford"));
  return binding;
}

}  // namespace kestrel
