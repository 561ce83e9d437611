#!/usr/bin/env bash
# Fails when the server binary given holds the test seams (built with ORV_TEST_SEAMS): a server an
# operator runs must not let its environment and signals move its clock.
# Usage: scripts/check-no-test-seams.sh PATH_TO_DedicatedServer
set -euo pipefail
if grep -q -a -e ORV_TEST_CLOCK_STEP_MS -e "Test clock seam on" "$1"; then
  echo "check-no-test-seams: $1 holds the test clock seam; build it with -DORV_TEST_SEAMS=OFF" >&2
  exit 1
fi
