#!/usr/bin/env bash
# Builds the Debian package build/package/qrt4250_<version>_amd64.deb from the
# release preset with CPack's DEB generator: only the two programs and what
# they install (no tests, no benchmarks), Debian's hardening flags, stripped,
# dependencies from dpkg-shlibdeps. QRT_WERROR=1 turns warnings into errors.
set -euo pipefail
cd "$(dirname "$0")/.."

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
# Without -g: the package ships no debug symbols, and the build is faster.
cxxflags=$(dpkg-buildflags --get CXXFLAGS | sed -E 's/(^| )-g( |$)/ /')
cxxflags="$cxxflags $(dpkg-buildflags --get CPPFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
extra=()
if [ "${QRT_WERROR:-0}" = "1" ]; then extra+=(-DQRT_WERROR=ON); fi

# Optimisation comes from dpkg-buildflags (-O2, as Debian builds its
# packages), not from CMake's Release -O3.
cmake --preset release -DQRT_BUILD_BENCH=OFF "-DCMAKE_CXX_FLAGS=$cxxflags" \
  -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG "-DCMAKE_EXE_LINKER_FLAGS=$ldflags" "${extra[@]}"
cmake --build --preset release

rm -rf build/package
mkdir -p build/package
cpack --config build/release/CPackConfig.cmake -B "$PWD/build/package"
rm -rf build/package/_CPack_Packages
ls build/package/qrt4250_*.deb
