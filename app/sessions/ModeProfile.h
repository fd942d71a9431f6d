#pragma once
// Everything about one mode of the menu in one record: its port, its entry
// panel and buttons, its variant, its channel bounds, its gate, and whether
// it runs without its window. The menu, the windows, the runner and the demo
// read it; none keeps a copy of its own.

#include "core/ChannelEntry.h"
#include "core/PortSettings.h"
#include "sessions/ModeCatalogue.h"

#include <QString>
#include <optional>
#include <vector>

namespace kestrel {

struct BufferedVariant;
struct BufferedBinaryVariant;
struct FenwickVariant;

struct ButtonSpec {
  int index;  // CmdAction(index)
  QString caption;
  int row;
  int column;
};

// What plays a mode without its window.
enum class Driver { Buffered, Mode1, Mode5, Mode34, Plx6, BufferedBinary, BinaryMode2, Fenwick, Brisk, None };

struct ModeProfile {
  const ModeEntry* entry = nullptr;    // the menu's row: caption, gate, window, sub-mode, logic
  std::optional<PortSettings> port{};  // none: the mode plays through the expansion board
  std::optional<EntryPanelSpec> panel{};
  std::vector<ButtonSpec> buttons{};
  // The session's variant, for the modes whose session takes one.
  const BufferedVariant* buffered = nullptr;
  const BufferedBinaryVariant* bufferedBinary = nullptr;
  const FenwickVariant* fenwick = nullptr;
  int autoMax = 255;  // channels of an automatic run
  int listWidth = 3;  // digits of a list entry
  Driver driver = Driver::None;
  QString notSupported{};  // set: why the mode cannot run headless

  Gate gate() const { return entry->gate; }
};

// Menu entry `mode`, 0 to kModeCount - 1.
const ModeProfile& modeProfile(int mode);
// The profile a window opens with: the first entry naming `window` with
// `subMode`, or that takes none; failing that, the first naming `window`.
const ModeProfile& windowProfile(const QString& window, int subMode = -1);

}  // namespace kestrel
