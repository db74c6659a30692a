#!/bin/bash
# Submits vorsk-node-check.sbatch once for every node of a partition, each
# holding its node whole. Usage: submit-node-checks.sh PARTITION [SECONDS]
# (test time, default 3600). The reports gather in ./vorsk-reports/, each
# node's settings and journal in ./vorsk-reports/data/NODE/.
set -euo pipefail

partition=${1:?usage: submit-node-checks.sh PARTITION [SECONDS]}
seconds=${2:-3600}
here=$(dirname "$(readlink -f "$0")")
# The test time, plus the identification and the end of the run.
minutes=$((seconds / 60 + 15))

sinfo --noheader --Node --partition="$partition" --format='%N' | sort -u |
  while read -r node; do
    sbatch --partition="$partition" --nodelist="$node" --time="$minutes" \
      --export=ALL,VORSK_DURATION="$seconds" "$here/vorsk-node-check.sbatch"
  done
