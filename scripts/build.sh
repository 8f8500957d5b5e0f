#!/usr/bin/env bash
# Configures and builds everything into build/ (warnings are errors here, as in CI). Every tool
# that some tests need must be there (SORVEL_REQUIRE_ALL): a test is never left out silently.
set -euo pipefail
cd "$(dirname "$0")/.."
options=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSORVEL_WERROR=ON -DSORVEL_REQUIRE_ALL=ON)
if command -v ccache >/dev/null; then
  options+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B build "${options[@]}" >/dev/null
cmake --build build -j "$(nproc)"
