#pragma once
// The tester's own choices kept in the settings store, as short texts under
// the product's key. Quiet: a caller decides how to report a failed write.

#include <QString>

namespace kestrel {

// "Software\HALVERN\KST\<section>", value `name`: its text, "" when absent,
// unreadable or not text.
QString readStoredSetting(const QString& section, const QString& name);
// False when the store could not be written.
bool writeStoredSetting(const QString& section, const QString& name, const QString& text);

}  // namespace kestrel
