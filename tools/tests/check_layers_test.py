#!/usr/bin/env python3
"""The layer check run over small trees: a clean one passes, each kind of back-edge, each include
that reaches around the order and each raw thread fails and is named by file and line."""

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
                           '#include "platform/testsupport/TestSupport.h"\n'
                           'std::thread worker([] {});\n',
    'platform/store/Store.cpp': '#include "platform/foundation/Value.h"\n'
                                'std::thread thread;  // started by tw::startThread\n',
    'platform/store/tests/StoreTests.cpp':
        '#include "platform/store/Store.h"\n#include "platform/testsupport/TestSupport.h"\n'
        '#include "platform/desktop/tests/integration/PrivateSessionBus.h"\n'
        'std::thread t([] {});\n',
    'platform/foundation/Thread.cpp': 'return std::thread([] {});\n',
    'kits/platform/net/Session.cpp': '#include "kits/platform/Kit.h"\n',
    'kits/platform/settings/Flow.cpp': '#include "kits/platform/net/Session.h"\n'
                                       '#include "kits/platform/macho/Image.h"\n',
    'kits/platform/tests/NetTests.cpp': '#include "kits/platform/settings/Flow.h"\n',
    'core/Source/Library/Util.h': '#include "platform/foundation/Value.h"\n',
    'core/Source/Timing/Engine.cpp': '#include "core/Source/Model/Timer.h"\n'
                                     '#include "core/Source/Library/Util.h"\n'
                                     '#include "platform/ui/WindowRef.h"\n',
    'core/Source/Timing/UI/Panel.cpp': '#include <QWidget>\n#include "platform/ui/Window.h"\n',
    'core/Source/Timing/tests/EngineTests.cpp': '#include "core/Source/Timing/Engine.h"\n'
                                                '#include "core/testsupport/Store.h"\n',
    'core/Source/Timing/tests/gui/PanelTests.cpp': '#include "core/Source/Timing/UI/Panel.h"\n'
                                                   '#include <QTest>\n',
    'core/Source/Assembly/Wiring.cpp': '#include "core/Source/Timing/UI/Panel.h"\n',
    'core/testsupport/Store.h': '#include "core/Source/Assembly/Wiring.h"\n',
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
            # Inside platform/, kits/platform/ and core/Source/.
            'platform/foundation/Store.cpp': '#include "platform/store/Store.h"\n',
            'platform/ui/Speech.cpp': '#include "platform/desktop/Speech.h"\n',
            'platform/store/tests/Ui.cpp': '#include "platform/ui/Window.h"\n',
            'kits/platform/Session.cpp': '#include "kits/platform/net/Session.h"\n',
            'kits/platform/macho/Net.cpp': '#include "kits/platform/net/Session.h"\n',
            'kits/platform/net/Flow.cpp': '#include "kits/platform/settings/Flow.h"\n',
            'core/Source/Model/Engine.cpp': '#include "core/Source/Timing/Engine.h"\n',
            'core/Source/Timing/tests/Actions.cpp': '#include "core/Source/Actions/Run.h"\n',
            'core/Source/Library/Store.cpp': '#include "core/testsupport/Store.h"\n',
            'core/Source/Model/Test.cpp': '#include "core/Source/Timing/tests/Fake.h"\n',
            # UI stays in core's UI folders.
            'core/Source/Timing/Qt.cpp': '#include <QWidget>\n',
            'core/Source/Timing/Window.cpp': '#include "platform/ui/Window.h"\n',
            'core/Source/Actions/Panel.cpp': '#include "core/Source/Timing/UI/Panel.h"\n',
            'core/testsupport/Qt.h': '#include <QWidget>\n',
        }
        status, errors = run({**CLEAN, **back_edges})
        self.assertEqual(status, 1)
        for rel, text in back_edges.items():
            line = 2 if text.startswith('\n') else 1
            self.assertIn(f'{rel}:{line}: includes', errors)
        self.assertIn(f'layering: {len(back_edges)} problem(s)', errors)

    def test_an_include_that_reaches_around_the_order_fails(self):
        # Each would compile: a quoted include is searched from the including file's folder too,
        # and a layer view's core/.. is the root.
        spellings = {
            'core/Source/Model/Up.cpp': '#include "core/../kits/platform/Kit.h"\n',
            'core/Source/Model/Up2.cpp': '#include "../../../kits/platform/Kit.h"\n',
            'core/Source/Library/Up.cpp': '#include "core/Source/Library/../Timing/Engine.h"\n',
            'kits/platform/Up.cpp': '#include "Kit.h"\n',
            'kits/platform/net/Up.cpp': '#include "./kits/platform/Kit.h"\n',
            'app/Source/Up.cpp': '#include "app//Source/Main.h"\n',
            'app/Source/Angle.cpp': '#include <core/Source/Model/Timer.h>\n',
            'platform/store/tests/Up.cpp': '#include "platform/store/tests/../../ui/Window.h"\n',
        }
        status, errors = run({**CLEAN, **spellings})
        self.assertEqual(status, 1)
        for rel in spellings:
            self.assertIn(f'{rel}:1: includes', errors)
        self.assertIn(f'layering: {len(spellings)} problem(s)', errors)

    def test_shipped_code_starts_threads_only_through_the_helper(self):
        threads = {
            'platform/desktop/Monitor.cpp': '\n  thread = std::thread([this] { run(); });\n',
            'kits/crash/Watch.cpp': 'std::jthread watcher;\n',
            'app/Source/Loop.cpp': '\n  std::thread loop{[] {}};\n',
            'core/Source/Model/Save.cpp': 'std::thread saver(save, 1);\n',
        }
        status, errors = run({**CLEAN, **threads})
        self.assertEqual(status, 1)
        for rel, text in threads.items():
            line = 2 if text.startswith('\n') else 1
            self.assertIn(f'{rel}:{line}: starts a thread', errors)
        self.assertIn(f'layering: {len(threads)} problem(s)', errors)

    def test_a_folder_missing_from_the_table_fails(self):
        missing = {
            'platform/audio/Sound.cpp': '#include "platform/foundation/Value.h"\n',
            'core/Source/Extras/Thing.cpp': '#include "core/Source/Model/Timer.h"\n',
            'kits/platform/Uses.cpp': '#include "kits/platform/dns/Resolve.h"\n',
            'kits/tracing/Trace.cpp': '#include "platform/foundation/Value.h"\n',
        }
        status, errors = run({**CLEAN, **missing})
        self.assertEqual(status, 1)
        for rel in missing:
            self.assertIn(f'{rel}', errors)
        self.assertIn(f'layering: {len(missing)} problem(s)', errors)


if __name__ == '__main__':
    unittest.main()
