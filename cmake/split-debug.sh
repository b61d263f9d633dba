#!/usr/bin/env bash
# Link launcher of the shipped binaries (ship_binary in cmake/Project.cmake): runs the link, then
# moves the debug information into <binary>.debug beside the binary and strips the binary, which
# names that file (.gnu_debuglink) so that a debugger finds it.
#   split-debug.sh OBJCOPY LINK-COMMAND...
set -euo pipefail
objcopy=$1
shift
"$@"
out='' previous=''
for arg in "$@"; do
    [ "$previous" = -o ] && out=$arg
    previous=$arg
done
if [ -z "$out" ]; then
    echo "split-debug.sh: the link command names no output (-o)" >&2
    exit 1
fi
# A binary left half-done would pass for a finished one at the next build.
if ! "$objcopy" --only-keep-debug "$out" "$out.debug" || ! "$objcopy" --strip-all --add-gnu-debuglink="$out.debug" "$out"; then
    rm -f "$out" "$out.debug"
    exit 1
fi
