#!/usr/bin/env python3
"""Checks that a library of crash-time code calls only async-signal-safe functions.

Usage: check_crash_time_symbols.py LIBRARY

LIBRARY is a shared object (its dynamic undefined symbols are read) or a static archive (the
symbols its members use and none of them defines). Every one must be on the list below: the
async-signal-safe calls of POSIX and glibc the handler path makes, the few of our own crash-time
functions it reaches in other libraries, and what the toolchain itself adds. Anything else (malloc,
operator new, stdio, a lock, the loader's symbol look-up, a dispatch queue) fails, named. Exits 1
on any, 2 when the symbols cannot be read.
"""

import os
import re
import subprocess
import sys

# POSIX's async-signal-safe functions (with the string functions of its 2016 edition) that the
# handler path calls.
POSIX_SAFE = {
    '_exit', 'close', 'fstat', 'getpid', 'open', 'write', 'unlink', 'time', 'clock_gettime',
    'sigaction', 'sigaltstack', 'sigdelset', 'sigemptyset', 'sigfillset', 'sigsuspend',
    'pthread_sigmask', 'pthread_self', 'memchr', 'memcmp', 'memcpy', 'memmove', 'memset',
    'strchr', 'strcmp', 'strlen', 'strncmp', 'strnlen', 'strrchr',
}
# glibc's own, each safe in a handler: the raw system call, errno's location, the kernel's
# memory copy, the loader's lock-free object look-up (documented async-signal-safe) and
# getcontext (register stores and one system call).
GLIBC_SAFE = {'syscall', '__errno_location', 'process_vm_readv', '_dl_find_object', 'getcontext'}
# Ours, in other libraries, each marked signal-safe where it is declared (platform/machine/
# Machine.h; the Mach-O reader's in-place look-ups of images laid out in memory).
OURS_SAFE = {
    'tw::machine::currentThreadId', 'tw::machine::captureSignal', 'tw::machine::listThreads',
    'tw::machine::readMemory', 'tw::machine::suspendOtherThreads', 'tw::machine::resumeThreads',
    'tw::machine::findImageInLinkMap', 'tw::machine::readProcessStats',
    'tw::machine::readStorage', 'tw::machine::tracerAttached', 'tw::machine::threadName',
    'tw::machine::abortMessage',
    'tw::MachOImageList::imageContaining', 'MVXMachOSliceWithHeader',
    'MVXMachOSliceGetUnwindInformation',
}
# What the toolchain adds to any shared object or position-independent object, never called by
# our code.
TOOLCHAIN = {
    '_GLOBAL_OFFSET_TABLE_', '__cxa_finalize', '__gmon_start__', '_ITM_deregisterTMCloneTable',
    '_ITM_registerTMCloneTable', '__stack_chk_fail',
}
# The sanitizers' runtimes, in the asan and tsan builds, and the type information the
# undefined-behaviour sanitizer's dynamic type check emits for our classes (data it reads, which
# refers to the C++ runtime's type-information tables; nothing is called).
SANITIZER_PREFIXES = ('__asan_', '__ubsan_', '__tsan_', '__sanitizer_', '__lsan_',
                      'vtable for __cxxabiv1::')

ALLOWED = POSIX_SAFE | GLIBC_SAFE | OURS_SAFE | TOOLCHAIN

SYMBOL = re.compile(r'^\s*(?:[0-9a-fA-F]+\s+)?([A-Za-z])\s+(.+?)\s*$')


def symbols(library, *options):
    """(kind, demangled name) for each symbol nm lists."""
    result = subprocess.run(['nm', '-C', *options, library], capture_output=True, text=True,
                            check=False)
    if result.returncode != 0:
        raise OSError(result.stderr.strip() or f'nm failed on {library}')
    found = []
    for line in result.stdout.splitlines():
        match = SYMBOL.match(line)
        if match:
            name = re.sub(r'@+[A-Za-z0-9_.]+$', '', match.group(2))
            found.append((match.group(1), name))
    return found


def undefined(library):
    if library.endswith('.a'):
        # Within an archive, members call one another: only what none of them defines is used.
        defined = {name for kind, name in symbols(library, '--defined-only')}
        used = {name for kind, name in symbols(library, '--undefined-only')}
        return used - defined
    return {name for kind, name in symbols(library, '-D', '--undefined-only')}


def function_name(symbol):
    """The symbol without its parameter list (demangled C++ names carry one)."""
    depth = 0
    for i, c in enumerate(symbol):
        if c == '<':
            depth += 1
        elif c == '>':
            depth -= 1
        elif c == '(' and depth == 0 and i > 0:
            return symbol[:i]
    return symbol


def unsafe(names):
    return sorted(name for name in names
                  if function_name(name) not in ALLOWED and not name.startswith(SANITIZER_PREFIXES))


def main(argv):
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    library = argv[1]
    try:
        names = undefined(library)
    except OSError as error:
        print(f'{library}: {error}', file=sys.stderr)
        return 2
    if not names:
        # A library that uses nothing at all is more likely one nm could not read.
        print(f'{library}: no undefined symbols read', file=sys.stderr)
        return 2
    problems = unsafe(names)
    for name in problems:
        print(f'{os.path.basename(library)}: calls {name}, which is not async-signal-safe',
              file=sys.stderr)
    if problems:
        print(f'crash-time symbols: {len(problems)} problem(s)', file=sys.stderr)
        return 1
    print(f'{os.path.basename(library)}: {len(names)} symbol(s), all async-signal-safe')
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
