#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test: the unit tests on the host
# against the in-memory platform, the Windows executable's tests under Wine (the x86
# build's are skipped, and say so, where this host runs no 32-bit code; the x86-64
# build's run everywhere), static analysis of the product's sources, a check that the
# build is reproducible, and the lint of the CI workflow.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
for preset in native windows-x86 windows-x64; do
  cmake --preset "$preset"
  cmake --build --preset "$preset"
  ctest --preset "$preset" --parallel 2
done
bash scripts/static-analysis.sh
bash scripts/check-reproducible.sh
bash scripts/lint-workflow.sh
