#!/usr/bin/env python3
"""The layer check run over small trees: a clean one passes, each kind of back-edge fails and is
named by file and line."""

import os
import subprocess
import sys
import tempfile
import unittest

CHECKER = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'check_layers.py')

CLEAN = {
    'platform/foundation/Value.h': '#pragma once\n',
    'core/Source/Model/Timer.h': '#include "platform/foundation/Value.h"\n',
    'kits/platform/Kit.h': '#include "platform/foundation/Value.h"\n',
    'kits/analytics/Events.cpp': '#include "kits/platform/Kit.h"\n',
    'kits/crash/Crash.cpp': '#include "kits/analytics/Events.h"\n#include <QWidget>\n',
    'kits/platform/tests/KitTests.cpp': '#include "kits/crash/Crash.h"\n'
                                        '#include "tools/kitservice/Fixture.h"\n',
    'app/Source/Main.cpp': '#include "core/Source/Model/Timer.h"\n#include "kits/crash/Crash.h"\n',
    'platform/testsupport/TestSupport.h': '#include "platform/foundation/Value.h"\n',
    'bench/bench_app.cpp': '#include "app/Source/Main.h"\n'
                           '#include "platform/testsupport/TestSupport.h"\n',
}


def run(files):
    with tempfile.TemporaryDirectory() as root:
        for rel, text in files.items():
            path = os.path.join(root, rel)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, 'w') as f:
                f.write(text)
        result = subprocess.run([sys.executable, CHECKER, root], capture_output=True, text=True)
        return result.returncode, result.stderr


class LayerCheck(unittest.TestCase):
    def test_a_tree_whose_edges_point_down_passes(self):
        self.assertEqual(run(CLEAN), (0, ''))

    def test_every_back_edge_fails_and_is_named(self):
        back_edges = {
            'kits/analytics/Uses.cpp': '#include "core/Source/Model/Timer.h"\n',
            'kits/platform/Up.h': '\n#include "kits/analytics/Events.h"\n',
            'platform/foundation/Up.cpp': '#include "app/Source/Main.h"\n',
            'core/Source/Model/Kit.cpp': '#include "kits/platform/Kit.h"\n',
            'app/Source/Bench.cpp': '#include "bench/bench_app.h"\n',
            'kits/crash/Test.cpp': '#include "kits/platform/tests/KitFakes.h"\n',
            'kits/platform/tests/Core.cpp': '#include "core/Source/Model/Timer.h"\n',
        }
        status, errors = run({**CLEAN, **back_edges})
        self.assertEqual(status, 1)
        for rel, text in back_edges.items():
            line = 2 if text.startswith('\n') else 1
            self.assertIn(f'{rel}:{line}: includes', errors)
        self.assertIn(f'layering: {len(back_edges)} problem(s)', errors)


if __name__ == '__main__':
    unittest.main()
