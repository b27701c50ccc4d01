#!/usr/bin/env bash
# Fails when a C or C++ file of the project differs from what clang-format
# makes of it with the project's .clang-format:
#   bash tools/check_format.sh          check (CI)
#   bash tools/check_format.sh --fix    rewrite the files in place
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
mapfile -t files < <(git ls-files '*.cc' '*.h' '*.c')
if [[ "${1:-}" == "--fix" ]]; then
  clang-format -i "${files[@]}"
  exit 0
fi
if ! clang-format --dry-run --Werror "${files[@]}" 2>/tmp/velmo-format.$$; then
  grep -E '^[^ ].*: (error|warning):' /tmp/velmo-format.$$ | cut -d: -f1 | sort -u |
    sed 's/^/not formatted: /' >&2
  rm -f /tmp/velmo-format.$$
  echo "Run: bash tools/check_format.sh --fix" >&2
  exit 1
fi
rm -f /tmp/velmo-format.$$
echo "all ${#files[@]} C and C++ files are formatted"
