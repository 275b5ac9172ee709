#!/usr/bin/env bash
# The folders of src/ stand in layers: a file may include its own folder and the
# layers below it, never one above or beside it. So the drivers cannot reach up into
# the commands, and no two folders include each other.
set -euo pipefail
src="${1:-$(dirname "$0")/../src}"
rank() {
    case "$1" in
    platform) echo 0 ;;
    base) echo 1 ;;
    context | image | net) echo 2 ;;
    serial) echo 3 ;;
    drivers) echo 4 ;;
    commands) echo 5 ;;
    frontend) echo 6 ;;
    .) echo 7 ;;
    *) echo "unknown folder $1" >&2; exit 2 ;;
    esac
}
bad=0
while IFS= read -r file; do
    rel="${file#"$src"/}"
    from="${rel%%/*}"
    [[ "$rel" == */* ]] || from=.
    while IFS= read -r target; do
        to="${target%%/*}"
        [[ "$to" == "$from" ]] && continue
        if (( $(rank "$to") >= $(rank "$from") )); then
            echo "$rel includes $target: $from may not include $to" >&2
            bad=1
        fi
    done < <(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$file")
done < <(find "$src" -name '*.cpp' -o -name '*.hpp' | sort)
exit $bad
