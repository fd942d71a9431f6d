// Loads the library by hand, leaves a board open and unloads the library:
// the board must have been closed on the way out.
#include <gtest/gtest.h>
#include <dlfcn.h>

#include <cstdlib>

#include "corvex.h"
#include "d2xx.h"

TEST(Unload, OpenBoardsAreClosedWhenTheLibraryUnloads) {
  void* driver = dlopen(std::getenv("CORVEX_FTD2XX"), RTLD_NOW);
  ASSERT_NE(driver, nullptr);
  const auto ft_open = reinterpret_cast<FT_Open_t>(dlsym(driver, "FT_Open"));
  const auto ft_close = reinterpret_cast<FT_Close_t>(dlsym(driver, "FT_Close"));

  void* library = dlopen(CORVEX_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  const auto open = reinterpret_cast<CVX_HANDLE (*)(const char*)>(dlsym(library, "CVX_Open"));
  ASSERT_NE(open("C0000001"), 0u);
  FT_HANDLE device = nullptr;
  EXPECT_EQ(ft_open(0, &device), FT_DEVICE_NOT_OPENED) << "the library holds the board";

  ASSERT_EQ(dlclose(library), 0);
  ASSERT_EQ(ft_open(0, &device), FT_OK) << "unloading released the board";
  EXPECT_EQ(ft_close(device), FT_OK);
}
