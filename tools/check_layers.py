#!/usr/bin/env python3
"""Checks that the parts of the tree include one another in one direction only.

Usage: check_layers.py ROOT

The order lives in one table (ORDER below): for each folder that is split into layers, its
layers and what each may include besides itself. A file sits in a chain of layers, one per level
(kits/platform/net/X.cpp: kits/platform, then kits/platform/net); an include is allowed where the
two chains first part, when the target's layer there is one the file's layer may include. A
folder's own files (those in none of its layers, such as kits/platform/*.cpp) sit below all of its
layers, and a layer that may include them names the folder itself.

Besides:
  - includes of ours are spelled from the root, in quotes, through no "." or ".." (a quoted
    include is also searched from the including file's folder, and a layer's view of the tree
    links folders whose ".." is the root, so any other spelling could reach around the order);
  - production code never includes tests or test support (folders named tests/ or testsupport/);
    tests and test support are leaves. Test support, and the tests in a folder's own files, see
    all of that folder; every test may also include the tools' test services and, within the
    kits, any kit; test code is checked against the order of the tree's top only when it
    includes test code;
  - in core/, only UI/ folders show UI: outside them and the gui tests nothing includes Qt or
    platform/ui (but platform/ui/WindowRef.h, which holds no Qt type), and a module's UI/ headers
    are included only by UI/ folders, the top module (which wires everything together) and gui
    tests;
  - a thread of ours starts only through tw::startThread (platform/foundation/Thread.cpp), which
    gives it its name, its alternate signal stack and the crash kit's start hook: shipped code
    outside the helper's own files never constructs a std::thread or a std::jthread. Tests, benchmarks and
    test services may.
Every folder of a split folder is in the table. A system include (<...>) is not ours to check,
unless it names one of our folders. Exits 1, naming each offending line.
"""

import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
QT_HEADER = re.compile(r'^Q[A-Za-z]*(/|$)')
RAW_THREAD = re.compile(r'\bstd::jthread\b|\bstd::thread\s*(?:[A-Za-z_]\w*\s*)?[({]')
SOURCE_SUFFIXES = ('.h', '.hpp', '.cpp', '.cc')
TOPS = ('platform', 'core', 'kits', 'app', 'tools', 'bench')
KITS = ('kits/platform', 'kits/analytics', 'kits/crash')
SHIPPED = ('platform', 'core', 'kits', 'app')
THREAD_STARTER = ('platform/foundation/Thread.h', 'platform/foundation/Thread.cpp')

CORE_MODULES = ('Library', 'Model', 'UserMessages', 'Settings', 'Services', 'Timing',
                'PlatformServices', 'Actions', 'ViewModels', 'Assembly')
CORE_TOP = f'core/Source/{CORE_MODULES[-1]}'


def in_order(folder, names):
    """Layers of which each may include those before it."""
    return {f'{folder}/{name}': {f'{folder}/{n}' for n in names[:i]}
            for i, name in enumerate(names)}


# For each split folder ('' is the root): its layers, and what each may include besides itself.
ORDER = {
    '': {
        'platform': set(),
        'core': {'platform'},
        'kits/platform': {'platform'},
        'kits/analytics': {'platform', 'kits/platform'},
        'kits/crash': {'platform', 'kits/platform', 'kits/analytics'},
        'app': {'platform', 'core', *KITS},
        'tools': {'platform', 'core', *KITS, 'app'},
        'bench': {'platform', 'core', *KITS, 'app', 'tools'},
    },
    # The foundation at the bottom, the rest each over it alone; the machine layer beside it.
    'platform': {
        'platform/foundation': set(),
        'platform/machine': set(),
        'platform/tasks': {'platform/foundation'},
        'platform/signals': {'platform/foundation'},
        'platform/inject': {'platform/foundation'},
        'platform/store': {'platform/foundation'},
        'platform/desktop': {'platform/foundation'},
        'platform/ui': {'platform/foundation'},
    },
    # The kit platform's own files at the bottom; the HTTP stack over them, the settings flow
    # over all; the Mach-O reader apart.
    'kits/platform': {
        'kits/platform/macho': set(),
        'kits/platform/net': {'kits/platform'},
        'kits/platform/settings': {'kits/platform', 'kits/platform/macho', 'kits/platform/net'},
    },
    # core/'s own files are its test support.
    'core': {'core/Source': set()},
    'core/Source': in_order('core/Source', CORE_MODULES),
}


def closure(folder, layer):
    seen, todo = set(), list(ORDER[folder][layer])
    while todo:
        below = todo.pop()
        if below in seen:
            continue
        seen.add(below)
        todo.extend(ORDER[folder].get(below, ()))
    return seen


BELOW = {(folder, layer): closure(folder, layer) for folder in ORDER for layer in ORDER[folder]}


def is_test_path(path):
    parts = path.split('/')[:-1]
    return 'tests' in parts or 'testsupport' in parts


