#!/usr/bin/env bash
# Builds the Debian package and checks it as a distribution would (lintian:
# no error, no warning; the binaries' hardening), installs it, then starts
# the installed program as an ordinary user from their home folder, under a
# virtual X server with a tray and without one: a run must start and load
# the processors. Removes the package and the user afterwards. Needs root
# (it installs a package).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/package.sh
deb=$(ls -t build-deb/vorsk_*.deb | head -n 1)
lintian --fail-on error,warning --tag-display-limit 0 "$deb"

user=vorsk-check
cleanup() {
  apt-get purge -y -qq vorsk >/dev/null 2>&1 || true
  userdel -r "$user" >/dev/null 2>&1 || true
}
trap cleanup EXIT
export DEBIAN_FRONTEND=noninteractive
apt-get install -y -qq --no-install-recommends "./$deb"
dpkg -L vorsk
# Every program and library the package installs: fortified, protected
# stack, relro bound at start, and the programs position independent.
# Debian 12's flags leave control-flow protection out. The worker's every
# libc call takes sizes known only at run time, which the fortify check
# counts as unprotected although it was built with the same flags.
for binary in $(dpkg -L vorsk | grep -E '^/usr/(bin|libexec|lib)/'); do
  [ -f "$binary" ] || continue
  skip=(--nocfprotection)
  [ "$(basename "$binary")" = vorsk-worker ] && skip+=(--nofortify)
  hardening-check "${skip[@]}" "$binary"
done
useradd -m "$user"

# As the user, from their home: settings only in the user's data folder, so
# the run starts by itself only if the program looks for them there.
runuser -u "$user" -- bash -s <<'AS_USER'
set -euo pipefail
cd
mkdir -p .local/share/vorsk
printf '[General]\nAutoStart=true\n' > .local/share/vorsk/Vorsk.ini
for tray in trayer none; do
TRAY=$tray xvfb-run -a bash -s <<'IN_X'
set -euo pipefail
if [ "$TRAY" = trayer ]; then
  trayer &
  sleep 2
fi
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
echo "started with tray: $TRAY"
IN_X
done
AS_USER
echo "installed package works"
