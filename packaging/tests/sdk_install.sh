#!/bin/sh
# sdk_install.sh CMAKE BUILD SOURCE LIBDIR CC GENERATOR [CFLAGS [LDFLAGS]]:
# installs the build BUILD into a temporary prefix, builds the C clients of
# SOURCE and the installed SDK examples against what was installed, once
# through pkg-config and once through find_package, and runs them against the
# installed driver stand-in; installs the runtime parts alone into another
# prefix and runs kestrel-run there on the expansion board. CFLAGS
# and LDFLAGS are the build's own, so a sanitizer build's clients match it.
set -eu

if [ $# -lt 6 ]; then
  echo "usage: $0 CMAKE BUILD SOURCE LIBDIR CC GENERATOR [CFLAGS [LDFLAGS]]" >&2
  exit 2
fi
cmake=$1 build=$2 source=$3 libdir=$4 cc=$5 generator=$6 cflags=${7:-} ldflags=${8:-}

work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
trap 'exit 1' HUP INT TERM
prefix=$work/prefix
lib=$prefix/$libdir
standin=$lib/kestrel/libkestrel-ftd2xx-sim.so

fail() {
  echo "sdk_install: $*" >&2
  exit 1
}

"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || {
  cat "$work/install.log"
  fail "cmake --install failed"
}

[ -f "$standin" ] || fail "no driver stand-in at $standin"
# Nothing the tests alone use, and nothing the vendor's driver could be mistaken for.
stray=$(find "$prefix" -name 'libftd2xx*' -o -name '*_tests' -o -name '*_bench' -o -name '*NotWexford*' \
  -o -name hold-port -o -name '*c_client')
[ -z "$stray" ] || fail "installed but not for installing: $stray"

# The tester loads libWexford.so through Qt's dlopen, which follows the
# program's DT_RPATH but not a DT_RUNPATH.
for program in KestrelTester kestrel-run; do
  [ -f "$prefix/bin/$program" ] || continue
  dynamic=$(readelf -d "$prefix/bin/$program") || fail "cannot read $program"
  case $dynamic in *"(RUNPATH)"*) fail "$program has a RUNPATH: Qt's dlopen would miss libWexford.so" ;; esac
  case $dynamic in *"(RPATH)"*"\$ORIGIN/"*) ;; *) fail "$program has no \$ORIGIN run path" ;; esac
done

# Every open below names its board or its types; the LAN search stays off all the same.
mkdir "$work/run"
printf '[COMMON]\nSerchNCVX = 0\n' >"$work/run/Corvex.ini"

# The runtime packages' parts alone: the development link libWexford.so is
# not among them, and the runner loads the expansion-board library by its
# runtime name all the same. Its open may search the LAN after USB, so it
# runs in a network namespace of its own, or not at all.
runtime=$work/runtime
for component in corvex wexford tester simulators; do
  "$cmake" --install "$build" --prefix "$runtime" --component $component >>"$work/install.log" 2>&1 || {
    cat "$work/install.log"
    fail "cmake --install --component $component failed"
  }
done
[ ! -e "$runtime/$libdir/libWexford.so" ] || fail "the development link libWexford.so is in a runtime part"
if [ -x "$runtime/bin/kestrel-run" ]; then
  if unshare -rn true 2>/dev/null; then
    out=$(cd "$work/run" && CORVEX_FTD2XX=$runtime/$libdir/kestrel/libkestrel-ftd2xx-sim.so \
      FTSIM_CONFIG=$runtime/share/kestrel/expansion_board.ini LD_LIBRARY_PATH='' \
      unshare -rn timeout 30 "$runtime/bin/kestrel-run" --mode 18 --channels 1 --strobe-ms 10 2>&1) ||
      fail "kestrel-run on the runtime parts: $out"
    case $out in *"[送信]：0001"*) ;; *) fail "kestrel-run on the runtime parts sent no channel: $out" ;; esac
    echo "kestrel-run on the runtime parts: $out"
  else
    echo "sdk_install: no network namespace can be made here; kestrel-run on the runtime parts not run"
  fi
