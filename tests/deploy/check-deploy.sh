#!/bin/bash
# check-deploy.sh DEPLOY_FOLDER VORSK WORKER ENGINE: lints the examples, runs
# the Slurm node check against stand-ins that play each exit code of vorsk,
# and runs the Kubernetes pod's command with vorsk and a fixture engine: what
# it prints, the pod's log, must be the JSON report alone.
set -u
deploy=$1
here=$(dirname "$(readlink -f "$0")")
failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}

yamllint -d '{extends: default, rules: {document-start: disable}}' \
  "$deploy/kubernetes/vorsk-job.yaml" || fail yamllint
python3 "$here/check_manifest.py" "$deploy/kubernetes/vorsk-job.yaml" ||
  fail "manifest"
for script in "$deploy"/slurm/*; do
  bash -n "$script" || fail "bash -n $script"
done
shellcheck "$deploy"/slurm/* "$0" || fail shellcheck

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/bin"
# vorsk notes its arguments, writes a report unless it exits 3 and exits
# with $FAKE_EXIT; scontrol and sbatch note their arguments, or fail when
# $FAKE_REFUSE is set; sinfo lists two nodes, one twice as sinfo does
# for a node in two partitions.
cat >"$scratch/bin/vorsk" <<'FAKE'
#!/bin/bash
echo "vorsk $*" >>"$FAKE_CALLS"
while [ $# -gt 0 ]; do
  [ "$1" = --report ] && [ "$FAKE_EXIT" != 3 ] && echo '{}' >"$2"
  shift
done
exit "$FAKE_EXIT"
FAKE
cat >"$scratch/bin/scontrol" <<'FAKE'
#!/bin/bash
[ -n "${FAKE_REFUSE:-}" ] && exit 1
echo "$*" >>"$FAKE_CALLS"
FAKE
cp "$scratch/bin/scontrol" "$scratch/bin/sbatch"
printf '#!/bin/bash\nprintf "n1\\nn2\\nn1\\n"\n' >"$scratch/bin/sinfo"
chmod +x "$scratch/bin"/*

# exit code of vorsk | drain refused | node drained | exit code of the job
while read -r code refuse drained job; do
  calls=$scratch/calls.$code.$refuse
  : >"$calls"
  [ "$refuse" = yes ] && refusing=1 || refusing=
  (cd "$scratch" && PATH=$scratch/bin:$PATH FAKE_EXIT=$code \
    FAKE_CALLS=$calls FAKE_REFUSE=$refusing SLURMD_NODENAME=n1 \
    VORSK_REPORTS=reports SLURM_SUBMIT_DIR=$scratch \
    bash "$deploy/slurm/vorsk-node-check.sbatch" 2>/dev/null)
  got=$?
  [ "$got" = "$job" ] || fail "vorsk $code: job exit $got, not $job"
  if grep -q "NodeName=n1 State=DRAIN" "$calls"; then was=yes; else was=no; fi
  [ "$was" = "$drained" ] || fail "vorsk $code: drained $was, not $drained"
  grep -q -- "--mode all .*--data-dir $scratch/reports/data/n1 --report $scratch/reports/n1.json" "$calls" ||
    fail "vorsk $code: not run on every processor, in the node's own folder"
done <<'TABLE'
0 no no 0
1 no yes 1
2 no yes 2
3 no no 3
1 yes no 4
TABLE

: >"$scratch/calls.submit"
PATH=$scratch/bin:$PATH FAKE_CALLS=$scratch/calls.submit \
  bash "$deploy/slurm/submit-node-checks.sh" batch 600 ||
  fail "submit-node-checks.sh"
for node in n1 n2; do
  [ "$(grep -c -- "--nodelist=$node " "$scratch/calls.submit")" = 1 ] ||
    fail "not one check submitted for $node"
done

# The pod's command as the manifest gives it, without a display or a runtime
# folder, as in a container; both of its output streams make the pod's log.
mkdir "$scratch/pod" "$scratch/home"
if ! cp "$2" "$3" "$scratch/pod/" || ! cp "$4" "$scratch/pod/Burnmod.so"; then
  fail "program files missing"
fi
python3 - "$deploy/kubernetes/vorsk-job.yaml" >"$scratch/pod.sh" <<'PY' ||
import shlex, sys, yaml
container = yaml.safe_load(open(sys.argv[1]))["spec"]["template"]["spec"]["containers"][0]
print(shlex.join(container["command"] + container["args"]))
PY
  fail "no command in the manifest"
(cd "$scratch/home" && env -u XDG_RUNTIME_DIR -u DISPLAY -u WAYLAND_DISPLAY \
  -u QT_QPA_PLATFORM HOME="$scratch/home" XDG_DATA_HOME="$scratch/home/data" \
  PATH="$scratch/pod:$PATH" VORSK_DURATION=2 bash "$scratch/pod.sh" \
  >"$scratch/pod.log" 2>&1)
python3 -c 'import json, sys; json.load(open(sys.argv[1]))["verdict"]' \
  "$scratch/pod.log" ||
  fail "the pod's log is not the JSON report alone: $(head -c 300 "$scratch/pod.log")"

exit "$failed"
