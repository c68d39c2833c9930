#!/usr/bin/env python3
"""Checks that the modules of core/ include one another in one direction only.

Usage: check_core_layers.py CORE_DIR MODULE [MODULE ...]

The modules are given lowest first. A file of core/Source/<M>/ may include a header of
core/Source/<N>/ only when N is M or comes before M. Besides:
  - a module's UI/ folder holds the only core code that shows UI; its headers are included only
    by UI/ folders, by the top module (which wires everything together) and by gui tests;
  - outside UI/ folders and gui tests, nothing includes Qt or platform/ui, except
    platform/ui/WindowRef.h, which holds no Qt type;
  - production code never includes tests or the test support in core/testsupport/, which may
    itself include any module (tests are leaves: nothing includes them).
Every folder of core/Source must be one of the modules. Exits 1, naming each offending line.
"""

import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
QT_HEADER = re.compile(r'^Q[A-Za-z]*(/|$)')
SOURCE_SUFFIXES = ('.h', '.hpp', '.cpp', '.cc')


def main(argv):
    if len(argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    core_dir = os.path.abspath(argv[1])
    order = argv[2:]
    rank = {module: i for i, module in enumerate(order)}
    top = order[-1]
    source_dir = os.path.join(core_dir, 'Source')
    problems = []

    for entry in sorted(os.listdir(source_dir)):
        if os.path.isdir(os.path.join(source_dir, entry)) and entry not in rank:
            problems.append(f'core/Source/{entry}: a module missing from the layer order '
                            f'({" -> ".join(order)})')

    for root, _, files in os.walk(core_dir):
        for name in sorted(files):
            if not name.endswith(SOURCE_SUFFIXES):
                continue
            path = os.path.join(root, name)
            rel = os.path.relpath(path, os.path.dirname(core_dir))
            parts = rel.split(os.sep)
            in_testsupport = parts[1] == 'testsupport'
            if parts[1] != 'Source' and not in_testsupport:
                continue
            module = None if in_testsupport else parts[2]
            is_test = in_testsupport or 'tests' in parts
            is_gui_test = 'tests' in parts and 'gui' in parts
            is_ui = not is_test and 'UI' in parts
            with open(path, encoding='utf-8', errors='replace') as f:
                for number, line in enumerate(f, 1):
                    match = INCLUDE.match(line)
                    if not match:
                        continue
                    where = f'{rel}:{number}: includes {match.group(2)}'
                    target = match.group(2)
                    if match.group(1) == '<':
                        if QT_HEADER.match(target) and not (is_ui or is_gui_test):
                            problems.append(f'{where}: Qt outside a UI folder')
                        continue
                    if target.startswith('platform/ui/'):
                        if target != 'platform/ui/WindowRef.h' and not (is_ui or is_gui_test):
                            problems.append(f'{where}: the UI layer outside a UI folder')
                        continue
                    tparts = target.split('/')
                    if tparts[0] != 'core':
                        continue
                    if len(tparts) > 1 and tparts[1] == 'testsupport':
                        if not is_test:
                            problems.append(f'{where}: test support in production code')
                        continue
                    if len(tparts) < 4 or tparts[1] != 'Source':
                        continue
                    used = tparts[2]
                    if used not in rank:
                        problems.append(f'{where}: not a module of the layer order')
                        continue
                    if 'tests' in tparts[3:] and not is_test:
                        problems.append(f'{where}: a test header in production code')
                    if 'UI' in tparts[3:] and not (is_ui or is_gui_test or module == top):
                        problems.append(f'{where}: the UI part of {used} outside UI code')
                    if module is not None and rank[used] > rank[module]:
                        problems.append(f'{where}: {module} is below {used} in the layer order '
                                        f'({" -> ".join(order)})')

    for problem in problems:
        print(problem, file=sys.stderr)
    if problems:
        print(f'core layering: {len(problems)} problem(s)', file=sys.stderr)
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
