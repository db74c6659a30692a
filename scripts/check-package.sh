#!/usr/bin/env bash
# Builds and installs the Debian package, then starts the installed program
# as an ordinary user from their home folder, under a virtual X server with a
# tray: a run must start and load the processors. Removes the package and
# the user afterwards. Needs root (it installs a package).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/package.sh
deb=$(ls -t build/vorsk_*.deb | head -n 1)

user=vorsk-check
cleanup() {
  apt-get remove -y -qq vorsk >/dev/null 2>&1 || true
  userdel -r "$user" >/dev/null 2>&1 || true
}
trap cleanup EXIT
export DEBIAN_FRONTEND=noninteractive
apt-get install -y -qq --no-install-recommends "./$deb"
dpkg -L vorsk
useradd -m "$user"

# As the user, from their home: settings only in the user's data folder, so
# the run starts by itself only if the program looks for them there.
runuser -u "$user" -- bash -s <<'AS_USER'
set -euo pipefail
cd
mkdir -p .local/share/vorsk
printf '[General]\nAutoStart=true\n' > .local/share/vorsk/Vorsk.ini
xvfb-run -a bash -s <<'IN_X'
set -euo pipefail
trayer &
sleep 2
vorsk &
vorsk=$!
sleep 20
kill -0 $vorsk
seconds=$(ps -u "$(id -un)" -o times= | awk '{s += $1} END {print s}')
# Quitting by SIGTERM closes the window, which saves the settings.
kill $vorsk
wait $vorsk || true
echo "processor time of the run: $seconds s"
test "$seconds" -ge 5
grep -q '^Priority=' .local/share/vorsk/Vorsk.ini
IN_X
AS_USER
echo "installed package works"
