#pragma once
// kestrel-results: lists, shows, exports and reports the runs a results
// store holds.

#include <QStringList>

namespace kestrel::results::tool {

constexpr int kExitOk = 0;
constexpr int kExitStore = 1;  // the store or an output failed
constexpr int kExitBadArguments = 2;
constexpr int kExitNotFound = 3;  // show: no run, or more than one, by that ID

// The program, given its arguments without the program's name.
int resultsMain(const QStringList& args);

}  // namespace kestrel::results::tool
