#!/usr/bin/env bash
# The Windows stage captures scripts/windows-toolchain's standard output as the toolchain's
# prefix. On a new machine scripts/setup installs packages and says so; here the real setup
# runs with apt and dpkg faked so that everything looks missing, and the captured prefix must
# still be exactly the cached one.
set -euo pipefail
root=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/scripts" "$work/fake-bin"
cp "$root/scripts/windows-toolchain" "$work/scripts/"

# Every package missing, installing succeeds, fonts and the ODBC driver already in place.
cat >"$work/fake-bin/dpkg-query" <<'FAKE'
#!/bin/sh
exit 0
FAKE
for tool in apt-get odbcinst; do printf '#!/bin/sh\nexit 0\n' >"$work/fake-bin/$tool"; done
printf '#!/bin/sh\necho "Liberation Serif"\n' >"$work/fake-bin/fc-match"
printf '#!/bin/sh\nexec "$@"\n' >"$work/fake-bin/sudo"
chmod +x "$work"/fake-bin/*
cat >"$work/scripts/setup" <<FAKE
#!/bin/sh
PATH="$work/fake-bin:\$PATH" exec "$root/scripts/setup" "\$@"
FAKE
chmod +x "$work/scripts/setup"

# A toolchain already built, as a second run of the stage finds it.
export SALESTOTALS_WINDOWS_CACHE=$work/cache
expected=$("$work/scripts/windows-toolchain" --prefix)
mkdir -p "$expected"
touch "$(dirname "$expected")/complete"

# The stage's own capture.
prefix=$("$work/scripts/windows-toolchain" 2>"$work/stderr")
if [ "$prefix" != "$expected" ]; then
    printf 'captured prefix:\n%s\nexpected:\n%s\n' "$prefix" "$expected"
    exit 1
fi
grep -q 'installing' "$work/stderr" || {
    echo "the stand-in setup installed nothing, so this proved nothing:"
    cat "$work/stderr"
    exit 1
}
echo "prefix captured as one line: $prefix"
