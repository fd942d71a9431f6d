#include "core/LinkPort.h"

#include "core/ModString.h"

namespace kestrel {

bool LinkPort::writeText(const QString& text) { return write(toCp932(text)); }

}  // namespace kestrel
