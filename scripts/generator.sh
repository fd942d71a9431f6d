# Sourced by the build scripts. Prints the CMake generator option for a
# build folder: Ninja where it is installed and the folder is new or already
# uses it (CMake refuses to switch a folder's generator), else nothing.
cmake_generator() {
  local dir=$1
  command -v ninja >/dev/null 2>&1 || return 0
  if [ ! -f "$dir/CMakeCache.txt" ] || grep -q '^CMAKE_GENERATOR:INTERNAL=Ninja$' "$dir/CMakeCache.txt"; then
    echo "-GNinja"
  fi
}