fi

# expect LINE CONFIG PROGRAM: runs PROGRAM with the stand-in serving the boards
# of CONFIG and nothing of the build tree on the loader's path.
expect() {
  line=$1 config=$2 program=$3
  out=$(cd "$work/run" && CORVEX_FTD2XX=$standin FTSIM_CONFIG=$config LD_LIBRARY_PATH=${run_path:-} "$program" 2>&1) ||
    fail "$program: $out"
  [ "$out" = "$line" ] || fail "$program printed '$out', not '$line'"
  echo "$program: $out"
}
corvex_board=$source/corvex/tests/data/c_client.ini
wexford_board=$source/wexford/tests/data/c_client.ini

# pkg-config: linked against the installed libraries, found there at run time.
PKG_CONFIG_PATH=$lib/pkgconfig
export PKG_CONFIG_PATH
for package in corvex wexford; do
  # shellcheck disable=SC2046,SC2086 # flags split into words on purpose
  "$cc" $cflags -o "$work/$package-pc" "$source/$package/tests/c_client.c" $(pkg-config --cflags --libs $package) \
    $ldflags || fail "cannot build against $package.pc"
done
run_path=$lib
expect "port round trip: 0xA0" "$corvex_board" "$work/corvex-pc"
expect "expansion port round trip: 0xA0" "$wexford_board" "$work/wexford-pc"

# The installed examples, built as their comments and the README say: the
# Wexford one calls both libraries and names only wexford.
examples=$prefix/share/doc/libkestrel-dev/examples
[ -f "$examples/CMakeLists.txt" ] || fail "no examples at $examples"
version=$(pkg-config --modversion corvex) || fail "pkg-config knows no corvex"
# shellcheck disable=SC2046,SC2086 # flags split into words on purpose
"$cc" $cflags -o "$work/board_ports" "$examples/board_ports.c" $(pkg-config --cflags --libs corvex) $ldflags ||
  fail "cannot build the installed board_ports.c"
# shellcheck disable=SC2046,SC2086
"$cc" $cflags -o "$work/expansion_ports" "$examples/expansion_ports.c" $(pkg-config --cflags --libs wexford) \
  $ldflags || fail "cannot build the installed expansion_ports.c"
expect "Corvex $version: port 0xFFFFD3 reads 0x3C" "$corvex_board" "$work/board_ports"
expect "Wexford $version: port A reads 0x5A on USB" "$wexford_board" "$work/expansion_ports"

# find_package: the imported targets carry the include folder and the libraries' places.
if ! CMAKE_PREFIX_PATH=$prefix "$cmake" -S "$(dirname "$0")/client" -B "$work/client" -G "$generator" \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_C_FLAGS="$cflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
  -DSDK_PREFIX="$prefix" -DSDK_SOURCE="$source" >"$work/client.log" 2>&1 ||
  ! "$cmake" --build "$work/client" >>"$work/client.log" 2>&1; then
  cat "$work/client.log"
  fail "cannot build against the CMake packages"
fi
run_path=
expect "port round trip: 0xA0" "$corvex_board" "$work/client/corvex_client"
expect "expansion port round trip: 0xA0" "$wexford_board" "$work/client/wexford_client"

if ! CMAKE_PREFIX_PATH=$prefix "$cmake" -S "$examples" -B "$work/examples" -G "$generator" \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_C_FLAGS="$cflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
  >"$work/examples.log" 2>&1 ||
  ! "$cmake" --build "$work/examples" >>"$work/examples.log" 2>&1; then
  cat "$work/examples.log"
  fail "cannot build the installed examples against the CMake packages"
fi
expect "Corvex $version: port 0xFFFFD3 reads 0x3C" "$corvex_board" "$work/examples/board_ports"
expect "Wexford $version: port A reads 0x5A on USB" "$wexford_board" "$work/examples/expansion_ports"
