#!/usr/bin/env bash
# Lint of the whole tree, as CI runs it: clang-format over every tracked C++ file (a file that
# formatting would change is an error), then clang-tidy with the checks of .clang-tidy over every
# source of ours in build/default's compilation database (every finding is an error). Exits
# non-zero on any finding.
#
#   tools/lint.sh              # both
#   tools/lint.sh format       # clang-format only
#   tools/lint.sh tidy         # clang-tidy only
#   tools/lint.sh tidy kits/crash app/Source/Foo.cpp   # clang-tidy over those folders/files only
#
# LINT_JOBS sets clang-tidy's parallelism (default: the number of processors). The compilation
# database is made by configuring the default preset when it is missing.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
what="${1:-all}"
shift || true
# Folders or files to limit clang-tidy to (relative to the root); all of ours when none are given.
if (($#)); then
  scope=("$@")
else
  scope=(platform core bench app kits tools)
fi
jobs="${LINT_JOBS:-$(nproc)}"
status=0

if [[ "$what" == all || "$what" == format ]]; then
  echo "lint: clang-format"
  mapfile -d '' files < <(git ls-files -z -- '*.h' '*.hpp' '*.cpp' '*.cc')
  if ((${#files[@]})); then
    printf '%s\0' "${files[@]}" |
      xargs -0 -n 50 -P "$jobs" clang-format --dry-run -Werror --style=file || status=1
  fi
fi

if [[ "$what" == all || "$what" == tidy ]]; then
  echo "lint: clang-tidy"
  if [[ ! -f build/default/compile_commands.json ]]; then
    cmake --preset default >/dev/null
  fi
  # Our sources only: the compilation database also names nothing else, but keep third-party
  # or generated files out should any appear. Headers are checked through the sources that
  # include them (HeaderFilterRegex in .clang-tidy).
  # The database is GCC's: clang does not know GCC-only warning flags and pragmas
  # (-Wmaybe-uninitialized), which are right for the compiler that builds the tree.
  # The sources are chosen here, by their paths relative to the root, and handed over as escaped
  # exact names: run-clang-tidy takes regular expressions, which a checkout path holding a regex
  # character ("a+b") would turn into one that matches nothing.
  mapfile -t patterns < <(python3 - "$root" "${scope[@]}" <<'PY'
import json, os, re, sys
root = os.path.realpath(sys.argv[1])
scope = [os.path.normpath(s).strip('/') for s in sys.argv[2:]]
with open(os.path.join(root, 'build/default/compile_commands.json')) as f:
    entries = json.load(f)
chosen = set()
for entry in entries:
    name = os.path.normpath(os.path.join(entry['directory'], entry['file']))
    rel = os.path.relpath(os.path.realpath(name), root)
    if not rel.endswith(('.cpp', '.cc')) or rel.startswith('..'):
        continue
    if any(rel == s or rel.startswith(s + '/') for s in scope):
        chosen.add(name)
for name in sorted(chosen):
    print('^' + re.escape(name) + '$')
PY
  )
  if ((${#patterns[@]} == 0)); then
    echo "lint: no source in the compilation database under: ${scope[*]}" >&2
    status=1
  else
    echo "lint: clang-tidy over ${#patterns[@]} source(s)"
    run-clang-tidy -p build/default -j "$jobs" -quiet -extra-arg=-Wno-unknown-warning-option \
      "${patterns[@]}" || status=1
  fi
fi

if ((status)); then
  echo "lint: findings above" >&2
fi
exit "$status"
