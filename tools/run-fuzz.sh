#!/bin/sh
# The fuzz targets of tests/fuzz, built natively with clang (libFuzzer,
# AddressSanitizer, UndefinedBehaviorSanitizer) into build/fuzz.
#
#   tools/run-fuzz.sh replay                     each seed and regression input once through its target
#   tools/run-fuzz.sh fuzz SECONDS [TARGET...]   fuzz each target (all when none is named) that long
#
# Fuzzing grows a scratch corpus in build/fuzz/corpus/TARGET, started from the
# seeds and regressions and kept between runs; the repository is not changed.
# An input that crashes a target is saved as build/fuzz/crash-TARGET-*: keep it
# in tests/fuzz/TARGET/regressions once the fault is fixed. Fails when any
# target crashes.
set -e
cd "$(dirname "$0")/.."
sh tools/setup-debian.sh
cmake -S tests/fuzz -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build/fuzz >/dev/null
mode=${1:-replay}
[ $# -gt 0 ] && shift
seconds=0
if [ "$mode" = fuzz ]; then
  seconds=${1:?"usage: tools/run-fuzz.sh fuzz SECONDS [TARGET...]"}
  shift
fi
targets=${*:-"matcher signature_file log_reader command_line command_path text_escape module_list"}
status=0
for target in $targets; do
  inputs=$(find "tests/fuzz/$target/seeds" "tests/fuzz/$target/regressions" -type f ! -name README | sort)
  if [ "$mode" = replay ]; then
    # Files, not folders: libFuzzer then only runs them and writes nothing.
    if ! "build/fuzz/$target" $inputs >"build/fuzz/$target.log" 2>&1; then
      echo "fuzz $target: an input crashes it, see build/fuzz/$target.log" >&2
      status=1
    fi
  else
    corpus=build/fuzz/corpus/$target
    mkdir -p "$corpus"
    cp $inputs "$corpus/"
    echo "Fuzzing $target for $seconds s"
    if ! "build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="build/fuzz/crash-$target-" "$corpus" >"build/fuzz/$target.log" 2>&1; then
      echo "fuzz $target: crashed, see build/fuzz/$target.log and build/fuzz/crash-$target-*" >&2
      status=1
    fi
    grep -E '^stat::number_of_executed_units' "build/fuzz/$target.log" | sed "s/^/  $target /" || true
  fi
done
exit $status
