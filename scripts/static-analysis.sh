#!/usr/bin/env bash
# Runs clang-tidy (with .clang-tidy) and cppcheck over the product's sources, compiled
# against the cross compiler's real Windows headers. Any finding fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset windows-x86 >/dev/null
# The product's C++ sources, as the build compiles them; the tests' own are left out.
mapfile -t sources < <(/usr/bin/python3 - build/windows-x86/compile_commands.json <<'EOF'
import json
import os
import sys
files = {os.path.relpath(entry["file"]) for entry in json.load(open(sys.argv[1]))}
print("\n".join(sorted(f for f in files if f.endswith(".cpp") and not f.startswith("tests" + os.sep))))
EOF
)
[ ${#sources[@]} -gt 0 ] || { echo "static analysis: no product sources in compile_commands.json" >&2; exit 1; }

# clang does not find the C++ library headers of Debian's MinGW compiler by itself,
# so it is handed the compiler's own search list.
include_args=()
while read -r dir; do
  include_args+=("--extra-arg=-isystem$dir")
done < <(i686-w64-mingw32-g++ -E -x c++ -v - </dev/null 2>&1 |
         sed -n '/#include <...> search starts here/,/End of search list/p' | grep '^ /' | grep c++)
clang-tidy --quiet -p build/windows-x86 "${include_args[@]}" "${sources[@]}" 2> >(grep -v "warnings generated" >&2)

cppcheck --quiet --error-exitcode=1 --std=c++17 --language=c++ --platform=win32A \
  --enable=warning,style,performance,portability --suppress=missingIncludeSystem -I . "${sources[@]}"
echo "static analysis: no findings in ${sources[*]}"
