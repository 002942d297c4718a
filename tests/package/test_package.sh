#!/usr/bin/env bash
# The Debian package as an operator meets it: builds it (scripts/package.sh), installs it on
# this machine with apt-get, checks its files, its menu entry and its AppStream metainfo, starts
# the installed program as two scratch users with no folder of their own yet (one offscreen, one
# with the no-monitor service's command on a virtual display), enables and disables the
# autostart, then removes the package and the users again.
#
# Needs root; port 8115 must be free. Every wait is bounded.
set -euo pipefail
cd "$(dirname "$0")/../.."

readonly USER_A=aqled-pkg-a USER_B=aqled-pkg-b
readonly START_TIMEOUT=60  # seconds for a start, a stop or a second copy to show its result
readonly APT_TIMEOUT=900   # seconds for apt-get (it may download the dependencies)

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
pass() { echo "ok: $*"; }

[ "$(id -u)" -eq 0 ] || fail "needs root: it installs a package and adds users"
if dpkg-query -W -f='${Status}' aqled 2> /dev/null | grep -q "install ok installed"; then
  fail "aqled is already installed on this machine; remove it first (apt-get purge aqled)"
fi
for u in "$USER_A" "$USER_B"; do
  id "$u" > /dev/null 2>&1 && fail "user $u exists already"
done

# True while something accepts connections on 127.0.0.1:$1.
listening() { (exec 3<> "/dev/tcp/127.0.0.1/$1") 2> /dev/null; }
# wait_until SECONDS COMMAND...: runs COMMAND until it succeeds or the time is up.
wait_until() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.2
  done
}

group_alive() { kill -0 -- "-$1" 2> /dev/null; }
group_gone() { ! group_alive "$1"; }

listening 8115 && fail "port 8115 is taken; the test needs it free"

# The users reach their runtime folders inside.
scratch=$(mktemp -d)
chmod 711 "$scratch"
groups=()
installed=0
# stop GROUP: ends a process group started here, politely first (a virtual X server then
# removes its lock and socket), within the time-out.
stop() {
  kill -TERM -- "-$1" 2> /dev/null || return 0
  wait_until "$START_TIMEOUT" group_gone "$1" || kill -KILL -- "-$1" 2> /dev/null || true
}
cleanup() {
  local g u
  for g in "${groups[@]}"; do stop "$g"; done
  [ "$installed" -eq 0 ] || timeout "$APT_TIMEOUT" apt-get purge -y -q aqled > /dev/null 2>&1 || true
  for u in "$USER_A" "$USER_B"; do
    if id "$u" > /dev/null 2>&1; then userdel -r "$u" > /dev/null 2>&1 || true; fi
  done
  rm -rf "$scratch"
}
trap cleanup EXIT

