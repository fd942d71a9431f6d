// Loads the USB driver stand-in named on the command line, as the board
// library would, and touches its boards once; whatever the stand-in says
// about its configuration goes to stderr.
#include <dlfcn.h>

#include <cstdio>

int main(int argc, char* argv[]) {
  if (argc != 2) return 2;
  void* module = dlopen(argv[1], RTLD_NOW);
  if (!module) {
    std::fprintf(stderr, "cannot load %s\n", argv[1]);
    return 1;
  }
  using Board = void* (*)(int);
  const auto board = reinterpret_cast<Board>(dlsym(module, "ftsim_board"));
  if (!board) return 1;
  std::printf("%s\n", board(0) ? "board" : "none");
  return 0;
}
