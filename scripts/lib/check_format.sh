#!/usr/bin/env bash
# Fails when a tracked C++ file differs from the checked-in .clang-format.
# Fix with: clang-format -i FILE (for each file it names).
set -uo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
cd "$root" || exit 1
mapfile -t files < <(git ls-files --cached --others --exclude-standard '*.cpp' '*.h' '*.c' |
  while read -r file; do [ -f "$file" ] && echo "$file"; done)
report=$(clang-format --dry-run -Werror "${files[@]}" 2>&1)
if [ $? -ne 0 ]; then
  bad=$(printf '%s\n' "$report" | sed -n 's/^\([^:]*\):[0-9]*:[0-9]*: error: .*/\1/p' | sort -u)
  printf '%s\n' "$bad" | sed 's/^/   misformatted: /'
  echo "format: $(printf '%s\n' "$bad" | grep -c .) of ${#files[@]} C++ files differ from .clang-format (clang-format -i FILE)"
  exit 1
fi
echo "format: all ${#files[@]} C++ files follow .clang-format"
