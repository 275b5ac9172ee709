#!/usr/bin/env bash
# The folders of src/ stand in layers: a file may include its own folder and the
# layers below it, never one above or beside it. So the drivers cannot reach up into
# the commands, and no two folders include each other. Above src/platform/ only the
# standard C and C++ libraries are included: every operating-system and platform
# library header (POSIX, Linux, udev, gpiod, wxWidgets, Windows ...) sits behind the
# platform interfaces.
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
standard=" algorithm any array atomic bit bitset cassert cctype cerrno cfloat charconv chrono cinttypes climits
 clocale cmath compare complex concepts condition_variable csetjmp csignal cstdarg cstddef cstdint cstdio cstdlib
 cstring ctime cwchar cwctype deque exception filesystem fstream functional future initializer_list iomanip ios
 iosfwd iostream istream iterator limits list locale map memory mutex new numeric optional ostream queue random
 ranges ratio regex set shared_mutex source_location span sstream stack stdexcept streambuf string string_view
 system_error thread tuple type_traits typeinfo unordered_map unordered_set utility variant vector "
bad=0
while IFS= read -r file; do
    rel="${file#"$src"/}"
    [[ "$rel" == platform/*/* ]] && continue
    while IFS= read -r header; do
        if [[ " ${standard//$'\n'/ } " != *" $header "* ]]; then
            echo "$rel includes <$header>: only the platform implementations include system headers" >&2
            bad=1
        fi
    done < <(sed -n 's/^#include <\([^>]*\)>.*/\1/p' "$file")
done < <(find "$src" -name '*.cpp' -o -name '*.hpp' | sort)
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
