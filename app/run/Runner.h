#pragma once
// One headless run: the window's session driven as 再生 drives it, judged
// by what the unit answers, bounded by a time-out on progress.

#include <QStringList>

namespace kestrel::run {

// The runner's main: the exit code, the reason (if any) already on stderr.
// Needs a QCoreApplication.
int runMain(const QStringList& args);

}  // namespace kestrel::run
