#!/bin/sh
# Benchmark of the walk and the scan under 64-bit Wine: files per second of a
# bare directory walk, a walk that opens and reads every file, the count pass,
# the scan pass with an engine that returns at once and with kxsoc.dll, their
# ratios against the targets, and the scan's peak working set at 20,000 and
# 200,000 files. Also times clamscan on the same tree when it is installed.
# And large files: kxsoc.dll, and the engine as it was before its matcher
# skipped to the bytes that can open a pattern, against the open-and-read walk
# over 2,000 files of 64 KiB to 1 MiB and over the matcher's worst case.
# And the logs ("logs" alone): kxlogcat on a 100 MB log into a file and into
# the null device, the writer's first append to a 10 MB log (it walks the
# whole log once) against its next append and against a first append to an
# empty log, and the engine's first scan with a signature file of 50,000 bad
# lines, now and before skipped lines were counted instead of each named.
# And findings ("findings" alone): the real window on folders where every
# file is the EICAR test file against the same folders of clean files (1,000,
# 4,000 and 10,000 files), and the window of commit d2c4d36^ (before findings
# were listed in batches) on 1,000 of each; a cure pass of 1,000, 4,000 and
# 10,000 findings through the window against the same pass without a window
# (the engine's cure calls and the virus-log records alone); the timer's
# refresh and the list's scrolling with 1,000 and 10,000 rows; a finding's
# path links, recorded and looked at again, by the depth of its path; the
# module lister's output parsed, by its lines.
# Every figure comes from this one run: compare the ratios, not the absolute
# rates of different runs or machines.
#
# Usage: tools/bench/run-bench.sh [ROUNDS] [large|logs|findings]   (default 3
# rounds, the median kept; a part named measures that part alone; the logs
# are measured only when named)
# BENCH_BUILD_DIR=build/<dir> uses that build tree instead of the win64 preset.
set -e
cd "$(dirname "$0")/../.."
root=$(pwd)
rounds=${1:-3}
only=${2:-}

sh tools/setup-debian.sh
if [ -n "$BENCH_BUILD_DIR" ]; then
  build=$root/$BENCH_BUILD_DIR
else
  cmake --preset win64 >/dev/null
  build=$root/build/win64
fi
cmake --build "$build" --target scan_bench window_bench log_bench kxlogcat kxscan kxsoc locale >/dev/null

prefix=$root/build/bench-prefix
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
server=/usr/lib/wine/wineserver
if [ ! -f "$prefix/.bench-ready" ]; then
  echo "Making the Wine prefix $prefix"
  mkdir -p "$prefix"
  $wine wineboot -i >/dev/null 2>&1
  # The scan window runs under Xvfb without a window manager.
  $wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  $server -w
  touch "$prefix/.bench-ready"
fi

