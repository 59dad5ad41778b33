#!/usr/bin/env bash
# Installs the build tree into a temporary prefix and uses the result as a customer
# would: builds the C examples with find_package(Tessivar) and with pkg-config (plain
# compiler line and the examples' Makefile), loads the Python binding from the installed
# SDK folder without any environment hint, and runs an example on the simulated meter.
#
# usage: install_sdk_test.sh BUILD_DIR SANITIZER [TESSIVAR_SIM]
set -euo pipefail

build_dir=$1
sanitizer=${2:-none}
sim=${3:-}

work=$(mktemp -d "${TMPDIR:-/tmp}/tessivar-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build_dir" --prefix "$prefix" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log" >&2; fail "cmake --install"; }

sdk=$prefix/share/tessivar/sdk
libfile=$(find "$prefix" -name 'libtessivar.so.1' | head -n1)
[[ -n $libfile ]] || fail "libtessivar.so.1 not installed"
libdir=$(dirname "$libfile")
for f in "$prefix/include/tessivar/tessivar.h" "$libdir/libtessivar.so" \
         "$libdir/cmake/Tessivar/TessivarConfig.cmake" \
         "$libdir/cmake/Tessivar/TessivarConfigVersion.cmake" \
         "$libdir/cmake/Tessivar/TessivarTargets.cmake" \
         "$libdir/pkgconfig/tessivar.pc" "$prefix/lib/udev/rules.d/70-tessivar.rules" \
         "$prefix/bin/tessivar" "$sdk/README.md" "$sdk/include/tessivar/tessivar.h" \
         "$sdk/examples/CMakeLists.txt" "$sdk/examples/Makefile" "$sdk/examples/scan_read.c" \
         "$sdk/examples/stream_to_file.c" "$sdk/python/tessivar.py" "$sdk/python/pyproject.toml" \
         "$sdk/python/examples/log_csv.py"; do
  [[ -e $f ]] || fail "not installed: ${f#$prefix/}"
done
if [[ -n $sim ]]; then
  [[ -x $prefix/bin/tessivar-sim ]] || fail "not installed: bin/tessivar-sim"
fi
if find "$sdk" -name '__pycache__' | grep -q .; then fail "__pycache__ installed"; fi

# A sanitized library needs the same runtime in every program that links it.
cflags=""
preload=""
case $sanitizer in
  address) cflags="-fsanitize=address,undefined"
           preload="$(gcc -print-file-name=libasan.so):$(gcc -print-file-name=libubsan.so)" ;;
  thread)  cflags="-fsanitize=thread" ;;  # python3 cannot take the TSan runtime: step 4 is skipped
esac

# 1. CMake package. Copy the examples first: the SDK folder may be read-only for users.
cp -r "$sdk/examples" "$work/cmake-examples"
cmake -S "$work/cmake-examples" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" \
      -DCMAKE_C_FLAGS="$cflags" >"$work/cmake.log" 2>&1 ||
  { cat "$work/cmake.log" >&2; fail "configuring the examples with find_package(Tessivar)"; }
cmake --build "$work/cmake-build" >>"$work/cmake.log" 2>&1 ||
  { cat "$work/cmake.log" >&2; fail "building the examples with find_package(Tessivar)"; }
[[ -x $work/cmake-build/scan_read && -x $work/cmake-build/stream_to_file ]] ||
  fail "examples not built by CMake"

# 2. pkg-config, from its own location (the prefix was chosen at install time only).
export PKG_CONFIG_PATH=$libdir/pkgconfig
pkg-config --exists tessivar || fail "pkg-config does not find tessivar"
[[ $(pkg-config --modversion tessivar) == 1.* ]] || fail "pkg-config version"
# shellcheck disable=SC2046
cc -std=c99 -Wall -Werror $cflags "$sdk/examples/scan_read.c" $(pkg-config --cflags --libs tessivar) \
   -o "$work/scan_read_pc" || fail "building scan_read with pkg-config"
cp -r "$sdk/examples" "$work/make-examples"
make -s -C "$work/make-examples" CFLAGS="-O2 -Wall -Werror $cflags" >"$work/make.log" 2>&1 ||
  { cat "$work/make.log" >&2; fail "building the examples with their Makefile"; }
[[ -x $work/make-examples/stream_to_file ]] || fail "Makefile did not build stream_to_file"

