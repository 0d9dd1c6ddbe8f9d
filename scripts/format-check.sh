#!/usr/bin/env bash
# Checks that every C++ source file is laid out as .clang-format says, and names the
# files that are not. Reformat them with:
#   git ls-files '*.cpp' '*.h' | xargs clang-format -i
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v clang-format >/dev/null 2>&1; then
  echo "format: clang-format is missing (scripts/install-deps.sh installs it)" >&2
  exit 1
fi

mapfile -t sources < <(git ls-files '*.cpp' '*.h')
out=$(mktemp)
trap 'rm -f "$out"' EXIT
if ! printf '%s\n' "${sources[@]}" | xargs clang-format --dry-run --Werror >"$out" 2>&1; then
  misplaced=$(grep -oE '^[^:]+\.(cpp|h):' "$out" | sort -u | sed 's/:$//' || true)
  if [ -z "$misplaced" ]; then
    # Not a layout finding: clang-format itself failed, and its own words say why.
    cat "$out" >&2
    echo "format: clang-format failed" >&2
    exit 1
  fi
  sed 's/^/format: not laid out as .clang-format says: /' <<<"$misplaced" >&2
  echo "format: reformat with: git ls-files '*.cpp' '*.h' | xargs clang-format -i" >&2
  exit 1
fi
echo "format: ${#sources[@]} files laid out as .clang-format says"
