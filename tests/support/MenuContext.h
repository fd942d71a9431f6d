#pragma once
// What the menu hands a shared window for one of its entries.

#include "kit/TestWindows.h"

namespace kestrel::test {

inline WindowContext menuContext(int subMode, int positiveLogic = 0) {
  WindowContext context;
  context.SubMode = qint16(subMode);
  context.PositiveLogic = qint16(positiveLogic);
  return context;
}

}  // namespace kestrel::test
