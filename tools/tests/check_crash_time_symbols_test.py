#!/usr/bin/env python3
"""The crash-time symbol check over a library that calls unsafe functions: it fails, naming each
of them and none of the safe ones.

Usage: check_crash_time_symbols_test.py PROBE_LIBRARY"""

import os
import subprocess
import sys
import unittest

CHECKER = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..',
                       'check_crash_time_symbols.py')
PROBE = None


class CrashTimeSymbolCheck(unittest.TestCase):
    def test_every_unsafe_call_fails_and_is_named(self):
        result = subprocess.run([sys.executable, CHECKER, PROBE], capture_output=True, text=True)
        self.assertEqual(result.returncode, 1, result.stderr)
        for unsafe in ('malloc', 'free', 'strerror', 'pthread_mutex_lock', 'operator new'):
            self.assertIn(f'calls {unsafe}', result.stderr)
        for safe in ('write', '__cxa_finalize'):
            self.assertNotIn(f'calls {safe}', result.stderr)

    def test_a_library_that_cannot_be_read_fails(self):
        result = subprocess.run([sys.executable, CHECKER, CHECKER], capture_output=True, text=True)
        self.assertEqual(result.returncode, 2)


if __name__ == '__main__':
    PROBE = sys.argv.pop(1)
    unittest.main()
