#pragma once
// The settings store behind the registry routines: on Windows the registry
// itself, elsewhere a small typed key/value file. Calls mirror the Win32
// registry API and return its error codes (0 = success).

#include <QByteArray>
#include <QHash>
#include <QMap>
#include <QString>
#include <cstdint>
#include <memory>

namespace kestrel {

using RegKey = std::uintptr_t;  // 0 is never a valid key
enum class RegRoot : std::uint32_t { CurrentUser = 0x80000001u };

constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegExpandSz = 2;
constexpr std::uint32_t kRegDword = 4;

constexpr long kErrorSuccess = 0;
constexpr long kErrorFileNotFound = 2;
constexpr long kErrorAccessDenied = 5;
constexpr long kErrorInvalidHandle = 6;
constexpr long kErrorMoreData = 234;

class RegistryStore {
 public:
  virtual ~RegistryStore() = default;
  virtual long openKey(RegRoot root, const QString& subKey, RegKey& key) = 0;
  virtual long createKey(RegRoot root, const QString& subKey, RegKey& key) = 0;
  virtual long closeKey(RegKey key) = 0;
  // With data == nullptr only the type and size are reported. With a buffer,
  // size is its capacity on entry and the stored size on return.
  virtual long queryValue(RegKey key, const QString& name, std::uint32_t& type, char* data, std::uint32_t& size) = 0;
  virtual long setValue(RegKey key, const QString& name, std::uint32_t type, const QByteArray& data) = 0;
};

// A store file of our own. Keys and value names match without regard to
// case, as in the registry. The file is read afresh on every open, so two
// running programs see each other's writes; a file that cannot be read or
// parsed reads as empty, and the next write replaces it whole.
class FileRegistryStore final : public RegistryStore {
 public:
  explicit FileRegistryStore(QString path);
  const QString& path() const { return path_; }

  long openKey(RegRoot root, const QString& subKey, RegKey& key) override;
  long createKey(RegRoot root, const QString& subKey, RegKey& key) override;
  long closeKey(RegKey key) override;
  long queryValue(RegKey key, const QString& name, std::uint32_t& type, char* data, std::uint32_t& size) override;
  long setValue(RegKey key, const QString& name, std::uint32_t type, const QByteArray& data) override;

 private:
  struct Value {
    QString name;
    std::uint32_t type = 0;
    QByteArray data;
  };
  struct Key {
    QString path;
    QMap<QString, Value> values;  // by lower-cased name
  };
  using Keys = QMap<QString, Key>;  // by lower-cased path

  Keys load() const;
  bool save(const Keys& keys) const;
  RegKey newHandle(const QString& keyId);

  QString path_;
  QHash<RegKey, QString> handles_;  // handle -> lower-cased key path
  RegKey nextHandle_ = 1;
};

// The store the registry routines use: by default the registry on Windows,
// elsewhere FileRegistryStore at defaultRegistryFile().
RegistryStore& registryStore();
// Replaces the store; nullptr restores the default. Not owned.
void installRegistryStore(RegistryStore* replacement);
QString defaultRegistryFile();

}  // namespace kestrel
