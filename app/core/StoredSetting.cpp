#include "core/StoredSetting.h"

#include "core/RegistryStore.h"

#include <QByteArray>

namespace kestrel {
namespace {

// Longer texts are not ours: they are not read.
constexpr std::uint32_t kMaxSettingBytes = 4096;

QString keyOf(const QString& section) { return QStringLiteral("Software\\HALVERN\\KST\\") + section; }

}  // namespace

QString readStoredSetting(const QString& section, const QString& name) {
  RegistryStore& store = registryStore();
  RegKey key = 0;
  if (store.openKey(RegRoot::CurrentUser, keyOf(section), key) != kErrorSuccess) return {};
  std::uint32_t type = 0;
  std::uint32_t size = 0;
  QString text;
  if (store.queryValue(key, name, type, nullptr, size) == kErrorSuccess && type == kRegSz && size <= kMaxSettingBytes) {
    QByteArray data(qsizetype(size), '\0');
    if (store.queryValue(key, name, type, data.data(), size) == kErrorSuccess) {
      data.truncate(qsizetype(size));
      while (data.endsWith('\0')) data.chop(1);
      text = QString::fromUtf8(data);
    }
  }
  store.closeKey(key);
  return text;
}

bool writeStoredSetting(const QString& section, const QString& name, const QString& text) {
  RegistryStore& store = registryStore();
  RegKey key = 0;
  if (store.openKey(RegRoot::CurrentUser, keyOf(section), key) != kErrorSuccess &&
      store.createKey(RegRoot::CurrentUser, keyOf(section), key) != kErrorSuccess)
    return false;
  const bool written = store.setValue(key, name, kRegSz, text.toUtf8()) == kErrorSuccess;
  return store.closeKey(key) == kErrorSuccess && written;
}

}  // namespace kestrel
