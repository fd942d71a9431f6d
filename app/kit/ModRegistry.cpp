#include "kit/ModRegistry.h"

#include "kit/MessageService.h"
#include "core/ModString.h"

#include <QtEndian>

namespace kestrel {

bool RegKeyOpen(RegRoot root, const QString& subKey, RegKey& key) {
  return registryStore().openKey(root, subKey, key) == kErrorSuccess;
}

bool RegKeyCreate(RegRoot root, const QString& subKey, RegKey& key) {
  key = 0;
  if (subKey.isEmpty()) return false;
  return registryStore().createKey(root, subKey, key) == kErrorSuccess;
}

bool RegKeyClose(RegKey key) { return registryStore().closeKey(key) == kErrorSuccess; }

bool RegQueryString(RegKey key, const QString& valueName, QString& text) {
  std::uint32_t type = 0, size = 0;
  if (registryStore().queryValue(key, valueName, type, nullptr, size) != kErrorSuccess) return false;
  if (type != kRegSz && type != kRegExpandSz) return false;
  QByteArray buffer(qsizetype(size), ' ');
  if (registryStore().queryValue(key, valueName, type, buffer.data(), size) != kErrorSuccess) return false;
  buffer.truncate(size);
  text = TrimAtNul(fromCp932(buffer));
  return true;
}

bool RegSetValue(RegKey key, const QString& valueName, std::uint32_t type, const QVariant& value) {
  QByteArray data;
  if (type == kRegSz || type == kRegExpandSz) {
    data = toCp932(value.toString());
    data.append('\0');
  } else {
    bool ok = false;
    const qint32 number = value.toInt(&ok);
    if (!ok) return false;
    data.resize(4);
    qToLittleEndian(number, data.data());
  }
  return registryStore().setValue(key, valueName, type, data) == kErrorSuccess;
}

QString GetRegString(const QString& subKey, const QString& valueName, const QString& defaultText) {
  RegKey key = 0;
  if (!RegKeyOpen(RegRoot::CurrentUser, subKey, key)) return defaultText;
  QString text;
  const bool ok = RegQueryString(key, valueName, text);
  RegKeyClose(key);
  return ok ? text : defaultText;
}

bool SetRegValue(const QString& subKey, const QString& valueName, std::uint32_t type, const QVariant& value) {
  const QString root = QStringLiteral("HKEY_CURRENT_USER\\");
  RegKey key = 0;
  if (!RegKeyOpen(RegRoot::CurrentUser, subKey, key) && !RegKeyCreate(RegRoot::CurrentUser, subKey, key)) {
    MsgBox(nullptr, QStringLiteral("レジストリキーの作成に失敗しました｡キー名 = ") + root + subKey);
    return false;
  }
  if (!RegSetValue(key, valueName, type, value)) {
    MsgBox(nullptr, QStringLiteral("レジストリ値のセットに失敗しました｡値名 = ") + root + subKey + u'\\' + valueName);
    RegKeyClose(key);
    return false;
  }
  RegKeyClose(key);
  return true;
}

}  // namespace kestrel
