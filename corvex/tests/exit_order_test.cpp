// A caller's own global object closes its board while the process exits,
// after main has returned: the library must still know the board then.
#include <cstdlib>

#include "corvex.h"

namespace {
struct Session {
  CVX_HANDLE handle = 0;
  ~Session() {
    if (handle == 0) std::_Exit(2);
    std::_Exit(CVX_Close(handle) == CVX_OK ? 0 : 1);
  }
} session;
}  // namespace

int main() {
  session.handle = CVX_Open("C0000001");
  return 0;
}