# 3. The installed tool finds the installed library by itself; the examples built with
#    pkg-config need the usual library path.
"$prefix/bin/tessivar" --version | grep -q '^tessivar 1\.' || fail "installed tessivar does not run"
status=0
"$prefix/bin/tessivar" scan 2>"$work/scan.err" || status=$?
[[ $status == 1 && $(cat "$work/scan.err") == "No meter found." ]] ||
  fail "installed tessivar scan without a meter: status $status, $(cat "$work/scan.err")"
# The SDK guide's recipe for a non-system prefix: the library's folder as run path.
# shellcheck disable=SC2046
cc -std=c99 -Wall -Werror $cflags "$sdk/examples/scan_read.c" $(pkg-config --cflags --libs tessivar) \
   -Wl,-rpath,"$(pkg-config --variable=libdir tessivar)" -o "$work/scan_read_rpath" ||
  fail "building scan_read with the guide's run path"
status=0
env -u LD_LIBRARY_PATH LD_PRELOAD="$preload" "$work/scan_read_rpath" >/dev/null 2>"$work/rpath.err" ||
  status=$?
[[ $status == 1 ]] && ! grep -q "error while loading shared libraries" "$work/rpath.err" ||
  fail "scan_read built with the run path does not find the library by itself: $(cat "$work/rpath.err")"
export LD_LIBRARY_PATH=$libdir
"$work/scan_read_pc" >/dev/null 2>&1 && fail "scan_read without a meter must exit 1"

# 4. Python binding from the SDK folder, library found relative to it.
[[ $sanitizer == thread ]] || (
  unset TESSIVAR_LIBRARY LD_LIBRARY_PATH
  export LD_PRELOAD=$preload ASAN_OPTIONS=detect_leaks=0:verify_asan_link_order=0
  python3 -c "
import sys; sys.path.insert(0, '$sdk/python')
import tessivar
lib = tessivar.load_library()
assert tessivar.scan() == [], 'no meter expected'
print('python binding loaded', lib._name)
" >"$work/python.log" 2>&1
) || { cat "$work/python.log" >&2; fail "loading the installed Python binding"; }

# 4b. The binding installed into the prefix with pip (pyproject.toml, offline: the
#     setuptools already installed), then imported without sys.path lines: it finds the
#     library of the same prefix.
pip_python=""
for candidate in /usr/bin/python3 python3; do
  if "$candidate" -c "import setuptools, wheel" >/dev/null 2>&1 &&
     "$candidate" -m pip --version >/dev/null 2>&1; then pip_python=$candidate; break; fi
done
if [[ $sanitizer != thread && -n $pip_python ]]; then
  (
    unset TESSIVAR_LIBRARY LD_LIBRARY_PATH
    cp -r "$sdk/python" "$work/pip-src"  # pip builds in the source folder; the SDK may be read-only
    PIP_NO_INDEX=1 "$pip_python" -m pip install --no-build-isolation --no-deps --prefix "$prefix" \
      "$work/pip-src" >"$work/pip.log" 2>&1 || { cat "$work/pip.log"; exit 1; }
    module=$(find "$prefix" -path "*-packages/tessivar.py" | head -n1)
    [[ -n $module ]] || { echo "tessivar.py not installed into a site folder of $prefix"; exit 1; }
    cd "$work"
    export LD_PRELOAD=$preload ASAN_OPTIONS=detect_leaks=0:verify_asan_link_order=0
    PYTHONPATH=$(dirname "$module") "$pip_python" -c "
import tessivar
assert tessivar.__file__.startswith('$prefix'), tessivar.__file__
lib = tessivar.load_library()
assert lib._name.startswith('$prefix'), lib._name
print('pip-installed binding loaded', lib._name)
"
  ) >"$work/pip-python.log" 2>&1 || { cat "$work/pip-python.log" >&2; fail "the binding installed with pip"; }
else
  echo "pip with setuptools and wheel not available: the pip install is not tried" >&2
fi

# 5. With the simulated meter: the examples built against the installed SDK work.
if [[ -n $sim ]]; then
  out=$("$sim" --meters 2 -- "$work/cmake-build/scan_read") || fail "scan_read on two simulated meters"
  [[ $(grep -c '^meter .*firmware' <<<"$out") == 2 ]] || { echo "$out" >&2; fail "scan_read output"; }
  "$sim" --meters 1 -- "$work/make-examples/stream_to_file" "$work/s.csv" 1 >/dev/null ||
    fail "stream_to_file on a simulated meter"
  rows=$(($(wc -l <"$work/s.csv") - 1))
  (( rows >= 20 )) || fail "stream_to_file wrote only $rows rows in 1 s"
fi
echo "install test passed ($prefix)"
