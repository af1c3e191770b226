#!/usr/bin/env bash
# Builds the executable from two copies of the tracked sources in folders of different
# names and lengths, and fails unless the two executables are byte for byte the same.
set -euo pipefail
cd "$(dirname "$0")/.."

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for folder in one/src second-copy-in-a-longer-folder/yarrowtide-autostart; do
  mkdir -p "$work/$folder"
  # A checkout that belongs to another user, as in a container, is trusted for this call
  # alone; the caller's git configuration stays as it is.
  git -c safe.directory="$(pwd -P)" ls-files -z | xargs -0 tar -c | tar -x -C "$work/$folder"
  cmake -S "$work/$folder" --preset windows-x86 -DBUILD_TESTING=OFF --no-warn-unused-cli >/dev/null
  cmake --build "$work/$folder/build/windows-x86" >/dev/null
done
first=$work/one/src/build/windows-x86/YarrowTideAutostart.exe
second=$work/second-copy-in-a-longer-folder/yarrowtide-autostart/build/windows-x86/YarrowTideAutostart.exe
if cmp "$first" "$second"; then
  echo "reproducible: two builds in different folders are the same $(stat -c %s "$first") bytes"
else
  echo "not reproducible: the two builds differ" >&2
  exit 1
fi