bench=$prefix/drive_c/bench
mkdir -p "$bench/engine"
cp "$build/scan_bench.exe" "$build/window_bench.exe" "$bench/"
# The engine folder is also the installation kxscan.exe runs from.
mkdir -p "$bench/engine/locale"
cp "$build/kxsoc.dll" "$build/kxscan.exe" engine/kxsoc.sig "$bench/engine/"
cp "$build"/locale/*.lib "$bench/engine/locale/"

# 100 small files (15 to 600 bytes) per folder, two folder levels, and five
# EICAR files spread over the tree.
make_tree() {
  python3 - "$1" "$2" <<'EOF'
import os, sys
root, total = sys.argv[1], int(sys.argv[2])
eicar = rb"X5O!P%@AP[4\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*"
per_folder, top = 100, 20
folders = total // per_folder
eicar_at = {total * k // 5 + 7 for k in range(5)}
n = 0
for f in range(folders):
    folder = os.path.join(root, "d%02d" % (f % top), "s%04d" % (f // top))
    os.makedirs(folder, exist_ok=True)
    for i in range(per_folder):
        data = eicar if n in eicar_at else (b"kxbench %07d " % n) * (1 + n % 40)
        with open(os.path.join(folder, "f%03d.txt" % i), "wb") as out:
            out.write(data)
        n += 1
EOF
}
# Large files: 2,000 of 64 KiB to 1 MiB of random bytes in 20 folders, five
# of them with a signature at their very end; and the matcher's worst case,
# 200 such files of nothing but "K", the byte that opens every example
# pattern, so that the matcher never gets back to its start state.
make_large() {
  python3 - "$1" "$2" "$3" <<'EOF'
import os, random, sys
root, count, fill = sys.argv[1], int(sys.argv[2]), sys.argv[3]
rng = random.Random(64)
marker = b"KXDEMO:VIRUS:TAIL"
for n in range(count):
    folder = os.path.join(root, "d%02d" % (n // 100))
    os.makedirs(folder, exist_ok=True)
    size = rng.randint(64 * 1024, 1024 * 1024)
    data = rng.randbytes(size) if fill == "random" else b"K" * size
    if fill == "random" and n % (count // 5) == 7:
        data = data[:-len(marker)] + marker
    with open(os.path.join(folder, "f%04d.bin" % n), "wb") as out:
        out.write(data)
EOF
}
for tree in large:2000:random worst:200:K; do
  { [ "$only" = logs ] || [ "$only" = findings ]; } && break
  name=${tree%%:*}
  if [ ! -f "$bench/$name.ready" ]; then
    echo "Making the large-file tree $bench/$name"
    rm -rf "$bench/$name"
    make_large "$bench/$name" "$(echo "$tree" | cut -d: -f2)" "${tree##*:}"
    touch "$bench/$name.ready"
  fi
done
# The window before findings were listed in batches, built from its sources of then.
kxbefore=$root/build/bench-kxscan-before
if { [ -z "$only" ] || [ "$only" = findings ]; } && [ ! -f "$kxbefore/build/kxscan.exe" ]; then
  echo "Building kxscan.exe of commit d2c4d36^ in $kxbefore"
  rm -rf "$kxbefore"
  mkdir -p "$kxbefore/src"
  git archive d2c4d36^ | tar -x -C "$kxbefore/src"
  cmake -S "$kxbefore/src" -B "$kxbefore/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$kxbefore/src/cmake/mingw-x86_64.cmake" >/dev/null
  cmake --build "$kxbefore/build" --target kxscan >/dev/null
fi
# The engine before the vectorised skip, built from its sources of then.
before=$root/build/bench-engine-before
if [ ! -f "$before/kxsoc.dll" ]; then
  echo "Building the engine of commit 41d1cb7^ in $before"
  rm -rf "$before"
  mkdir -p "$before"
  git archive 41d1cb7^ engine framework | tar -x -C "$before"
  x86_64-w64-mingw32-g++-posix -std=c++20 -O3 -DNDEBUG -DWIN32_LEAN_AND_MEAN -DNOMINMAX -D_WIN32_WINNT=0x0601 \
    -I"$before" -shared -static -o "$before/kxsoc.dll" "$before/engine/kxsoc.cpp" "$before/engine/signatures.cpp"
fi
mkdir -p "$bench/engine-before"
cp "$before/kxsoc.dll" engine/kxsoc.sig "$bench/engine-before/"

# Findings: folders of N files that are all the EICAR test file (eN) or all
# clean (cN), 100 to a folder.
make_findings_tree() {
  python3 - "$1" "$2" "$3" <<'EOF'
import os, sys
root, total, kind = sys.argv[1], int(sys.argv[2]), sys.argv[3]
eicar = rb"X5O!P%@AP[4\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*"
for n in range(total):
    folder = os.path.join(root, "d%03d" % (n // 100))
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "f%05d.txt" % n), "wb") as out:
        out.write(eicar if kind == "e" else (b"kxbench %07d " % n) * (1 + n % 40))
EOF
}
if [ -z "$only" ] || [ "$only" = findings ]; then
  mkdir -p "$bench/before/locale"
  cp "$kxbefore/build/kxscan.exe" "$build/kxsoc.dll" engine/kxsoc.sig "$bench/before/"
  cp "$build"/locale/*.lib "$bench/before/locale/"
  for size in 1000 4000 10000; do
    for kind in e c; do
      if [ ! -f "$bench/findings/$kind$size.ready" ]; then
        echo "Making a findings tree of $size files in $bench/findings/$kind$size"
        rm -rf "$bench/findings/$kind$size"
        make_findings_tree "$bench/findings/$kind$size" $size $kind
        touch "$bench/findings/$kind$size.ready"
      fi
    done
  done
fi

for size in 20000 200000; do
  [ -n "$only" ] && break
  if [ ! -f "$bench/t$size.ready" ]; then
    echo "Making a tree of $size files in $bench/t$size"
    rm -rf "$bench/t$size"
    make_tree "$bench/t$size" $size
    touch "$bench/t$size.ready"
  fi
done

results=$(mktemp)
xvfb=""
if [ -z "$DISPLAY" ] && [ "$only" != large ] && [ "$only" != logs ]; then
  display=80
  while [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
  Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  export DISPLAY=":$display"
fi
nohup $server -p >"$prefix/../bench-wineserver.log" 2>&1 </dev/null &
trap 'rm -f "$results"; $server -k 2>/dev/null; $server -w 2>/dev/null; [ -z "$xvfb" ] || kill $xvfb' EXIT INT TERM
$wine wineboot >/dev/null 2>&1 </dev/null
$wine reg add 'HKLM\SOFTWARE\Tarnwick Systems\Korvex' /v InstallPath /d 'C:\bench\engine' /f /reg:64 >/dev/null 2>&1

exe="C:\\bench\\scan_bench.exe"
engine="C:\\bench\\engine"
run() { $wine "$exe" "$@" </dev/null; }

if [ "$only" = logs ]; then
  cp "$build/log_bench.exe" "$build/kxlogcat.exe" "$bench/"
  mkdir -p "$bench/engine/Logs" "$bench/one"
  echo clean >"$bench/one/f.txt"
  log() { $wine 'C:\bench\log_bench.exe' "$@" </dev/null; }
  [ -f "$bench/log100.log" ] || log make 'C:\bench\log100.log' 100 >/dev/null
  [ -f "$bench/log10.log" ] || log make 'C:\bench\log10.log' 10 >/dev/null
  log make 'C:\bench\log0.log' 0 >/dev/null
  # The engine before skipped signature lines were counted, built from its sources of then.
  sigbefore=$root/build/bench-engine-sig-before
  if [ ! -f "$sigbefore/kxsoc.dll" ]; then
    echo "Building the engine of commit dc9979e in $sigbefore"
    rm -rf "$sigbefore"
    mkdir -p "$sigbefore"
    git archive dc9979e engine framework app | tar -x -C "$sigbefore"
    x86_64-w64-mingw32-g++-posix -std=c++20 -O3 -DNDEBUG -DWIN32_LEAN_AND_MEAN -DNOMINMAX -D_WIN32_WINNT=0x0601 \
      -I"$sigbefore" -shared -static -o "$sigbefore/kxsoc.dll" "$sigbefore/engine/kxsoc.cpp" \
      "$sigbefore/engine/signatures.cpp" "$sigbefore/engine/signature_file.cpp" "$sigbefore/app/exact_path.cpp"
  fi
  for engine in badsig:"$build" badsig-before:"$sigbefore"; do
    mkdir -p "$bench/${engine%%:*}"
    cp "${engine#*:}/kxsoc.dll" "$bench/${engine%%:*}/"
    python3 -c 'import sys; sys.stdout.write("Bad | x | 1 | fail | 41\n" * 50000)' >"$bench/${engine%%:*}/kxsoc.sig"
  done
  echo "Measuring the logs, $rounds rounds"
  log cat 'C:\bench\kxlogcat.exe' 'C:\bench\log100.log' NUL >/dev/null
  i=0
  while [ $i -lt "$rounds" ]; do
    cp "$bench/log10.log" "$bench/engine/Logs/ten.log"
    cp "$bench/log100.log" "$bench/engine/Logs/hundred.log"
    cp "$bench/log0.log" "$bench/engine/Logs/empty.log"
    log append ten.log | sed "s/^/log=10MB /" >>"$results"
    log append hundred.log | sed "s/^/log=100MB /" >>"$results"
    log append empty.log | sed "s/^/log=empty /" >>"$results"
    log cat 'C:\bench\kxlogcat.exe' 'C:\bench\log100.log' 'C:\bench\cat.out' >>"$results"
    log cat 'C:\bench\kxlogcat.exe' 'C:\bench\log100.log' NUL >>"$results"
    for engine in badsig badsig-before; do
      run scan-engine 'C:\bench\one' "C:\\bench\\$engine" | sed "s/^/sig=$engine /" >>"$results"
    done
    i=$((i + 1))
  done
  rm -f "$bench/cat.out" "$bench/engine/Logs/hundred.log"
  python3 - "$results" <<'EOF'
import statistics, sys
rows = [dict(part.split("=", 1) for part in line.split()) for line in open(sys.argv[1])]
def median(key, **match):
    return statistics.median(float(r[key]) for r in rows if all(r.get(k) == v for k, v in match.items()))
print()
print("The logs (median of %d)" % len([r for r in rows if r.get("log") == "10MB"]))
for into in ("file", "nul"):
    print("  kxlogcat, 100 MB log into %-4s  %6.2f s  %6.1f MB/s" % (
        into, median("seconds", mode="cat", into=into), median("mb_per_s", mode="cat", into=into)))
first, following = median("first_us", log="10MB"), median("next_us", log="10MB")
print("  first append to a 10 MB log     %8.0f us (the next one %.0f us, the first to an empty log %.0f us)"
      % (first, following, median("first_us", log="empty")))
print("  first append to a 100 MB log    %8.0f us (the next one %.0f us)"
      % (median("first_us", log="100MB"), median("next_us", log="100MB")))
now, before = median("seconds", sig="badsig"), median("seconds", sig="badsig-before")
print("  first scan, 50,000 bad signature lines: %.3f s, before %.3f s (%.0fx faster)" % (now, before, before / now))
EOF
  exit 0
fi

window() { $wine 'C:\bench\window_bench.exe' "$@" </dev/null; }
if [ "$only" != large ]; then
echo "Measuring findings, $rounds rounds"
# A cure changes its files: each pass gets a fresh copy of its folder.
cure_copy() {
  rm -rf "$bench/findings/cure"
  cp -r "$bench/findings/e$1" "$bench/findings/cure"
}
i=0
while [ $i -lt "$rounds" ]; do
  for size in 1000 4000 10000; do
    for kind in c e; do
      window window-scan 'C:\bench\engine\kxscan.exe' "C:\\bench\\findings\\$kind$size" |
        sed "s/^/findings=$kind$size /" >>"$results"
    done
    cure_copy $size
    window window-cure 'C:\bench\engine\kxscan.exe' 'C:\bench\findings\cure' | sed "s/^/findings=e$size /" >>"$results"
    cure_copy $size
    run cure-engine 'C:\bench\findings\cure' "$engine" | sed "s/^/findings=e$size /" >>"$results"
  done
  for kind in c e; do
    window window-scan 'C:\bench\before\kxscan.exe' "C:\\bench\\findings\\${kind}1000" |
      sed "s/^/findings=${kind}1000 before=1 /" >>"$results"
  done
  for rows in 1000 10000; do
    window refresh 'C:\bench\findings\c10000' $rows | sed "s/^/findings=c10000 /" >>"$results"
  done
  # A finding's links, recorded when listed and looked at before its cure,
  # by the depth of its path; and the module lister's output, by its lines.
  for depth in 2 8 30 60; do run cure-guard 'C:\bench\guard' $depth >>"$results"; done
  for lines in 10000 200000; do run module-list $lines >>"$results"; done
  i=$((i + 1))
done
rm -rf "$bench/findings/cure" "$bench/guard"
fi

[ "$only" = findings ] || echo "Measuring large files, $rounds rounds"
for tree in large worst; do
  [ "$only" = findings ] && break
  run openread "C:\\bench\\$tree" >/dev/null
done
i=0
while [ $i -lt "$rounds" ] && [ "$only" != findings ]; do
  for tree in large worst; do
    run openread "C:\\bench\\$tree" | sed "s/^/tree=$tree /" >>"$results"
    run scan-engine "C:\\bench\\$tree" "$engine" | sed "s/^/tree=$tree /" >>"$results"
    run scan-engine "C:\\bench\\$tree" 'C:\bench\engine-before' | sed "s/^/tree=$tree engine=before /" >>"$results"
  done
  i=$((i + 1))
done

if [ "$only" != large ] && [ "$only" != findings ]; then
echo "Warming the caches"
run openread 'C:\bench\t20000' >/dev/null
run bare 'C:\bench\t200000' >/dev/null

echo "Measuring 20,000 files, $rounds rounds"
i=0
while [ $i -lt "$rounds" ]; do
  for mode in bare bare-sleep0 openread count scan-instant bare-busy scan-instant-busy; do
    run $mode 'C:\bench\t20000' | sed "s/^/tree=20000 /" >>"$results"
  done
  run scan-engine 'C:\bench\t20000' "$engine" | sed "s/^/tree=20000 /" >>"$results"
  $wine 'C:\bench\window_bench.exe' window-scan 'C:\bench\engine\kxscan.exe' 'C:\bench\t20000' </dev/null |
    sed "s/^/tree=20000 /" >>"$results"
  $wine 'C:\bench\window_bench.exe' refresh 'C:\bench\t20000' </dev/null >>"$results"
  i=$((i + 1))
done
run sleep0 200000 >>"$results"
run sleep0-busy 20000 >>"$results"

echo "Measuring 200,000 files"
run scan-instant 'C:\bench\t200000' | sed "s/^/tree=200000 /" >>"$results"
run scan-engine 'C:\bench\t200000' "$engine" | sed "s/^/tree=200000 /" >>"$results"
# The whole program, hidden and closing by itself when clean, as the product's
# scheduled scans start it; and the window's objects, counted in its own process.
for size in 20000 200000; do
  $wine 'C:\bench\window_bench.exe' window-scan 'C:\bench\engine\kxscan.exe' "C:\\bench\\t$size" /HD /SC </dev/null |
    sed "s/^/tree=$size hidden=1 /" >>"$results"
  $wine 'C:\bench\window_bench.exe' objects "C:\\bench\\t$size" </dev/null | sed "s/^/tree=$size /" >>"$results"
done

if command -v clamscan >/dev/null 2>&1; then
  echo "Timing clamscan"
  db=$prefix/../bench-eicar.hdb
  printf '%s' 'X5O!P%@AP[4\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*' >"$db.tmp"
  echo "$(md5sum <"$db.tmp" | cut -d' ' -f1):68:Bench.EICAR" >"$db"
  rm -f "$db.tmp"
  # Once only: it takes longer than all the other 20,000-file runs together.
  start=$(date +%s.%N)
  found=$(clamscan -r --no-summary -i -d "$db" "$bench/t20000" | grep -c FOUND || true)
  end=$(date +%s.%N)
  echo "tree=20000 mode=clamscan files=20000 seconds=$(awk "BEGIN { print $end - $start }") infections=$found" >>"$results"
fi
fi

python3 - "$results" <<'EOF'
import statistics, sys
rows = []
for line in open(sys.argv[1]):
    rows.append(dict(part.split("=", 1) for part in line.split()))

def runs(mode, tree="20000", engine=None):
    return [r for r in rows if r.get("mode") == mode and r.get("tree") == tree and not r.get("hidden")
            and r.get("engine") == engine]

def rate(mode, tree="20000", engine=None):
    values = [int(r["files"]) / float(r["seconds"]) for r in runs(mode, tree, engine) if float(r["seconds"]) > 0]
    return statistics.median(values) if values else None

if runs("openread", "large"):
    print()
    print("Large files (median of %d)                              files/s" % len(runs("openread", "large")))
    for tree, label in (("large", "2,000 files, 64 KiB-1 MiB, random"), ("worst", "200 files of \"K\", worst case")):
        for mode, engine, what in (("openread", None, "open-and-read walk"), ("scan-engine", None, "kxsoc.dll"),
                                   ("scan-engine", "before", "kxsoc.dll before")):
            print("  %-34s %-18s %7.1f" % (label, what, rate(mode, tree, engine)))
    found = sorted({r.get("infections") for r in runs("scan-engine", "large") + runs("scan-engine", "large", "before")})
    print("  signatures found at the end of large files (kxsoc.dll, before):", ", ".join(found))
    checks = [("large: kxsoc.dll / open-read", rate("scan-engine", "large") / rate("openread", "large"), 0.8),
              # No slower than before: equal within the noise of these machines.
              ("worst: kxsoc.dll / before", rate("scan-engine", "worst") / rate("scan-engine", "worst", "before"), 0.95)]
    for label, ratio, target in checks:
        print("%-28s %5.2f  target >= %.2f  %s" % (label, ratio, target, "PASS" if ratio >= target else "MISS"))
    for label, ratio in (("large: before / open-read", rate("scan-engine", "large", "before") / rate("openread", "large")),
                         ("worst: kxsoc.dll / open-read", rate("scan-engine", "worst") / rate("openread", "worst")),
                         ("worst: before / open-read", rate("scan-engine", "worst", "before") / rate("openread", "worst"))):
        print("%-28s %5.2f" % (label, ratio))

def median(values):
    values = list(values)
    return statistics.median(values) if values else None

def seconds(mode, findings, before=False, key="whole_seconds"):
    return median(float(r[key]) for r in rows if r.get("mode") == mode and r.get("findings") == findings
                  and bool(r.get("before")) == before)

if seconds("window-scan", "e1000") is not None:
    print()
    print("Findings through the kxscan.exe window (median of %d), seconds from the process's start to the summary"
          % len([r for r in rows if r.get("mode") == "window-scan" and r.get("findings") == "e1000"
                 and not r.get("before")]))
    print("  %-7s %9s %9s %7s %12s" % ("files", "clean", "EICAR", "ratio", "ms/finding"))
    for size in ("1000", "4000", "10000"):
        clean, found = seconds("window-scan", "c" + size), seconds("window-scan", "e" + size)
        print("  %-7s %9.2f %9.2f %7.2f %12.3f" % (size, clean, found, found / clean,
                                                 (found - clean) * 1000 / int(size)))
    clean, found = seconds("window-scan", "c1000", True), seconds("window-scan", "e1000", True)
    print("  %-7s %9.2f %9.2f %7.2f %12.3f  (the window of d2c4d36^)" % ("1000", clean, found, found / clean,
                                                                       (found - clean) * 1000 / 1000))
    ratio = seconds("window-scan", "e4000") / seconds("window-scan", "c4000")
    print("%-44s %5.2f  target <= 1.5  %s" % ("4,000 EICAR / 4,000 clean", ratio, "PASS" if ratio <= 1.5 else "MISS"))
    extra = seconds("window-scan", "e10000") - seconds("window-scan", "c10000")
    print("%-44s %5.2f  target <= 10 s  %s" % ("10,000 EICAR - 10,000 clean, seconds", extra,
                                                  "PASS" if extra <= 10 else "MISS"))
    print()
    print("Cure pass, /AC after the scan: us per row")
    print("  %-7s %9s %14s %9s" % ("rows", "window", "without window", "beyond"))
    worst = 0
    for size in ("1000", "4000", "10000"):
        through = seconds("window-cure", "e" + size, key="us_per_row")
        alone = seconds("cure-engine", "e" + size, key="us_per_row")
        worst = max(worst, through - alone)
        print("  %-7s %9.0f %14.0f %9.0f" % (size, through, alone, through - alone))
    print("%-44s %5.0f  target <= 1000 us  %s" % ("cure beyond engine and virus log, worst", worst,
                                                   "PASS" if worst <= 1000 else "MISS"))
    print()
    print("The list with many rows: us per refresh tick, per page scrolled, per row scrolled (each repainted)")
    for count in ("1000", "10000"):
        picked = [r for r in rows if r.get("mode") == "refresh" and r.get("findings") and r.get("rows") == count]
        print("  %6s rows: %7.0f %7.0f %7.0f" % (count, median(float(r["us_per_tick"]) for r in picked),
                                                 median(float(r["us_per_page"]) for r in picked),
                                                 median(float(r["us_per_row_scroll"]) for r in picked)))
    print()
    print("A finding's path links, us: recorded when listed, looked at before the cure")
    for names in sorted({int(r["names"]) for r in rows if r.get("mode") == "cure-guard"}):
        picked = [r for r in rows if r.get("mode") == "cure-guard" and r.get("names") == str(names)]
        print("  %3d names: %7.1f %7.1f  (%.1f a name)" % (names, median(float(r["record_us"]) for r in picked),
                                                       median(float(r["check_us"]) for r in picked),
                                                       median(float(r["us_per_name"]) for r in picked)))
    print("The module lister's output parsed, as a scan on 64-bit Windows reads it")
    for lines in sorted({int(r["lines"]) for r in rows if r.get("mode") == "module-list"}):
        picked = [r for r in rows if r.get("mode") == "module-list" and r.get("lines") == str(lines)]
        print("  %7d lines (%4.1f MB): %8.4f s" % (lines, median(float(r["mb"]) for r in picked),
                                                 median(float(r["seconds"]) for r in picked)))

if not runs("bare"):
    sys.exit(0)

print()
print("%-28s %12s %8s" % ("20,000 files (median of %d)" % len(runs("bare")), "files/s", "runs"))
names = [("bare", "bare FindFirst/FindNext walk"), ("bare-sleep0", "bare walk + Sleep(0) per file"),
         ("openread", "bare walk + open and read"), ("count", "count pass"),
         ("scan-instant", "scan pass, instant engine"), ("scan-engine", "scan pass, kxsoc.dll"),
         ("window-scan", "scan in the kxscan.exe window"),
         ("bare-busy", "bare walk, every core busy"), ("scan-instant-busy", "instant scan, every core busy"),
         ("clamscan", "clamscan (native, EICAR db)")]
for mode, label in names:
    value = rate(mode)
    if value is not None:
        print("%-33s %7.0f %8d" % (label, value, len(runs(mode))))
infected = sorted({r.get("infections") for r in runs("scan-engine") + runs("clamscan")})
print("EICAR files found (kxsoc.dll, clamscan):", ", ".join(infected))
sleeps = {r["mode"]: r["us_per_call"] for r in rows if r.get("mode", "").startswith("sleep0")}
print("Sleep(0) alone: %s us per call, %s us with every core busy" % (sleeps["sleep0"], sleeps["sleep0-busy"]))

print()
checks = [("count / bare", rate("count") / rate("bare"), 0.9),
          ("instant scan / bare", rate("scan-instant") / rate("bare"), 0.8),
          ("kxsoc.dll scan / open-read", rate("scan-engine") / rate("openread"), 0.8),
          ("window scan / kxsoc.dll scan", rate("window-scan") / rate("scan-engine"), 0.9)]
for label, ratio, target in checks:
    print("%-28s %5.2f  target >= %.1f  %s" % (label, ratio, target, "PASS" if ratio >= target else "MISS"))
print("%-28s %5.2f  (what Sleep(0) alone leaves)" % ("bare+Sleep(0) / bare", rate("bare-sleep0") / rate("bare")))
print("%-28s %5.2f  (not a target)" % ("instant / bare, cores busy", rate("scan-instant-busy") / rate("bare-busy")))
refresh = statistics.median(float(r["us_per_tick"]) for r in rows if r.get("mode") == "refresh"
                            and not r.get("findings"))
print("%-28s %5.0f  us per tick with 1,000 rows, target < 1000  %s" % ("window refresh", refresh,
                                                                     "PASS" if refresh < 1000 else "MISS"))

print()
mib = 1024.0 * 1024.0
def peak(tree):
    # The process's own start-up varies by some pages from run to run, so the
    # growth during the walk is what is compared between the tree sizes.
    chosen = max(runs("scan-engine", tree), key=lambda r: int(r["peak_ws"]))
    return int(chosen["peak_ws"]), int(chosen["peak_ws"]) - int(chosen["ws_before"])
peak20, grow20 = peak("20000")
peak200, grow200 = peak("200000")
print("peak working set, kxsoc.dll scan: %.2f MiB at 20,000 files (+%d KiB in the walk), "
      "%.2f MiB at 200,000 (+%d KiB)" % (peak20 / mib, grow20 // 1024, peak200 / mib, grow200 // 1024))
print("scan pass at 200,000 files: instant %.0f files/s, kxsoc.dll %.0f files/s"
      % (rate("scan-instant", "200000"), rate("scan-engine", "200000")))
ok = max(peak20, peak200) < 32 * mib and grow200 <= grow20 + 64 * 1024
print("%-28s %s" % ("peak < 32 MiB, no growth", "PASS" if ok else "MISS"))

print()
print("kxscan.exe /HD /SC, whole program:")
whole = {}
for tree in ("20000", "200000"):
    r = [r for r in rows if r.get("mode") == "window-scan" and r.get("tree") == tree and r.get("hidden")][0]
    o = [r for r in rows if r.get("mode") == "objects" and r.get("tree") == tree][0]
    whole[tree] = int(r["peak_ws"])
    print("  %7s files: %6.0f files/s, peak working set %.2f MiB; handles %s -> %s; "
          "window in a process of its own: handles %s -> %s, GDI objects %s -> %s"
          % (tree, int(r["files"]) / float(r["seconds"]), int(r["peak_ws"]) / mib, r["handles_start"],
             r["handles_end"], o["handles_start"], o["handles_end"], o["gdi_start"], o["gdi_end"]))
    # Started, the walkers hold their open folders and file: the end may have fewer.
    same = int(r["handles_end"]) <= int(r["handles_start"]) and int(o["handles_end"]) <= int(o["handles_start"]) \
        and o["gdi_start"] == o["gdi_end"]
    print("  %7s files: no handle or GDI object more at the end than after start-up: %s"
          % (tree, "PASS" if same else "MISS"))
# The whole program's peak moves by some hundred KiB from one start to the
# next (fonts, the X server); 512 KiB over the 180,000 more files is less
# than 3 bytes a file, so a leak per file still shows.
ok = max(whole.values()) < 32 * mib and whole["200000"] <= whole["20000"] + 512 * 1024
print("%-28s %s" % ("program peak < 32 MiB, no growth", "PASS" if ok else "MISS"))
EOF
