#pragma once
// The twenty control modes of the main menu.

#include <QString>
#include <array>

namespace kestrel {

enum class Gate { None, Access1, Access2, Board, Disabled };
enum class MenuColumn { Serial, Binary };

struct ModeEntry {
  QString caption;
  Gate gate;
  const char* window;  // nullptr: opens nothing
  int subMode;         // -1: not set
  int positiveLogic;   // -1: not set
  MenuColumn column;
};

// The codes the two access gates ask for.
inline const QString kAccessCode01 = QStringLiteral("k7mq2xw9");
inline const QString kAccessCode02 = QStringLiteral("v4tr8");

constexpr int kModeCount = 20;
extern const std::array<ModeEntry, kModeCount> kModeCatalogue;

}  // namespace kestrel