# --- build and install ------------------------------------------------------------------------
bash scripts/package.sh
version=$(sed -n 's/^project(aqled VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
deb="build-pkg/aqled_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || fail "no package $deb"
pass "built $deb"

installed=1
DEBIAN_FRONTEND=noninteractive timeout "$APT_TIMEOUT" apt-get install -y -q "./$deb" > "$scratch/apt.log" 2>&1 ||
  { cat "$scratch/apt.log"; fail "apt-get install ./$deb"; }
pass "installed with apt-get"

# --- files, menu entry, metainfo ----------------------------------------------------------------
dpkg -L aqled > "$scratch/files"
while read -r f; do [ -d "$f" ] || echo "$f"; done < "$scratch/files" > "$scratch/own-files"
for f in /usr/bin/aqled /usr/bin/aqled-autostart \
  /usr/share/applications/org.aqled.aqled.desktop \
  /usr/share/icons/hicolor/scalable/apps/org.aqled.aqled.svg \
  /usr/share/metainfo/org.aqled.aqled.metainfo.xml \
  /usr/share/aqled/aqled-autostart.desktop \
  /usr/share/aqled/aqled.rules.yml \
  /usr/lib/systemd/user/aqled.service \
  /usr/share/doc/aqled/config.sample.ini /usr/share/doc/aqled/copyright; do
  grep -qx "$f" "$scratch/files" || fail "dpkg -L aqled lacks $f"
  [ -f "$f" ] || fail "$f is listed but missing"
done
for f in /usr/bin/aqled /usr/bin/aqled-autostart; do [ -x "$f" ] || fail "$f is not executable"; done
pass "file list"
head -n 1 /usr/share/doc/aqled/copyright | grep -q "^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" &&
  grep -q "^License: MIT" /usr/share/doc/aqled/copyright || fail "the copyright file is not machine-readable or lacks the licence"
promtool check rules /usr/share/aqled/aqled.rules.yml > /dev/null || fail "the installed alert rules"

desktop-file-validate /usr/share/applications/org.aqled.aqled.desktop || fail "desktop entry"
desktop-file-validate /usr/share/aqled/aqled-autostart.desktop || fail "autostart entry"
appstreamcli validate --no-net /usr/share/metainfo/org.aqled.aqled.metainfo.xml || fail "metainfo"
entry=/usr/share/applications/org.aqled.aqled.desktop
for line in "Name=LED显示软件" "Icon=org.aqled.aqled" "Exec=aqled" "Terminal=false"; do
  grep -qx "$line" "$entry" || fail "the menu entry lacks $line"
done
grep -q "^GenericName=[A-Za-z]" "$entry" || fail "the menu entry has no English generic name"
pass "menu entry and metainfo validate"

# --- the installed program, started by users who have no folder of their own yet -------------
# runtime_of USER: a private runtime folder for USER, made on first use.
runtime_of() {
  local runtime="$scratch/run-$1"
  if [ ! -d "$runtime" ]; then
    mkdir -m 700 "$runtime"
    chown "$1:" "$runtime"
  fi
  echo "$runtime"
}
# as_user USER RUNTIME COMMAND...: starts COMMAND as USER in a process group of its own, in the
# background, with a clean environment and RUNTIME as its runtime folder; output to
# $scratch/USER.out.
as_user() {
  local user=$1 runtime=$2
  shift 2
  setsid runuser -u "$user" -- env -i HOME="/home/$user" USER="$user" LOGNAME="$user" \
    PATH=/usr/bin:/bin LANG=C.UTF-8 XDG_RUNTIME_DIR="$runtime" "$@" >> "$scratch/$user.out" 2>&1 &
  groups+=("$!")
  disown "$!"
}
# The user's log files as UTF-8 (they are GBK).
user_log() { cat "/home/$1/.local/share/aqled/log/"Log*.txt 2> /dev/null | iconv -f GBK -t UTF-8; }
log_has() { user_log "$1" | grep -qF "$2"; }
port_free() { ! listening "$1"; }

for u in "$USER_A" "$USER_B"; do useradd -m -s /bin/sh "$u"; done
folder_a="/home/$USER_A/.local/share/aqled"
[ ! -e "$folder_a" ] || fail "$USER_A has a folder already"

as_user "$USER_A" "$(runtime_of "$USER_A")" QT_QPA_PLATFORM=offscreen /usr/bin/aqled
group_a=${groups[-1]}
wait_until "$START_TIMEOUT" log_has "$USER_A" "配置文件: $folder_a/config.ini" ||
  { cat "$scratch/$USER_A.out"; fail "no line naming $folder_a/config.ini in the log"; }
cmp "$folder_a/config.ini" /usr/share/doc/aqled/config.sample.ini || fail "config.ini is not the sample"
for d in file log; do [ -d "$folder_a/$d" ] || fail "$d/ missing in $folder_a"; done
[ "$(stat -c %U "$folder_a/config.ini")" = "$USER_A" ] || fail "config.ini not owned by $USER_A"
log_has "$USER_A" "程序开始运行" || fail "no start line"
wait_until "$START_TIMEOUT" listening 8115 || fail "port 8115 not listening"
log_has "$USER_A" "启动端口成功: 8115" || fail "no line for the opened port"
[ ! -e /usr/bin/config.ini ] || fail "a config.ini was made beside the program"
for d in file log; do [ ! -d "/usr/bin/$d" ] || fail "a folder $d/ was made beside the program"; done
pass "first start of $USER_A: $folder_a with the sample config.ini, the log line, port 8115"

# A second copy of the same user ends at once with status 0 and logs nothing; the first goes on.
starts() { user_log "$1" | grep -cF "程序开始运行"; }
status=0
timeout "$START_TIMEOUT" runuser -u "$USER_A" -- env -i HOME="/home/$USER_A" PATH=/usr/bin:/bin \
  XDG_RUNTIME_DIR="$(runtime_of "$USER_A")" QT_QPA_PLATFORM=offscreen /usr/bin/aqled || status=$?
[ "$status" -eq 0 ] || fail "a second copy of $USER_A ended with status $status"
group_alive "$group_a" || fail "the first copy of $USER_A ended"
[ "$(starts "$USER_A")" -eq 1 ] || fail "the second copy of $USER_A wrote to the log"
pass "a second copy of $USER_A is refused"

# A second user on the same PC, with the no-monitor service's own command (a virtual display):
# a folder of their own and a start of their own, not refused by the first user's copy (port
# 8115 is the first user's, so theirs fails).
# The folder of X sockets is the system's, as a desktop start makes it, not the user's.
[ -d /tmp/.X11-unix ] || mkdir -m 1777 /tmp/.X11-unix
exec_start=$(sed -n 's/^ExecStart=//p' /usr/lib/systemd/user/aqled.service)
[ -n "$exec_start" ] || fail "aqled.service has no ExecStart"
read -r -a exec_words <<< "$exec_start"
as_user "$USER_B" "$(runtime_of "$USER_B")" "${exec_words[@]}"
folder_b="/home/$USER_B/.local/share/aqled"
wait_until "$START_TIMEOUT" log_has "$USER_B" "启动端口失败: 8115" ||
  { cat "$scratch/$USER_B.out"; fail "$USER_B did not start on the virtual display"; }
log_has "$USER_B" "配置文件: $folder_b/config.ini" || fail "no line naming $folder_b/config.ini"
cmp "$folder_b/config.ini" /usr/share/doc/aqled/config.sample.ini || fail "$USER_B's config.ini is not the sample"
group_alive "$group_a" || fail "the first copy of $USER_A ended"
log_has "$USER_A" "启动端口失败" && fail "$USER_B's lines went into $USER_A's log"
pass "$USER_B runs beside $USER_A in $folder_b, on a virtual display ($exec_start)"

# --- autostart --------------------------------------------------------------------------------
autostart="/home/$USER_A/.config/autostart/aqled.desktop"
runuser -u "$USER_A" -- env -i HOME="/home/$USER_A" PATH=/usr/bin:/bin aqled-autostart on
[ -f "$autostart" ] || fail "aqled-autostart on wrote no $autostart"
desktop-file-validate "$autostart" || fail "the enabled autostart entry"
grep -qx "Exec=aqled" "$autostart" || fail "the autostart entry does not start aqled"
runuser -u "$USER_A" -- env -i HOME="/home/$USER_A" PATH=/usr/bin:/bin aqled-autostart off
[ ! -e "$autostart" ] || fail "aqled-autostart off left $autostart"
pass "aqled-autostart on/off"

# --- stop, remove ------------------------------------------------------------------------------
for g in "${groups[@]}"; do stop "$g"; done
wait_until "$START_TIMEOUT" port_free 8115 || fail "port 8115 still listening after the stop"

timeout "$APT_TIMEOUT" apt-get purge -y -q aqled > "$scratch/purge.log" 2>&1 ||
  { cat "$scratch/purge.log"; fail "apt-get purge aqled"; }
installed=0
dpkg-query -W -f='${Status}' aqled 2> /dev/null | grep -q "installed" && fail "aqled still installed"
while read -r f; do
  [ ! -e "$f" ] || fail "$f left after the purge"
done < "$scratch/own-files"
for d in /usr/share/aqled /usr/share/doc/aqled; do
  [ ! -e "$d" ] || fail "$d left after the purge"
done
pass "purged; nothing of the package left in /usr"
echo "package test passed"
