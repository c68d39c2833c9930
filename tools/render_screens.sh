#!/usr/bin/env bash
# Renders the main window in each view mode, with sample data, and the settings window on each
# of its panes, to PNG files under the build folder (build/<preset>/screens), on Qt's offscreen
# platform.
#   tools/render_screens.sh [preset]
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-default}
cmake --build --preset "$preset" --target tickwell_render_screens >/dev/null
out="build/$preset/screens"
"build/$preset/bin/tickwell_render_screens" "$out"
