#!/bin/bash
# deploy/polygons-mpi.slurm, deploy/polygons-sweep.sh and deploy/polygons-join.sh
# on a real one-node Slurm cluster: munged, slurmctld and slurmd from
# Debian's packages, started here as daemons on loopback with their state in
# a temporary folder, and stopped here by process id whatever happens. The
# jobs run as the user nobody (mpirun refuses root), from a copy of the
# checkout's deploy scripts and program at a path with a blank.
#
# Usage: slurm_cluster_test.sh POLYGONS POLYGONS_MPI SOURCE_DIR
# Exit status: 0 passed, 1 failed, 77 skipped (not root).
set -uo pipefail

polygons=$1
polygons_mpi=$2
source_dir=$3
user=nobody
failures=0

say() { echo "slurm test: $*"; }
check() {  # check NAME CONDITION...: one row of the test
  local name=$1
  shift
  if "$@"; then say "ok: $name"; else say "FAILED: $name"; failures=$((failures + 1)); fi
}
die() { say "FAILED: $*"; exit 1; }

[ "$(id -u)" -eq 0 ] || { echo "skip: slurmd must run as root to start jobs as the user $user"; exit 77; }
export PATH=$PATH:/usr/sbin
for program in munged munge slurmctld slurmd sbatch srun scontrol squeue sinfo scancel runuser pgrep; do
  command -v "$program" >/dev/null || die "$program is missing: scripts/setup.sh installs it"
done
say "jobs run as the user $user: mpirun refuses to run as root"

# In /tmp, whatever TMPDIR says: the jobs' user must reach it.
state=$(mktemp -d /tmp/polygons-slurm.XXXXXX)
chmod 755 "$state"
pids=()
# The whole test's time limit, below ctest's: the clean-up still runs.
test_pid=$$
(
  sleep 600 &
  trap 'kill $!; exit 0' TERM
  wait $! && kill -TERM "$test_pid"
) </dev/null >/dev/null 2>&1 &
watchdog=$!

stop_jobs() {
  local job
  for job in $(squeue -h -o %i 2>/dev/null); do scancel "$job" 2>/dev/null; done
  for _ in $(seq 60); do
    [ -z "$(squeue -h -o %i 2>/dev/null)" ] && return
    sleep 0.5
  done
  say "jobs still listed after 30 s"
}

stop_daemon() {
  local pid=$1
  kill "$pid" 2>/dev/null || return 0
  for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.2
  done
  kill -KILL "$pid" 2>/dev/null
}