def chain(path):
    """The layers holding path, outermost first, and the split folder whose own files hold it
    (None when the innermost layer is not split)."""
    layers, folder = [], ''
    while folder in ORDER:
        inside = [layer for layer in ORDER[folder] if path.startswith(layer + '/')]
        if not inside:
            return layers, folder
        layers.append(max(inside, key=len))
        folder = layers[-1]
    return layers, None


def unlisted_folder(path):
    """The folder of path that a split folder holds but its table does not, or None."""
    layers, folder = chain(path)
    if folder is None or folder == '':
        return None
    rest = path[len(folder) + 1:].split('/')[:-1]
    if not rest or rest[0] in ('tests', 'testsupport'):
        return None
    return f'{folder}/{rest[0]}'


def spelling_problem(target):
    parts = target.split('/')
    if any(part in ('', '.', '..') for part in parts):
        return 'spelled through "." or ".." (spell it from the root)'
    if parts[0] not in TOPS:
        return 'not spelled from the root'
    return None


def order_problem(rel, target, is_test, top_only):
    """Why rel may not include target under the table's order, or None."""
    source, source_folder = chain(rel)
    used, used_folder = chain(target)
    if not used:
        return None
    if top_only:
        source, used = source[:1], used[:1]
    for level, used_layer in enumerate(used):
        if level >= len(source):
            # The file is among its split folder's own files, which sit below its layers; tests
            # there see the whole folder.
            return None if is_test else f'{source_folder} is below {used_layer}'
        own = source[level]
        if own == used_layer:
            continue
        folder = '' if level == 0 else source[level - 1]
        allowed = set(BELOW[(folder, own)])
        if level == 0 and is_test:
            allowed |= {'tools', *(KITS if own in KITS else ())}
        if used_layer in allowed:
            return None
        return f'{own} is below {used_layer}'
    if len(source) > len(used) and not is_test and not top_only:
        # The target is among the own files of a split folder that holds the file's layer.
        folder = used[-1]
        if folder not in BELOW[(folder, source[len(used)])]:
            return f'{source[len(used)]} is below the own files of {folder}'
    return None


def core_ui_problem(rel, quote, target, is_test):
    parts = rel.split('/')
    is_gui_test = 'tests' in parts and 'gui' in parts
    is_ui = not is_test and 'UI' in parts
    if is_ui or is_gui_test:
        return None
    if quote == '<':
        return 'Qt outside a UI folder' if QT_HEADER.match(target) else None
    if target.startswith('platform/ui/'):
        return None if target == 'platform/ui/WindowRef.h' else 'the UI layer outside a UI folder'
    tparts = target.split('/')
    if (len(tparts) > 3 and tparts[:2] == ['core', 'Source'] and 'UI' in tparts[3:]
            and not rel.startswith(CORE_TOP + '/')):
        return f'the UI part of {tparts[2]} outside UI code'
    return None


def strip_comment(line):
    return line.split('//', 1)[0]


def check_file(root, rel, problems):
    is_test = is_test_path(rel)
    top = rel.split('/')[0]
    layers, _ = chain(rel)
    if not layers:
        problems.append(f'{rel}: in no layer (kits/ holds {", ".join(KITS)})')
        return
    unlisted = unlisted_folder(rel)
    placed = not unlisted or is_test
    if not placed:
        problems.append(f'{rel}: {unlisted} is a folder missing from the layer table')
    may_start_threads = top in SHIPPED and not is_test and rel not in THREAD_STARTER
    with open(os.path.join(root, rel), encoding='utf-8', errors='replace') as f:
        for number, line in enumerate(f, 1):
            if may_start_threads and RAW_THREAD.search(strip_comment(line)):
                problems.append(f'{rel}:{number}: starts a thread other than through '
                                'tw::startThread')
            match = INCLUDE.match(line)
            if not match:
                continue
            quote, target = match.groups()
            where = f'{rel}:{number}: includes {target}'
            if top == 'core':
                problem = core_ui_problem(rel, quote, target, is_test)
                if problem:
                    problems.append(f'{where}: {problem}')
            if quote == '<' and target.split('/')[0] not in TOPS:
                continue
            problem = spelling_problem(target)
            if problem:
                problems.append(f'{where}: {problem}')
                continue
            if quote == '<':
                problems.append(f'{where}: ours, so spelled in quotes')
                continue
            target_is_test = is_test_path(target)
            if target_is_test and not is_test and top not in ('tools', 'bench'):
                problems.append(f'{where}: test code in production code')
                continue
            unlisted = unlisted_folder(target)
            if unlisted and not target_is_test:
                problems.append(f'{where}: {unlisted} is a folder missing from the layer table')
                continue
            if not placed:
                continue
            # Test code including test code: only the tree's top order holds.
            problem = order_problem(rel, target, is_test, target_is_test and is_test)
            if problem:
                problems.append(f'{where}: {problem}')


def check(root):
    problems = []
    for top in TOPS:
        for folder, dirs, files in os.walk(os.path.join(root, top)):
            dirs.sort()
            for name in sorted(files):
                if name.endswith(SOURCE_SUFFIXES):
                    path = os.path.join(folder, name)
                    check_file(root, os.path.relpath(path, root).replace(os.sep, '/'), problems)
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
