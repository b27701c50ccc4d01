#!/usr/bin/env bash
# Runs a Windows program under Wine with the suite's environment; CTest uses it
# as CMAKE_CROSSCOMPILING_EMULATOR, and it works by hand too:
#   tools/wine_exec.sh build/bin/foo_unittests.exe --gtest_filter=Foo.*
# The exit status is the program's exit code; the Linux side sees only its low
# 8 bits, which is enough to tell pass from fail.
set -euo pipefail
# shellcheck source=wine_prefix.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine_prefix.sh"
velmo_wine_prefix_create
exec "$VELMO_WINE" "$@" </dev/null
