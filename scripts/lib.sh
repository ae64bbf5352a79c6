# Shared by scripts/run and scripts/test: where things are, building, and the demo database.
# shellcheck shell=bash

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=${SALESTOTALS_BUILD_DIR:-$ROOT/build}
JOBS=${SALESTOTALS_JOBS:-$(nproc 2>/dev/null || echo 2)}
PROG=$(basename "$0")

# ccache, when installed, lets a fresh clone reuse what another checkout compiled: paths below
# the checkout are hashed relative to it, and the build directory's own path not at all (debug
# info may then name the other checkout's build directory).
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$ROOT}
export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}

die() {
    printf '%s: %s\n' "$PROG" "$*" >&2
    exit 1
}

run_setup() {
    "$ROOT/scripts/setup"
}

# Configures a build directory once; an existing configuration is kept, except that the
# given cmake options (e.g. -DSALESTOTALS_SANITIZE=ON) are applied to it again.
configure() {
    local dir=$1
    shift
    local options=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@")
    local launcher=()
    if command -v ccache >/dev/null 2>&1; then
        launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    fi
    if [ -f "$dir/CMakeCache.txt" ]; then
        grep -q '^CMAKE_CXX_COMPILER_LAUNCHER:' "$dir/CMakeCache.txt" && launcher=()
        [ "$#" -eq 0 ] && [ "${#launcher[@]}" -eq 0 ] && return 0
        options=("$@")
    fi
    options+=("${launcher[@]}")
    local log
    log=$(mktemp)
    if ! cmake -S "$ROOT" -B "$dir" "${options[@]}" >"$log" 2>&1; then
        cat "$log" >&2
        rm -f "$log"
        die "configuring $dir failed"
    fi
    rm -f "$log"
}

# Configures build/ once (an existing configuration, e.g. for SQL Server, is kept) and builds
# the given targets, or everything.
# shellcheck disable=SC2120 # targets are optional
build() {
    configure "$BUILD_DIR"
    local targets=()
    [ "$#" -gt 0 ] && targets=(--target "$@")
    cmake --build "$BUILD_DIR" --parallel "$JOBS" "${targets[@]}" || die "the build failed"
}

# A value the build wrote into salestotals-paths.txt: database, program, demo_db_tool, data_source.
build_value() {
    local file=$BUILD_DIR/salestotals-paths.txt key value
    [ -f "$file" ] || die "$file is missing: the build has no salestotals program"
    while IFS='=' read -r key value; do
        if [ "$key" = "$1" ]; then
            printf '%s\n' "$value"
            return 0
        fi
    done <"$file"
    die "$file does not name '$1'"
}

# The embedded backend reads its company database beside the program; make the demo one
# there unless a database is already in place.
ensure_demo_database() {
    [ "$(build_value database)" = embedded ] || return 0
    local db
    db=$(build_value data_source)
    [ -e "$db" ] && return 0
    "$(build_value demo_db_tool)" "$db" || die "creating the demo database $db failed"
}

has_display() {
    [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]
}
