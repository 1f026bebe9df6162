#!/usr/bin/env bash
# make tidy: clang-tidy (.clang-tidy at the root) over the core folders, using the
# build's compile_commands.json. Any finding fails.
set -euo pipefail
BUILD=${1:-build}
TIDY=$(command -v clang-tidy-14 || command -v clang-tidy || true)
if [ -z "$TIDY" ]; then
  echo "tidy: clang-tidy not found (make deps installs it)" >&2
  exit 1
fi
if [ ! -f "$BUILD/compile_commands.json" ]; then
  echo "tidy: $BUILD/compile_commands.json missing (run make build)" >&2
  exit 1
fi
FILES=$(find link display keyboard floppy comm net session frontends app tools -name '*.cpp' | sort)
# -Werror from the build turns the compiler's own warnings into findings as well.
echo "$FILES" | xargs -P "$(nproc)" -n 4 "$TIDY" -p "$BUILD" --quiet 2>/dev/null \
  > "$BUILD/tidy.log" || { cat "$BUILD/tidy.log"; echo "tidy: findings above" >&2; exit 1; }
echo "tidy: $(echo "$FILES" | wc -l) files clean"
