#!/usr/bin/env bash
# Renders every screen, with sample data, to PNG files under the build folder
# (build/<preset>/screens), on Qt's offscreen platform with a 1600x1000 screen: the main window in
# each view mode (and with the actions list folded) at its minimum size, its default size and
# maximised, each mode's value popover open over it at those sizes, the action editor for each
# action kind and the settings window on each pane. The layout check (app_layout_tests) takes the
# same tour.
#   tools/render_screens.sh [preset]
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-default}
cmake --build --preset "$preset" --target tickwell_render_screens >/dev/null
out="build/$preset/screens"
rm -rf "$out"
"build/$preset/bin/tickwell_render_screens" "$out"
