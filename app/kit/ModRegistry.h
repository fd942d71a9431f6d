#pragma once
// Registry routines of the application. All work under HKEY_CURRENT_USER,
// report success as a boolean and never throw.

#include "core/RegistryStore.h"

#include <QString>
#include <QVariant>

namespace kestrel {

inline const QString kRegistryKey = QStringLiteral("Software\\HALVERN\\KST");

bool RegKeyOpen(RegRoot root, const QString& subKey, RegKey& key);
bool RegKeyCreate(RegRoot root, const QString& subKey, RegKey& key);
bool RegKeyClose(RegKey key);
bool RegQueryString(RegKey key, const QString& valueName, QString& text);
bool RegSetValue(RegKey key, const QString& valueName, std::uint32_t type, const QVariant& value);

// The value's text, or `defaultText` on any failure.
QString GetRegString(const QString& subKey, const QString& valueName, const QString& defaultText);
// Opens (or creates) the key and writes; failures are reported by message box.
bool SetRegValue(const QString& subKey, const QString& valueName, std::uint32_t type, const QVariant& value);

}  // namespace kestrel
