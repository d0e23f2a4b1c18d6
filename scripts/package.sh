#!/usr/bin/env bash
# Builds the release packages into dist/:
#
#   dist/velmora_<version>-1_<arch>.deb      the Debian package (CPack), checked
#                                            with lintian: no errors allowed
#   dist/velmora-<version>-windows-x64.zip   the Windows programs, cross-built
#                                            with MinGW-w64
#
# The version is the project version in CMakeLists.txt. Release builds go to
# build/package/ and build-windows/ and are reused by the next run; --clean
# starts both from nothing. --deb-only leaves the Windows zip out.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

clean=
windows=1
for arg in "$@"; do
    case $arg in
        --clean) clean=1 ;;
        --deb-only) windows= ;;
        *)
            echo "usage: scripts/package.sh [--clean] [--deb-only]" >&2
            exit 2
            ;;
    esac
done

tools=(help2man lintian dpkg-dev file desktop-file-utils gzip)
if [ -n "$windows" ]; then
    tools+=(g++-mingw-w64-x86-64)
fi
./scripts/setup.sh "${tools[@]}"

if [ -z "${CMAKE_CXX_COMPILER_LAUNCHER-}" ] && command -v ccache >/dev/null; then
    export CMAKE_CXX_COMPILER_LAUNCHER=ccache
fi
if [ -n "$clean" ]; then
    rm -rf build/package build-windows
fi
mkdir -p build/package dist

# Runs a step with its output in build/package/step.log, shown only when the
# step fails.
quietly() {
    if ! "$@" >build/package/step.log 2>&1; then
        tail -40 build/package/step.log >&2
        echo "package: failed: $*" >&2
        exit 1
    fi
}

echo "== package: Release build"
desktop-file-validate res/linux/velmora.desktop
# Debian's hardening flags: stack protector, fortified functions, full RELRO.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
quietly cmake --preset package -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags"
quietly nice cmake --build --preset package -j2
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/package/CMakeCache.txt)

echo "== package: Debian package"
rm -f dist/velmora_*.deb dist/velmora-*-windows-x64.zip build/package/velmora_*.deb
quietly cpack --preset package
mv build/package/velmora_"$version"-*.deb dist/
deb=$(ls dist/velmora_"$version"-*.deb)
echo "$deb"
dpkg-deb --field "$deb" Package Version Depends | sed 's/^/    /'

echo "== package: lintian (errors fail the build; warnings and notes are listed)"
lintian_status=0
lintian --fail-on error --display-info "$deb" >build/package/lintian.log 2>&1 || lintian_status=$?
# As root lintian says so; that is not about the package.
grep -v 'running with root privileges' build/package/lintian.log | sed 's/^/    /' || true
if [ "$lintian_status" -ne 0 ]; then
    echo "package: lintian found errors in $deb" >&2
    exit 1
fi

if [ -z "$windows" ]; then
    exit 0
fi

echo "== package: Windows zip"
bash scripts/package-windows.sh
ls dist/velmora-"$version"-windows-x64.zip
