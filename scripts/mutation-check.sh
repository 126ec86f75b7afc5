#!/usr/bin/env bash
# Puts each fault of a table into the library, one at a time, rebuilds, runs
# the test suite and says whether a test caught it.
#
#   scripts/mutation-check.sh [options] [BUILD]       (BUILD: default build/)
#     -e REGEX       leave out the tests REGEX matches (ctest -E)
#     -n LIST        only these faults, by number: 1,4,7-9
#     -t TABLE       the table of faults (default scripts/mutations.txt)
#     --no-baseline  skip the run on the unchanged code first
#     --dry-run      only say where each fault applies; build and test nothing
#
# A fault names no file: it is a snippet of one source line and what replaces
# it, so that the table still applies when files move between folders. The
# file is the one library file holding the snippet exactly once; a snippet
# found nowhere or more than once is "not-applicable". Table format:
#   @ description
#   - snippet
#   + replacement
# The file is restored after each fault, also on Ctrl-C.
set -uo pipefail

cd "$(dirname "$0")/.." || exit 2
table=scripts/mutations.txt exclude="" only="" baseline=1 dry=0 build=build
while (($#)); do
    case $1 in
        -e) exclude=$2; shift 2 ;;
        -n) only=$2; shift 2 ;;
        -t) table=$2; shift 2 ;;
        --no-baseline) baseline=0; shift ;;
        --dry-run) dry=1 baseline=0; shift ;;
        -h | --help) sed -n '2,19p' "$0"; exit 0 ;;
        -*) echo "unknown option $1" >&2; exit 2 ;;
        *) build=$1; shift ;;
    esac
done
export CCACHE_BASEDIR=/work CCACHE_NOHASHDIR=1 CCACHE_DIR=/work/.ccache QT_QPA_PLATFORM=offscreen

if ((!dry)) && [[ ! -f $build/CMakeCache.txt ]]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER_LAUNCHER=ccache \
        -DMBEEG_BUILD_BENCH=OFF -DMBEEG_BUILD_GUI=OFF >/dev/null || exit 2
fi
logs=$build/mutation-logs
mkdir -p "$logs"

# Library folders: every top-level folder but the programs, the simulator,
# tests, tools and build trees.
dirs=()
for d in */; do
    d=${d%/}
    case $d in sim | app | gui | tests | bench | fuzz | scripts | docs | cmake | build*) continue ;; esac
    [[ -f $d/CMakeCache.txt || $(realpath "$d") == $(realpath "$build") ]] && continue
    dirs+=("$d")
done

# The file being changed and its copy; a run that was killed left them.
pending=$logs/pending backup=$logs/original
restore() {
    if [[ -f $pending ]]; then
        cat "$backup" >"$(cat "$pending")" && rm -f "$pending" "$backup"
    fi
}
restore
trap restore EXIT
trap 'restore; echo "interrupted; the library is as it was" >&2; exit 130' INT TERM

selected() {  # selected N: is fault N in the -n list?
    [[ -z $only ]] && return 0
    local part
    for part in ${only//,/ }; do
        if [[ $part == *-* ]]; then
            (($1 >= ${part%-*} && $1 <= ${part#*-})) && return 0
        elif (($1 == part)); then
            return 0
        fi
    done
    return 1
}

ctest_args=(--test-dir "$build" -j2 --stop-on-failure --timeout 120)
[[ -n $exclude ]] && ctest_args+=(-E "$exclude")

# rebuild LOGNAME: a failed build is tried once more, so that a build killed on
# a busy machine is not taken for a fault that does not compile.
rebuild() {
    local try rc
    for try in 1 2; do
        cmake --build "$build" -j2 >>"$logs/$1.build" 2>&1
        rc=$?
        echo "-- exit $rc" >>"$logs/$1.build"
        ((rc == 0)) && return 0
    done
    return 1
}

# build_and_test LOGNAME: prints caught, survived or not-compiled.
build_and_test() {
    rm -f "$logs/$1".*
    if ! rebuild "$1"; then
        echo not-compiled
    elif ctest "${ctest_args[@]}" >"$logs/$1.test" 2>&1; then
        echo survived
    else
        echo caught
    fi
}

first_failure() {
    grep -m1 -E '\*\*\*|Failed +[0-9.]+ sec|Not Run' "$logs/$1.test" | sed -E 's/.*Test +#[0-9]+: ([^ ]+).*/\1/'
}

if ((baseline)); then
    start=$SECONDS
    result=$(build_and_test baseline)
    if [[ $result != survived ]]; then
        echo "baseline: the unchanged code does not pass ($result); see $logs/baseline.*" >&2
        exit 1
    fi
    echo "baseline: passes  [$((SECONDS - start)) s]"
fi

caught=0 survived=0 na=0 nc=0 n=0 desc="" from="" to="" have_from=0
run_fault() {
    ((n++))
    selected "$n" || return 0
    local start=$SECONDS files=() f count=0 total=0 result note=""
    mapfile -t files < <(grep -rlF --include='*.cpp' --include='*.h' --include='*.hpp' --include='*.inc' \
        -e "$from" "${dirs[@]}")
    for f in "${files[@]}"; do
        count=$(grep -oF -e "$from" "$f" | wc -l)
        total=$((total + count))
    done
    if ((total != 1)); then
        ((na++))
        echo "mutant $n: not-applicable  $desc  [snippet found $total times]"
        return 0
    fi
    f=${files[0]}
    if ((dry)); then
        echo "mutant $n: applies to $f  $desc"
        return 0
    fi
    cp "$f" "$backup" && echo "$f" >"$pending"
    FROM=$from TO=$to perl -pi -e 's/\Q$ENV{FROM}\E/$ENV{TO}/' "$f"
    if cmp -s "$f" "$backup"; then
        restore
        ((na++))
        echo "mutant $n: not-applicable  $desc  [the replacement changes nothing]"
        return 0
    fi
    result=$(build_and_test "mutant-$n")
    restore
    case $result in
        caught) ((caught++)); note="; by $(first_failure "mutant-$n")" ;;
        survived) ((survived++)) ;;
        not-compiled) ((nc++)) ;;
    esac
    echo "mutant $n: $result  $desc  [$f, $((SECONDS - start)) s$note]"
}

while IFS= read -r line || [[ -n $line ]]; do
    case $line in
        '@ '*) desc=${line#@ } have_from=0 ;;
        '- '*) from=${line#- } have_from=1 ;;
        '+' | '+ '*)
            to=${line#+}
            to=${to# }
            ((have_from)) && run_fault
            have_from=0
            ;;
    esac
done <"$table"

((dry)) && exit 0
# Leave the build as the code is, not as the last fault had it.
rm -f "$logs"/final.*; rebuild final || echo "rebuilding the unchanged code failed" >&2
echo "not applicable: $na, not compiled: $nc"
echo "caught $caught of $((caught + survived))"
