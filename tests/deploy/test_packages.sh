#!/usr/bin/env bash
# The Debian packages of this build, made by CPack into a temporary folder and unpacked into a
# temporary root: lintian finds no error, each package carries its copyright and the expected
# dependencies, the README's host snippet builds against the -dev package in the root, the unit
# passes systemd-analyze verify with ExecStart in the root, and the packaged server answers and
# stops cleanly on SIGTERM.
#   test_packages.sh <build folder> <README.md>
set -euo pipefail
build=$1 readme=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/kve-packages.XXXXXX")
pid=""
cleanup() {
    [[ -n "$pid" ]] && kill -KILL "$pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack"; }
version=$(dpkg-deb -f "$work"/out/libkavrivendoremp2_*.deb Version)
root=$work/root
for package in libkavrivendoremp2 libkavrivendoremp-dev kavrivendoremp-designer \
               vendoremp-server vendoremp-host; do
    deb=$(ls "$work"/out/"$package"_*.deb 2>/dev/null) || fail "no package $package"
    echo "$(stat -c %s "$deb") $(basename "$deb")"
    dpkg-deb -x "$deb" "$root"
    [[ -s "$root/usr/share/doc/$package/copyright" ]] || fail "$package has no copyright file"
    depends=$(dpkg-deb -f "$deb" Depends)
    case $package in
    libkavrivendoremp2) want="libqt6widgets6" ;;
    vendoremp-server) want="libsqlite3-0" ;;
    *) want="libkavrivendoremp2 (= $version)" ;;
    esac
    [[ "$depends" == *"$want"* ]] || fail "$package depends on '$depends', without $want"
done
[[ "$(dpkg-deb -f "$work"/out/libkavrivendoremp2_*.deb Depends)" == *libc6* ]] ||
    fail "libkavrivendoremp2's dependencies do not come from dpkg-shlibdeps"
dpkg-deb --ctrl-tarfile "$work"/out/vendoremp-server_*.deb | tar -xO ./conffiles |
    grep -qx /etc/default/vendoremp-server || fail "/etc/default/vendoremp-server is no conffile"
zcat "$root/usr/share/man/man1/vendoremp-server.1.gz" | grep -qF -- '\-\-database' ||
    fail "the server's manual page lacks its options"

lintian --fail-on error "$work"/out/*.deb ||
    fail "lintian reports errors"

# The README's host snippet: its CMake lines and its C++ lines, placed in a minimal project.
section=$(awk '/^## Using the control from a host/{f=1;next} /^## /{f=0} f' "$readme")
block() { awk -v lang="$1" '$0=="```"lang{f=1;next} $0=="```"{if(f)exit} f' <<<"$section"; }
mkdir "$work/snippet"
{
    echo 'cmake_minimum_required(VERSION 3.25)'
    echo 'project(snippet LANGUAGES CXX)'
    echo 'set(CMAKE_CXX_STANDARD 17)'
    echo 'add_executable(app main.cpp)'
    block cmake
} >"$work/snippet/CMakeLists.txt"
code=$(block cpp)
[[ -n "$code" ]] || fail "no C++ snippet in the README"
{
    echo '#include <QApplication>'
    echo '#include <QVBoxLayout>'
    grep '^#include' <<<"$code"
    echo 'int main(int argc, char **argv) {'
    echo 'QApplication application(argc, argv);'
    echo 'auto *window = new QWidget; auto *layout = new QVBoxLayout(window);'
    grep -v '^#include' <<<"$code"
    echo 'delete window; return 0; }'
} >"$work/snippet/main.cpp"
cmake -S "$work/snippet" -B "$work/snippet/build" -G Ninja -DCMAKE_PREFIX_PATH="$root/usr" \
    -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF \
    >"$work/snippet.log" 2>&1 || { cat "$work/snippet.log"; fail "the snippet does not configure"; }
grep -q "KavriVendorEmp_DIR:PATH=$root/" "$work/snippet/build/CMakeCache.txt" ||
    fail "the snippet found KavriVendorEmp outside the unpacked root"
cmake --build "$work/snippet/build" >"$work/snippet.log" 2>&1 ||
    { cat "$work/snippet.log"; fail "the snippet does not build"; }

# The unit as installed, its programs taken from the root.
unit=$work/vendoremp-server.service
sed "s|^ExecStart=/usr/bin/|ExecStart=$root/usr/bin/|" \
    "$root/lib/systemd/system/vendoremp-server.service" >"$unit"
grep -q "^ExecStart=$root/usr/bin/vendoremp-server " "$unit" || fail "the unit's ExecStart moved"
systemd-analyze verify --man=no "$unit" || fail "systemd-analyze verify"

# The packaged (stripped) server answers and stops cleanly on SIGTERM.
"$root/usr/bin/vendoremp-server" --listen 127.0.0.1:0 --database "sqlite:$work/t.db" \
    --seed demo >"$work/url" 2>"$work/server.log" &
pid=$!
for _ in $(seq 300); do [[ -s "$work/url" ]] && break; sleep 0.1; done
curl -sSf --max-time 10 -o /dev/null "$(head -n 1 "$work/url")/VendorEmployee.asp?VendorID=12" ||
    fail "the packaged server does not answer: $(cat "$work/server.log")"
kill -TERM "$pid"
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
rc=0
kill -0 "$pid" 2>/dev/null && fail "SIGTERM did not stop the server within 10 s"
wait "$pid" || rc=$?
pid=""
[[ $rc -eq 0 ]] || fail "the server ended with status $rc after SIGTERM"
echo "packages: lintian clean of errors, snippet built, unit verified, server stopped by SIGTERM"
