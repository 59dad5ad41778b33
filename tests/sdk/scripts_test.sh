#!/usr/bin/env bash
# scripts/build keeps standard output free for the program that ./scripts/run starts:
# configure and build output and its messages go to standard error; a first build says
# that it builds and about how long it takes; a failed build fails the script.
# Runs scripts/build against a stand-in cmake in a scratch build root, so nothing is built.
#
# usage: scripts_test.sh REPO_ROOT
set -euo pipefail
repo=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/tessivar-scripts.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

mkdir "$work/bin"
cat >"$work/bin/cmake" <<'FAKE'
#!/usr/bin/env bash
# Stand-in for cmake: configure makes build.ninja, build prints what ninja prints.
if [[ $1 == --build ]]; then
  echo "[1/2] Building CXX object x.o"
  echo "warning: something the compiler said"
  echo "[2/2] Linking CXX executable x"
  exit "${FAKE_BUILD_STATUS:-0}"
fi
while [[ $# -gt 0 ]]; do
  if [[ $1 == -B ]]; then mkdir -p "$2" && touch "$2/build.ninja"; fi
  shift
done
echo "-- Configuring done"
FAKE
chmod +x "$work/bin/cmake"

run_build() {  # status, stdout and stderr of scripts/build into globals
  status=0
  PATH="$work/bin:$PATH" TESSIVAR_BUILD_ROOT="$work/root" "$repo/scripts/build" normal \
    >"$work/out" 2>"$work/err" || status=$?
}

run_build
[[ $status == 0 ]] || fail "first build: status $status: $(cat "$work/err")"
[[ ! -s $work/out ]] || fail "first build wrote to standard output: $(cat "$work/out")"
grep -q "^First build of $work/root/normal: .*minutes" "$work/err" || fail "no first-build notice: $(cat "$work/err")"
grep -q "^Built $work/root/normal in [0-9]* s\.$" "$work/err" || fail "no build time: $(cat "$work/err")"
grep -q "warning: something" "$work/err" || fail "compiler output lost"
if grep -q '^\[1/2\]' "$work/err"; then fail "progress lines are not filtered"; fi

run_build
[[ $status == 0 && ! -s $work/out ]] || fail "second build: status $status, stdout $(cat "$work/out")"
if grep -q "First build" "$work/err"; then fail "a later build calls itself the first"; fi

FAKE_BUILD_STATUS=3 run_build
[[ $status == 3 ]] || fail "a failed build must fail the script (status $status)"
[[ ! -s $work/out ]] || fail "failed build wrote to standard output"
grep -q "^Building $work/root/normal failed\.$" "$work/err" || fail "no failure message: $(cat "$work/err")"
echo "1 passed, 0 failed"
