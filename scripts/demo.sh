#!/usr/bin/env bash
# The main job: build sorvel and start it on a fresh copy of the demo prefix that ships in demo/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
echo "Built build/sorvel. It will run on the demo prefix in demo/ once the window lands."
