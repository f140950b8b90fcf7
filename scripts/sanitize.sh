#!/usr/bin/env bash
# `make sanitize`: the extension modules built with AddressSanitizer + UndefinedBehaviorSanitizer
# (g++), the whole test suite run against them, then a short run of each fuzzer (clang, libFuzzer;
# fuzz/README.md). A fuzzer's finding fails the run and is copied to tests/fuzz_findings/<fuzzer>/,
# where tests/test_fuzz_findings.py replays it through the normal build.
#   FUZZ_SECONDS (default 120) per fuzzer; SANITIZE_TESTS (default: the whole suite) pytest arguments.
set -euo pipefail
cd "$(dirname "$0")/.."
PYTHON="${PYTHON:-python3}"
FUZZ_SECONDS="${FUZZ_SECONDS:-120}"
build=build/sanitize
site="$build/site"
flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"

if ! command -v clang++ >/dev/null; then
    echo "Installing clang (libFuzzer and its sanitizer runtime, for the fuzzers)..."
    SUDO=""
    if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
    $SUDO apt-get update -qq
    $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang
fi

# The package as sources plus the sanitized modules, apart from the development build.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOZRA_INPLACE=OFF \
    -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_MODULE_LINKER_FLAGS="$flags" -DCMAKE_SHARED_LINKER_FLAGS="$flags" >/dev/null
cmake --build "$build"
rm -rf "$site" && mkdir -p "$site"
cp -r src/ozra_data_access "$site/"
find "$site" -name '*.so' -delete
cmake --install "$build" --prefix "$site" >/dev/null

# Python itself is not instrumented: the sanitizers' runtime is preloaded; the
# interpreter's own allocations at exit are not leaks of ours.
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
preload="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libstdc++.so)"
LD_PRELOAD="$preload" PYTHONPATH="$site:tests" "$PYTHON" -m pytest -q -p no:cacheprovider ${SANITIZE_TESTS:-tests}

# The fuzzers, with seeds made by the sanitized package.
fuzz=build/fuzz
cmake -S fuzz -B "$fuzz" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$fuzz"
LD_PRELOAD="$preload" PYTHONPATH="$site:tests" "$PYTHON" fuzz/make_corpus.py "$fuzz/seeds"
LD_PRELOAD="$preload" PYTHONPATH="$site:tests" "$PYTHON" fuzz/make_corpus.py --plain "$fuzz/seeds-plain"
status=0
for target in core_fuzzer file_fuzzer plain_file_fuzzer; do
    seeds="$fuzz/seeds"
    [ "$target" = plain_file_fuzzer ] && seeds="$fuzz/seeds-plain"
    corpus="$fuzz/corpus/$target" artifacts="$fuzz/artifacts/$target/"
    rm -rf "$artifacts" && mkdir -p "$corpus" "$artifacts"
    # The kept findings first: each must now run clean.
    if compgen -G "tests/fuzz_findings/$target/*" >/dev/null; then
        ASAN_OPTIONS=detect_leaks=0 "$fuzz/$target" -runs=1 "tests/fuzz_findings/$target/"* >/dev/null 2>&1 || {
            echo "$target: a kept finding fails again" >&2; status=1; }
    fi
    (cd "$fuzz" && ASAN_OPTIONS=detect_leaks=0 "./$target" -max_total_time="$FUZZ_SECONDS" -max_len=16384 \
        -malloc_limit_mb=64 -timeout=20 -dict=../../fuzz/ozra.dict -artifact_prefix="../../$artifacts" \
        -print_final_stats=1 "corpus/$target" "../../$seeds" 2>&1 | tee "../../$fuzz/$target.log" | tail -n 12) \
        || status=1
    if compgen -G "$artifacts*" >/dev/null; then
        mkdir -p "tests/fuzz_findings/$target"
        cp "$artifacts"* "tests/fuzz_findings/$target/"
        echo "$target: findings kept in tests/fuzz_findings/$target" >&2
        status=1
    fi
done
exit $status
