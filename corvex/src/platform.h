// What the library needs from the operating system beyond the C++ library:
// one implementation per system (platform_posix.cpp, platform_win32.cpp).
#pragma once

#include <filesystem>
#include <optional>

namespace corvex {

// Socket library set-up, once per process (nothing to do outside Windows).
bool network_startup();
void network_cleanup();

// Shared libraries loaded by name at run time; null when not found.
void* open_library(const char* name);
void* library_symbol(void* library, const char* name);
void close_library(void* library);
// The USB driver library's name as the system's loader searches for it.
const char* driver_library_name();

// The running program's folder; empty when it cannot be told.
std::filesystem::path executable_folder();

// Where "Corvex.ini" is found: by the system's own search order for a file
// named without a path where there is one (Windows), else in the folders of
// settings_search_folders().
std::optional<std::filesystem::path> locate_settings_file();

}  // namespace corvex
