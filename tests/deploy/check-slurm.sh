#!/bin/bash
# check-slurm.sh DEPLOY_FOLDER VORSK WORKER ENGINE: the Slurm node check on a
# real single-node cluster of this machine (Debian's munge, slurmctld and
# slurmd, their state in a temporary folder, reached on 127.0.0.1 only).
# vorsk runs with ENGINE, a fixture engine: one whose workers fail must get
# the node drained with the verdict as the reason; an option error must fail
# the job and leave the node in service. Exits 77 (skipped) where the
# daemons cannot start.
set -u
deploy=$1
skip() {
  echo "SKIP: $*"
  exit 77
}
fail() {
  echo "FAIL: $*"
  failed=1
}
failed=0
[ "$(id -u)" = 0 ] || skip "the Slurm daemons need root"
for tool in munged mungekey slurmctld slurmd sbatch scontrol squeue sinfo; do
  command -v "$tool" >/dev/null || PATH=$PATH:/usr/sbin
  command -v "$tool" >/dev/null || skip "$tool missing (scripts/setup.sh)"
done

scratch=$(mktemp -d /tmp/vorsk-slurm.XXXXXX)
chmod 755 "$scratch"
export SLURM_CONF=$scratch/slurm.conf
stop() {
  scontrol shutdown >/dev/null 2>&1
  for pidfile in slurmctld slurmd munged; do
    [ -s "$scratch/$pidfile.pid" ] || continue
    pid=$(cat "$scratch/$pidfile.pid")
    for _ in $(seq 50); do
      kill -0 "$pid" 2>/dev/null || break
      [ "$pidfile" = munged ] && kill "$pid"
      sleep 0.2
    done
    kill -9 "$pid" 2>/dev/null
  done
  rm -rf "$scratch"
}
trap stop EXIT

# The program as installed: vorsk, its worker and its engine side by side.
mkdir "$scratch/bin" "$scratch/state" "$scratch/spool" "$scratch/submit"
cp "$2" "$3" "$scratch/bin/" && cp "$4" "$scratch/bin/Burnmod.so" ||
  skip "program files missing"

mungekey --create --keyfile="$scratch/munge.key" 2>/dev/null ||
  skip "mungekey cannot make a key"
munged --force --socket="$scratch/munge.socket" \
  --key-file="$scratch/munge.key" --pid-file="$scratch/munged.pid" \
  --log-file="$scratch/munged.log" --seed-file="$scratch/munge.seed" ||
  skip "munged does not start: $(tail -n 3 "$scratch/munged.log")"

# Ports above the usual ones, so a cluster on this machine is left alone.
port=$((20000 + RANDOM % 20000))
cpus=$(nproc)
host=$(hostname -s)
cat >"$SLURM_CONF" <<CONF
ClusterName=vorsk
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$port
SlurmdPort=$((port + 1))
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$scratch/munge.socket
StateSaveLocation=$scratch/state
SlurmdSpoolDir=$scratch/spool
SlurmctldPidFile=$scratch/slurmctld.pid
SlurmdPidFile=$scratch/slurmd.pid
SlurmctldLogFile=$scratch/slurmctld.log
SlurmdLogFile=$scratch/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
ReturnToService=2
MpiDefault=none
NodeName=$host NodeAddr=127.0.0.1 CPUs=$cpus State=UNKNOWN
PartitionName=check Nodes=$host Default=YES MaxTime=INFINITE State=UP
CONF
slurmctld -i || skip "slurmctld does not start: $(tail -n 3 "$scratch/slurmctld.log")"
slurmd || skip "slurmd does not start: $(tail -n 3 "$scratch/slurmd.log")"
for _ in $(seq 60); do
  state=$(sinfo --noheader --Node --format=%t 2>/dev/null)
  [ "$state" = idle ] && break
  sleep 1
done
[ "$state" = idle ] ||
  skip "the node does not come up ($state): $(tail -n 3 "$scratch/slurmd.log")"

# Runs the check as the README says for SECONDS; its job's state once it
# has ended. More than a day of test time is an option error for vorsk.
check() {
  (cd "$scratch/submit" && PATH=$scratch/bin:$PATH \
    bash "$deploy/slurm/submit-node-checks.sh" check "$1") >/dev/null ||
    return 1
  for _ in $(seq 180); do
    [ -z "$(squeue --noheader)" ] && break
    sleep 1
  done
  scontrol --oneliner show job | tail -n 1 |
    grep -o 'JobState=[A-Z]* .*ExitCode=[0-9:]*'
}
node() { scontrol show node "$host"; }

job=$(FIXTURE_END=code:1 check 30)
case $job in *COMPLETED*) fail "unstable node: job $job" ;; esac
node | grep -q 'State=[A-Z+]*DRAIN' || fail "unstable node not drained"
node | grep -q "Reason=vorsk: unstable, report $scratch/submit/vorsk-reports/$host.json" ||
  fail "drain reason: $(node | grep Reason)"
grep -q '"verdict": "unstable"' "$scratch/submit/vorsk-reports/$host.json" ||
  fail "no report of the unstable run"
scontrol update NodeName="$host" State=RESUME 2>/dev/null

job=$(check 99999)
case $job in *FAILED*ExitCode=3:0) ;; *) fail "option error: job $job" ;; esac
node | grep -q 'State=IDLE ' || fail "option error touched the node: $(node | grep State=)"
exit "$failed"
