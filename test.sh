#!/usr/bin/env bash
# Sets up a fresh machine (Debian packages, Python test dependencies), builds the
# core, and runs every test: the C++ tests (plain, under ASan+UBSan and under TSan), then the
# Python package's tests against a fresh install. Quick when everything is in place.
set -euo pipefail
cd "$(dirname "$0")"
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)

apt_packages=(build-essential pkg-config ninja-build cmake ca-certificates curl openssl
              libcurl4-openssl-dev libre2-dev libpcre2-dev libyaml-dev
              libgtest-dev libgmock-dev libbenchmark-dev)
missing=()
for p in "${apt_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "== installing ${missing[*]}"
  sudo_cmd=(); [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

python=${PYTHON:-python3}
need_pip=()
for spec in "pytest:pytest>=7" "yaml:PyYAML>=6" "scikit_build_core:scikit-build-core>=0.10" "ninja:ninja" "cmake:cmake>=3.25"; do
  mod=${spec%%:*}; req=${spec#*:}
  "$python" -c "import $mod" 2>/dev/null || need_pip+=("$req")
done
if ((${#need_pip[@]})); then
  echo "== pip install ${need_pip[*]}"
  "$python" -m pip install -q "${need_pip[@]}"
fi

build() {  # build DIR EXTRA_CMAKE_ARGS...
  local dir=$1; shift
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVOSTREL_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

echo "== C++ build and tests"
build "$root/build/cpp" -DVOSTREL_BUILD_BENCH=ON
ctest --test-dir "$root/build/cpp" -j "$jobs" --output-on-failure --timeout 300

echo "== C++ tests under AddressSanitizer and UndefinedBehaviorSanitizer"
build "$root/build/asan" -DVOSTREL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir "$root/build/asan" -j "$jobs" --output-on-failure --timeout 600

echo "== C++ tests under ThreadSanitizer"
build "$root/build/tsan" -DVOSTREL_TSAN=ON
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir "$root/build/tsan" -j "$jobs" --output-on-failure --timeout 600

echo "== Python package"
"$python" -m pip install -q --no-build-isolation "$root"
echo "== Python tests"
cd "$root/tests/python"
"$python" -m pytest -q -p no:cacheprovider "$root/tests/python"
