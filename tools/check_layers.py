#!/usr/bin/env python3
"""Checks that the parts of the tree include one another in one direction only.

Usage: check_layers.py ROOT

The layers, lowest first (each may include itself and what it is drawn above):

    platform <- core <- app
    platform <- kits/platform <- kits/analytics <- kits/crash <- app
    tools, bench: above everything

The kits never see core/ or app/, core/ never sees the kits or app/, and platform/ sees nothing
above it. Production code never includes tests or test support (folders named tests/ or
testsupport/); tests and test support are leaves that may also include the tools' test services
and, within the kits, any kit. core/'s own module order is checked by check_core_layers.py.
Includes are spelled from the root; a system include (<...>) is not ours to check. Exits 1,
naming each offending line.
"""

import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')
SOURCE_SUFFIXES = ('.h', '.hpp', '.cpp', '.cc')
TOPS = ('platform', 'core', 'kits', 'app', 'tools', 'bench')
KITS = ('kits/platform', 'kits/analytics', 'kits/crash')

# What each layer may include, besides itself.
BELOW = {
    'platform': set(),
    'core': {'platform'},
    'kits/platform': {'platform'},
    'kits/analytics': {'platform', 'kits/platform'},
    'kits/crash': {'platform', 'kits/platform', 'kits/analytics'},
    'app': {'platform', 'core', *KITS},
    'tools': {'platform', 'core', *KITS, 'app'},
    'bench': {'platform', 'core', *KITS, 'app', 'tools'},
}
# Layers whose own production code may use test support: the test services and the benchmarks,
# which run in the tests' private folders.
TEST_USERS = {'tools', 'bench'}


def layer_of(path):
    """The layer of a path relative to the root, or None for a path outside the layers."""
    parts = path.split('/')
    if parts[0] not in TOPS:
        return None
    if parts[0] == 'kits':
        layer = '/'.join(parts[:2])
        return layer if layer in KITS else None
    return parts[0]


def is_test_path(path):
    parts = path.split('/')[:-1]
    return 'tests' in parts or 'testsupport' in parts


def check(root):
    problems = []
    for top in TOPS:
        for folder, dirs, files in os.walk(os.path.join(root, top)):
            dirs.sort()
            for name in sorted(files):
                if not name.endswith(SOURCE_SUFFIXES):
                    continue
                path = os.path.join(folder, name)
                rel = os.path.relpath(path, root).replace(os.sep, '/')
                layer = layer_of(rel)
                if layer is None:
                    problems.append(f'{rel}: in no layer (kits/ holds {", ".join(KITS)})')
                    continue
                is_test = is_test_path(rel)
                allowed = BELOW[layer] | {layer}
                if is_test:
                    allowed |= {'tools'}
                    if layer in KITS:
                        allowed |= set(KITS)
                with open(path, encoding='utf-8', errors='replace') as f:
                    for number, line in enumerate(f, 1):
                        match = INCLUDE.match(line)
                        if not match or '/' not in match.group(1):
                            continue
                        target = match.group(1)
                        used = layer_of(target)
                        if used is None:
                            continue
                        where = f'{rel}:{number}: includes {target}'
                        if used not in allowed:
                            problems.append(f'{where}: {layer} is below {used}')
                        elif is_test_path(target) and not is_test and layer not in TEST_USERS:
                            problems.append(f'{where}: test code in production code')
    return problems


def main(argv):
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    problems = check(os.path.abspath(argv[1]))
    for problem in problems:
        print(problem, file=sys.stderr)
    if problems:
        print(f'layering: {len(problems)} problem(s)', file=sys.stderr)
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