cleanup() {
  local status=$?
  trap - EXIT INT TERM
  [ "${#pids[@]}" -gt 0 ] && stop_jobs
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do stop_daemon "${pids[i]}"; done
  if [ "$status" -ne 0 ] && [ "$status" -ne 77 ]; then
    for log in "$state"/log/*; do
      echo "--- $log (last lines)"
      tail -n 20 "$log"
    done
  fi
  rm -rf --one-file-system "$state"
  kill "$watchdog" 2>/dev/null
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# A loopback port nothing listens on.
free_port() {
  local port
  for _ in $(seq 50); do
    port=$((20000 + RANDOM % 40000))
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || { echo "$port"; return 0; }
  done
  return 1
}

# Waits up to $1 tenths of a second for the command that follows to succeed.
wait_for() {
  local tenths=$1
  shift
  for _ in $(seq "$tenths"); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}

# --- the cluster -----------------------------------------------------------

mkdir -p "$state"/{munge,log,ctld,spool}
chmod 700 "$state/ctld" "$state/spool"
head -c 1024 /dev/urandom >"$state/munge/key"
chmod 400 "$state/munge/key"
socket=$state/munge/socket
munged -F -S "$socket" --origin=127.0.0.1 --key-file="$state/munge/key" --log-file="$state/log/munged.log" \
  --pid-file="$state/munge/pid" --seed-file="$state/munge/seed" >>"$state/log/munged.log" 2>&1 &
pids+=($!)
wait_for 100 munge -n -S "$socket" || die "munged did not start"

node=$(uname -n)
node=${node%%.*}
cpus=$(nproc)
[ "$cpus" -ge 2 ] || cpus=2   # two ranks even on one core
ctld_port=$(free_port) && slurmd_port=$(free_port) || die "no free loopback port"
export SLURM_CONF=$state/slurm.conf
cat >"$SLURM_CONF" <<EOF
ClusterName=polygons-test
SlurmctldHost=$node(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
SlurmUser=root
AuthType=auth/munge
AuthInfo=socket=$socket
CredType=cred/munge
StateSaveLocation=$state/ctld
SlurmdSpoolDir=$state/spool
SlurmctldPidFile=$state/slurmctld.pid
SlurmdPidFile=$state/slurmd.pid
SlurmctldLogFile=$state/log/slurmctld.log
SlurmdLogFile=$state/log/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
SlurmdParameters=config_overrides
ReturnToService=2
KillWait=5
MinJobAge=600
NodeName=$node NodeAddr=127.0.0.1 CPUs=$cpus State=UNKNOWN
PartitionName=test Nodes=$node Default=YES MaxTime=INFINITE State=UP
EOF
# Without a cgroup file system (a chroot such as the clean room's, a bare
# container) slurmd cannot detect the cgroup version and will not start,
# though this cluster uses no cgroups (proctrack/linuxproc, task/none):
# naming a version lets it start.
if ! awk '$2 ~ "^/sys/fs/cgroup" { found = 1 } END { exit !found }' /proc/self/mounts; then
  echo "CgroupPlugin=cgroup/v1" >"$state/cgroup.conf"
fi
slurmctld -D -f "$SLURM_CONF" >>"$state/log/slurmctld.out" 2>&1 &
pids+=($!)
wait_for 300 scontrol ping || die "slurmctld did not answer within 30 s"
slurmd -D -f "$SLURM_CONF" >>"$state/log/slurmd.out" 2>&1 &
pids+=($!)
node_idle() { [ "$(sinfo -h -n "$node" -o %T)" = idle ]; }
wait_for 300 node_idle || die "node $node not idle within 30 s: $(sinfo -h -o '%T %E')"
say "one-node cluster up: node $node, $cpus CPUs, ports $ctld_port and $slurmd_port"

# --- a copy of the checkout, and the user's folders ------------------------

checkout="$state/check out"
mkdir -p "$checkout/build" "$checkout/deploy" "$checkout/examples" "$state/home/params"
cp "$polygons" "$checkout/build/polygons"
cp "$polygons_mpi" "$checkout/build/polygons-mpi"
cp "$source_dir"/deploy/polygons-{mpi.slurm,sweep.sh,join.sh} "$checkout/deploy/"
cp "$source_dir/examples/triangle.txt" "$checkout/examples/"
chown -R "$user" "$checkout" "$state/home"
home=$state/home

as_user() { runuser -u "$user" -- env USER="$user" "$@"; }

# Submits a job as the user from folder $1 and waits for it (at most
# $timeout seconds); leaves its id in $job and its status in $job_status.
timeout=90
submit() {
  local dir=$1 out
  shift
  out=$(cd "$dir" && timeout "$timeout" runuser -u "$user" -- env USER="$user" sbatch -W "$@" 2>&1)
  job_status=$?
  job=$(sed -n 's/^Submitted batch job //p' <<<"$out")
  grep -v '^Submitted batch job ' <<<"$out" >&2
  if [ "$job_status" -eq 124 ] && [ -n "$job" ]; then
    say "job $job still running after $timeout s: cancelled"
    scancel "$job"
  fi
}

# The report less its clock lines (start and end stamps, elapsed time).
without_clock() { grep -vE '^ [0-9]{4}-[0-9]{2}-[0-9]{2} UTC|^ +[0-9]+d [0-9]{2}h [0-9]{2}m' "$1"; }

# The one-process program's report and results for input $1, in $2.
reference() {
  mkdir -p "$2/tmp"
  chown -R "$user" "$2"
  (cd "$2" && as_user OMP_NUM_THREADS=2 POLYGONS_RESULTS=1 "$checkout/build/polygons" <"$1" >report.txt 2>&1) ||
    { cat "$2/report.txt"; return 1; }
}

ref=$home/reference
reference "$checkout/examples/triangle.txt" "$ref" || die "the one-process program failed"

# Whether job $2 (submitted from $1) gave the reference report, chart and
# results in its default run folder tmp/<job id>/.
same_as_reference() {
  local dir=$1 job=$2
  if [ -z "$job" ] || [ "$job_status" -ne 0 ]; then
    say "job ${job:-?} ended with status $job_status; its output:"
    cat "$dir/polygons-$job.out"
    return 1
  fi
  diff <(without_clock "$ref/report.txt") <(without_clock "$dir/polygons-$job.out") &&
    [ -s "$dir/tmp/$job/gnu.png" ] &&
    cmp "$ref/tmp/results.tsv" "$dir/tmp/$job/results.tsv"
}

# --- the rows -----------------------------------------------------------------

submit "$checkout" -N1 -n2 -c1 deploy/polygons-mpi.slurm examples/triangle.txt
check "2 ranks x 1 thread, the README's way from the checkout" same_as_reference "$checkout" "$job"
grep -q "User login, *$user " "$checkout/polygons-$job.out"
check "the job ran as $user" [ $? -eq 0 ]

submit "$home" -n1 -c2 "$checkout/deploy/polygons-mpi.slurm" "$checkout/examples/triangle.txt"
check "1 rank x 2 threads, the script's full path from another folder" same_as_reference "$home" "$job"

POLYGONS_LAUNCHER=mpirun submit "$home" --ntasks-per-node=2 -c1 "$checkout/deploy/polygons-mpi.slurm" \
  "$checkout/examples/triangle.txt"
check "2 ranks launched by mpirun" same_as_reference "$home" "$job"

submitters=()
for i in 1 2; do
  (submit "$home" -n1 "$checkout/deploy/polygons-mpi.slurm" "$checkout/examples/triangle.txt"
   echo "$job $job_status" >"$state/job$i") &
  submitters+=($!)
done
wait "${submitters[@]}"
read -r first first_status <"$state/job1"
read -r second second_status <"$state/job2"
both_complete() {
  job_status=$first_status && same_as_reference "$home" "$first" &&
    job_status=$second_status && same_as_reference "$home" "$second"
}
check "two jobs at once, each in its own complete run folder" eval '[ "$first" != "$second" ] && both_complete'

mkdir -p "$home/tmp/direct"
chown "$user" "$home/tmp/direct"
(cd "$home" && timeout "$timeout" runuser -u "$user" -- env USER="$user" OMP_NUM_THREADS=1 POLYGONS_RESULTS=1 \
  srun --mpi=pmix -n2 --input=0 "$checkout/build/polygons-mpi" direct <"$checkout/examples/triangle.txt" \
  >"$home/direct.out" 2>&1)
check "srun --mpi=pmix -n2 directly" eval 'diff <(without_clock "$ref/report.txt") <(without_clock "$home/direct.out") &&
  [ -s "$home/tmp/direct/gnu.png" ] && cmp "$ref/tmp/results.tsv" "$home/tmp/direct/results.tsv"'

# A sweep of three parameter files, against the one-process program on each.
for sides in 3 4 5; do
  { printf '%s\n1\n2e4 %s\n20\n0\n' "$sides" "$((sides * 7))"; sed -n '6,$p' "$checkout/examples/triangle.txt"; } \
    >"$home/params/sides$sides.txt"
  reference "$home/params/sides$sides.txt" "$home/reference$sides" || die "the one-process program failed on $sides sides"
done
chown -R "$user" "$home/params"
sweep_out=$(cd "$home" && as_user "$checkout/deploy/polygons-sweep.sh" params sweep1 -n1 -c1 2>&1)
echo "$sweep_out"
join_job=$(sed -n 's/.*joined by job \([0-9]*\) .*/\1/p' <<<"$sweep_out")
job_ended() { [ -z "$(squeue -h -j "$1" 2>/dev/null)" ]; }
[ -n "$join_job" ] && wait_for $((timeout * 10)) job_ended "$join_job"
expected_join() {
  printf 'run\tsides\tradius\ttrials\tseed\tclasses\tshow\twidth\tmin\tmax\taverage\tstdev\tmode_x\tmode_y'
  printf '\tchi_square\tdegrees_of_freedom\tp_value\tmerged_classes\tmerged_into\n'
  for sides in 3 4 5; do
    printf 'sides%s\t%s\n' "$sides" "$(sed -n '2,19p' "$home/reference$sides/tmp/results.tsv" | cut -f 2 | paste -sd '\t')"
  done
}
check "a sweep of 3 array tasks, joined into one table" diff <(expected_join) "$home/tmp/sweep1/joined.tsv"
check "each sweep task's chart in its own folder" \
  eval '[ -s "$home/tmp/sweep1/sides3/gnu.png" ] && [ -s "$home/tmp/sweep1/sides4/gnu.png" ] && [ -s "$home/tmp/sweep1/sides5/gnu.png" ]'

# The join by hand: a run without results is named and left out, a results
# file of another layout refused.
cp -r "$home/tmp/sweep1" "$home/tmp/sweep2"
printf 'sweep2/gone\t/nowhere/gone.txt\n' >>"$home/tmp/sweep2/inputs.tsv"
join_out=$("$checkout/deploy/polygons-join.sh" "$home/tmp/sweep2" 2>&1)
join_status=$?
check "the join leaves out a run without results, with status 1" eval '[ "$join_status" -eq 1 ] &&
  grep -q "no results for sweep2/gone" <<<"$join_out" && diff <(expected_join) "$home/tmp/sweep2/joined.tsv"'
sed -i 's/^sides\t/sides:\t/' "$home/tmp/sweep1/sides4/results.tsv"
join_out=$("$checkout/deploy/polygons-join.sh" "$home/tmp/sweep2" 2>&1)
join_status=$?
check "the join refuses results that name other values, with status 2" eval '[ "$join_status" -eq 2 ] &&
  grep -q "names other values" <<<"$join_out"'

# A long run cancelled during its trials.
{ printf '10000\n1\n1e8 1\n0\n0\n'; sed -n '6,$p' "$checkout/examples/triangle.txt"; } >"$home/long.txt"
long=$(cd "$home" && as_user sbatch --parsable -n2 -c1 "$checkout/deploy/polygons-mpi.slurm" --mkdir long.txt long)
trials_started() { grep -q 'N. of trials' "$home/polygons-$long.out"; }
wait_for 600 trials_started
check "a long run under way" trials_started
sleep 1
cancelled_at=$(date +%s)
scancel "$long"
wait_for 300 job_ended "$long"
ended_in=$(($(date +%s) - cancelled_at))
check "scancel ends a run within 10 s (took $ended_in s)" [ "$ended_in" -le 10 ]
check "the long run was cancelled, not ended otherwise" eval 'scontrol show job "$long" | grep -q "JobState=CANCELLED "'

check "a cancelled run leaves no file in its run folder" eval '[ -d "$home/tmp/long" ] && [ -z "$(ls -A "$home/tmp/long")" ]'
check "no rank of the cancelled run is left" eval '! pgrep -u "$user" -f "$checkout/build/polygons-mpi" >/dev/null'

# Jobs refused before any trial: status, and one message as the only line
# of the output that is not a report line (those begin with a blank).
printf '0\n1\n1000 1\n0\n0\nplot\n' >"$home/no-sides.txt"
cp "$checkout/examples/triangle.txt" "$home/short.txt"
refused() {
  local expected_status=$1 message=$2 job=$3 messages
  messages=$(grep -v '^ ' "$home/polygons-$job.out" | grep -v '^$')
  [ "$job_status" -eq "$expected_status" ] && [ "$(wc -l <<<"$messages")" -eq 1 ] && [[ $messages == "$message"* ]] ||
    { say "status $job_status, messages:"; echo "$messages"; return 1; }
}
while IFS='|' read -r name environment status message args; do
  [ -z "$environment" ] || export "${environment?}"
  # shellcheck disable=SC2086  # the arguments are words without blanks
  submit "$home" -n2 -c1 "$checkout/deploy/polygons-mpi.slurm" $args
  [ -z "$environment" ] || unset "${environment%%=*}"
  check "$name: status $status and one message" refused "$status" "$message" "$job"
done <<'EOF'
no sides, by srun|POLYGONS_LAUNCHER=srun|2|polygons: the number of sides|no-sides.txt
no sides, by mpirun|POLYGONS_LAUNCHER=mpirun|2|polygons: the number of sides|no-sides.txt
input file missing||2|polygons-mpi.slurm: cannot read the input file|never-written.txt
run folder missing||3|polygons-mpi.slurm: the run folder ./tmp/never_made/ does not exist|short.txt never_made
run folder outside tmp||2|polygons-mpi.slurm: RUN must name a folder inside ./tmp/|short.txt ../escape
program missing|POLYGONS_MPI=/nonexistent/polygons-mpi|3|polygons-mpi.slurm: POLYGONS_MPI=|short.txt
unknown launcher|POLYGONS_LAUNCHER=mpiexec|2|polygons-mpi.slurm: POLYGONS_LAUNCHER must be|short.txt
EOF
check "a refused run folder is not made" eval '[ ! -e "$home/tmp/never_made" ] && [ ! -e "$home/escape" ]'

[ "$failures" -eq 0 ] || die "$failures rows failed"
say "passed"
