#!/usr/bin/env bash
# Checks that the product code is formatted as .clang-format says: prints each
# file that clang-format would change and exits 1 when there is any. To mend
# them: scripts/check-format.sh --fix
set -euo pipefail
cd "$(dirname "$0")/.."
fix=0
[ "${1:-}" = "--fix" ] && fix=1
bad=0
while IFS= read -r -d '' f; do
    if [ "$fix" -eq 1 ]; then
        clang-format -i "$f"
    elif ! clang-format --dry-run -Werror "$f" >/dev/null 2>&1; then
        echo "not formatted: $f (scripts/check-format.sh --fix formats it)"
        bad=1
    fi
done < <(git ls-files -z -- '*.cpp' '*.h' ':!tests/' ':!bench/' 2>/dev/null ||
         find app base cli emulator sdx serial transfer ui \( -name '*.cpp' -o -name '*.h' \) -print0)
exit "$bad"
