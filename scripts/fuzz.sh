#!/usr/bin/env bash
# Fuzzes the code file readers. Builds the fuzz targets with clang, libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer in build-fuzz/ and runs every target
# for SECONDS seconds, each on its own working corpus (build-fuzz/corpus/TARGET) seeded
# from fuzz/corpus/TARGET. Any finding (crash, sanitizer report, broken check, leak,
# time-out, memory blow-up) fails the script; the input that caused it is kept in
# build-fuzz/findings/TARGET/ and the log in build-fuzz/logs/TARGET.log.
#
#   scripts/fuzz.sh SECONDS [TARGET...]    targets: intel_hex srecord motbrec xml_container elf
#
#   FUZZ_JOBS=2     run two targets at a time (default 1)
#   FUZZ_RUNS=N     stop a target after N executions when that comes before SECONDS
#
# A finding is replayed with: build-fuzz/fuzz/fuzz_TARGET build-fuzz/findings/TARGET/crash-...
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -lt 1 ] || ! [[ "$1" =~ ^[0-9]+$ ]]; then
  echo "usage: scripts/fuzz.sh SECONDS [TARGET...]" >&2
  exit 2
fi
seconds="$1"
shift
all=(intel_hex srecord motbrec xml_container elf)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all[@]}")
for t in "${targets[@]}"; do
  [[ " ${all[*]} " == *" $t "* ]] || { echo "unknown target $t (${all[*]})" >&2; exit 2; }
done
jobs="${FUZZ_JOBS:-1}"

# clang and libFuzzer are needed for fuzzing only; the normal build does without them.
has_libfuzzer() {
  command -v clang++ > /dev/null || return 1
  local probe
  probe="$(mktemp -d)"
  echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' > "$probe/p.cpp"
  clang++ -fsanitize=fuzzer,address,undefined "$probe/p.cpp" -o "$probe/p" > /dev/null 2>&1
  local rc=$?
  rm -rf "$probe"
  return $rc
}
scripts/install-deps.sh
if ! has_libfuzzer; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends clang libclang-rt-dev
  has_libfuzzer || { echo "clang cannot link libFuzzer" >&2; exit 1; }
fi

cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DVORLO_FUZZ=ON -DVORLO_TESTS=OFF > /dev/null
build_targets=()
for t in "${targets[@]}"; do build_targets+=(--target "fuzz_$t"); done
cmake --build build-fuzz -j"$(nproc)" "${build_targets[@]}"

export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export ASAN_OPTIONS=abort_on_error=1
mkdir -p build-fuzz/logs

# Runs one target; prints its execution count and fails on a finding.
run_target() {
  local t="$1"
  local log="build-fuzz/logs/$t.log"
  mkdir -p "build-fuzz/corpus/$t" "build-fuzz/findings/$t"
  local extra=()
  [ -f "fuzz/$t.dict" ] && extra+=("-dict=fuzz/$t.dict")
  [ -n "${FUZZ_RUNS:-}" ] && extra+=("-runs=$FUZZ_RUNS")
  local rc=0
  "build-fuzz/fuzz/fuzz_$t" "build-fuzz/corpus/$t" "fuzz/corpus/$t" -max_total_time="$seconds" \
    -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="build-fuzz/findings/$t/" \
    "${extra[@]}" > "$log" 2>&1 || rc=$?
  local runs
  runs="$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | grep -o '[0-9]*$' || true)"
  if [ $rc -ne 0 ] || ls "build-fuzz/findings/$t" | grep -q .; then
    echo "$t: FINDING after ${runs:-?} executions, see $log and build-fuzz/findings/$t/"
    grep -m 5 -E 'ERROR|runtime error|fuzz:|SUMMARY' "$log" || true
    return 1
  fi
  echo "$t: clean, ${runs:-?} executions in $seconds s at most"
}

failed=0
running=0
for t in "${targets[@]}"; do
  if [ "$running" -ge "$jobs" ]; then
    wait -n || failed=1
    running=$((running - 1))
  fi
  run_target "$t" &
  running=$((running + 1))
done
while [ "$running" -gt 0 ]; do
  wait -n || failed=1
  running=$((running - 1))
done
exit $failed
