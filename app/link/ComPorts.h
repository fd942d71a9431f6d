#pragma once
// Where a port number goes on this machine: KESTREL_COM<n> if set,
// otherwise the n-th built-in serial port.

#include <QString>

namespace kestrel {

constexpr int kComPortCount = 8;

QString comPortDevice(int portNumber);

}  // namespace kestrel
