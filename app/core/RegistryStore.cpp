#include "core/RegistryStore.h"

#include "core/AtomicSave.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#endif

namespace kestrel {
namespace {

const QString kFormat = QStringLiteral("kestrel-registry-1");

QString keyId(const QString& subKey) {
  // "A\\B\\" and "a\\b" name the same key.
  QString id = subKey.toLower();
  while (id.endsWith(u'\\')) id.chop(1);
  return id;
}

}  // namespace

FileRegistryStore::FileRegistryStore(QString path) : path_(std::move(path)) {}

FileRegistryStore::Keys FileRegistryStore::load() const {
  QFile file(path_);
  if (!file.open(QIODevice::ReadOnly)) return {};
  QJsonParseError error{};
  const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
  if (error.error != QJsonParseError::NoError || !doc.isObject()) return {};
  const QJsonObject root = doc.object();
  if (root.value("format").toString() != kFormat || !root.value("keys").isArray()) return {};

  Keys keys;
  for (const QJsonValue& k : root.value("keys").toArray()) {
    const QJsonObject ko = k.toObject();
    if (!ko.value("path").isString() || !ko.value("values").isArray()) return {};
    Key key{ko.value("path").toString(), {}};
    for (const QJsonValue& v : ko.value("values").toArray()) {
      const QJsonObject vo = v.toObject();
      const QByteArray hex = vo.value("data").toString().toLatin1();
      const double type = vo.value("type").toDouble(-1);
      if (!vo.value("name").isString() || type < 0 || type > 0xFFFFFFFF ||
          QByteArray::fromHex(hex).toHex() != hex.toLower())
        return {};
      key.values.insert(vo.value("name").toString().toLower(),
                        {vo.value("name").toString(), std::uint32_t(type), QByteArray::fromHex(hex)});
    }
    keys.insert(keyId(key.path), key);
  }
  return keys;
}

bool FileRegistryStore::save(const Keys& keys) const {
  QJsonArray keyArray;
  for (const Key& key : keys) {
    QJsonArray values;
    for (const Value& v : key.values)
      values.append(
          QJsonObject{{"name", v.name}, {"type", double(v.type)}, {"data", QString::fromLatin1(v.data.toHex())}});
    keyArray.append(QJsonObject{{"path", key.path}, {"values", values}});
  }
  const QByteArray text =
      QJsonDocument(QJsonObject{{"format", kFormat}, {"keys", keyArray}}).toJson(QJsonDocument::Indented);

  if (!QDir().mkpath(QFileInfo(path_).absolutePath())) return false;
  return saveAtomically(path_, text).ok;
}

RegKey FileRegistryStore::newHandle(const QString& id) {
  const RegKey handle = nextHandle_++;
  handles_.insert(handle, id);
  return handle;
}

long FileRegistryStore::openKey(RegRoot root, const QString& subKey, RegKey& key) {
  key = 0;
  if (root != RegRoot::CurrentUser) return kErrorInvalidHandle;
  const QString id = keyId(subKey);
  if (!id.isEmpty() && !load().contains(id)) return kErrorFileNotFound;
  key = newHandle(id);
  return kErrorSuccess;
}

long FileRegistryStore::createKey(RegRoot root, const QString& subKey, RegKey& key) {
  key = 0;
  if (root != RegRoot::CurrentUser) return kErrorInvalidHandle;
  const QString id = keyId(subKey);
  Keys keys = load();
  if (!id.isEmpty() && !keys.contains(id)) {
    QString path = subKey;
    while (path.endsWith(u'\\')) path.chop(1);
    keys.insert(id, {path, {}});
    if (!save(keys)) return kErrorAccessDenied;
  }
  key = newHandle(id);
  return kErrorSuccess;
}

long FileRegistryStore::closeKey(RegKey key) { return handles_.remove(key) ? kErrorSuccess : kErrorInvalidHandle; }

long FileRegistryStore::queryValue(RegKey key, const QString& name, std::uint32_t& type, char* data,
                                   std::uint32_t& size) {
  if (!handles_.contains(key)) return kErrorInvalidHandle;
  const Keys keys = load();
  const auto k = keys.constFind(handles_.value(key));
  if (k == keys.cend()) return kErrorFileNotFound;  // removed since it was opened
  const auto v = k->values.constFind(name.toLower());
  if (v == k->values.cend()) return kErrorFileNotFound;
  type = v->type;
  const auto stored = std::uint32_t(v->data.size());
  if (data != nullptr) {
    if (size < stored) {
      size = stored;
      return kErrorMoreData;
    }
    std::memcpy(data, v->data.constData(), stored);
  }
  size = stored;
  return kErrorSuccess;
}

long FileRegistryStore::setValue(RegKey key, const QString& name, std::uint32_t type, const QByteArray& data) {
  if (!handles_.contains(key)) return kErrorInvalidHandle;
  Keys keys = load();
  const QString id = handles_.value(key);
  if (!keys.contains(id)) return kErrorFileNotFound;
  keys[id].values.insert(name.toLower(), {name, type, data});
  return save(keys) ? kErrorSuccess : kErrorAccessDenied;
}

#ifdef _WIN32
namespace {
// The registry itself. Built on Windows only; the Linux tests cover the file store.
class WindowsRegistryStore final : public RegistryStore {
 public:
  long openKey(RegRoot, const QString& subKey, RegKey& key) override {
    HKEY h = nullptr;
    const long rc = RegOpenKeyA(HKEY_CURRENT_USER, subKey.toLocal8Bit().constData(), &h);
    key = reinterpret_cast<RegKey>(h);
    return rc;
  }
  long createKey(RegRoot, const QString& subKey, RegKey& key) override {
    HKEY h = nullptr;
    const long rc = RegCreateKeyA(HKEY_CURRENT_USER, subKey.toLocal8Bit().constData(), &h);
    key = reinterpret_cast<RegKey>(h);
    return rc;
  }
  long closeKey(RegKey key) override { return RegCloseKey(reinterpret_cast<HKEY>(key)); }
  long queryValue(RegKey key, const QString& name, std::uint32_t& type, char* data, std::uint32_t& size) override {
    DWORD t = 0, s = size;
    const long rc = RegQueryValueExA(reinterpret_cast<HKEY>(key), name.toLocal8Bit().constData(), nullptr, &t,
                                     reinterpret_cast<BYTE*>(data), &s);
    type = t;
    size = s;
    return rc;
  }
  long setValue(RegKey key, const QString& name, std::uint32_t type, const QByteArray& data) override {
    return RegSetValueExA(reinterpret_cast<HKEY>(key), name.toLocal8Bit().constData(), 0, type,
                          reinterpret_cast<const BYTE*>(data.constData()), DWORD(data.size()));
  }
};
}  // namespace
#endif

QString defaultRegistryFile() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         QStringLiteral("/KestrelTester/registry.json");
}

namespace {
RegistryStore* installed = nullptr;

RegistryStore& defaultStore() {
#ifdef _WIN32
  static WindowsRegistryStore store;
#else
  static FileRegistryStore store(defaultRegistryFile());
#endif
  return store;
}
}  // namespace

RegistryStore& registryStore() { return installed ? *installed : defaultStore(); }

void installRegistryStore(RegistryStore* replacement) { installed = replacement; }

}  // namespace kestrel
