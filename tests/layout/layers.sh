#!/bin/bash
# Checks that every folder of the program includes only the folders beneath it, so that the
# layers stay as the README draws them. Prints each include that reaches where it must not.
#   layers.sh SOURCE-DIR
set -u
cd "$1" || exit 2

# folder, then the project folders its files may include besides their own.
rules=(
    "audio/output|audio/Clock.h"
    "audio/mix|audio/Clock.h audio/AudioSystem.h audio/AudioFormat.h audio/AudioException.h"
    "audio|" # and so its own layers below
    "toolkit|"
    "bindings|"
    "drums|bindings audio"
    "midi|drums bindings audio"
    "config|drums bindings toolkit"
    "app|toolkit bindings audio drums midi config resources"
    "tools|tools"
    "bench|audio drums midi app bindings toolkit config bench"
    "tests|toolkit bindings audio drums midi config app tests"
)
folders="toolkit bindings audio drums midi config app resources tools tests bench"

# The rule for a file: the first whose folder holds it.
rule_for() {
    local file=$1 rule
    for rule in "${rules[@]}"; do
        local folder=${rule%%|*}
        if [[ $file == "$folder"/* ]]; then
            echo "$rule"
            return
        fi
    done
}

# Whether include (a path from the source root) is one of the allowed prefixes or the file's
# own folder.
allowed() {
    local include=$1 own=$2 allowedList=$3 prefix
    [[ $include == "$own"/* ]] && return 0
    for prefix in $allowedList; do
        [[ $include == "$prefix" || $include == "$prefix"/* ]] && return 0
    done
    return 1
}

checked=0
bad=0
while IFS= read -r file; do
    rule=$(rule_for "$file")
    [ -n "$rule" ] || continue
    own=${rule%%|*}
    allowedList=${rule#*|}
    while IFS= read -r include; do
        top=${include%%/*}
        case " $folders " in *" $top "*) ;; *) continue ;; esac
        checked=$((checked + 1))
        if ! allowed "$include" "$own" "$allowedList"; then
            echo "$file includes $include, outside what $own/ may use"
            bad=$((bad + 1))
        fi
    done < <(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$file")
done < <(git ls-files '*.h' '*.cpp' 2>/dev/null || find . -name '*.h' -o -name '*.cpp' | sed 's#^\./##')

echo "$checked project includes checked, $bad out of their layer"
[ "$checked" -gt 0 ] && [ "$bad" -eq 0 ]
