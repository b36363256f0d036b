#!/bin/sh
# Runs the procd script's start_service against UCI settings, with the UCI
# and procd shell functions standing in, a fake /sys/class/net and a fake
# /proc/mounts, and checks the daemon's command line it gives procd.
# Usage: init_script_test.sh path/to/tarnel.init
set -u
SCRIPT=$1
T=$(mktemp -d /tmp/tarnel-init-XXXXXX)
trap 'rm -rf "$T"' EXIT
failures=0

# UCI: options are the variables CFG_<option>; empty or unset gives the
# default, as config_get does.
config_load() { :; }
config_get() {
	local value
	eval "value=\${CFG_$3:-}"
	eval "$1=\${value:-\${4:-}}"
}
# A list is the words of CFG_<list>.
config_list_foreach() {
	local value
	eval "for value in \${CFG_$2:-}; do $3 \"\$value\"; done"
}
# procd: every call is written down.
procd_open_instance() { : > "$T/procd"; }
procd_set_param() { echo "set $*" >> "$T/procd"; }
procd_append_param() { echo "append $*" >> "$T/procd"; }
procd_close_instance() { :; }
procd_add_reload_trigger() { echo "reload trigger $*" >> "$T/procd"; }
logger() { echo "$*" >> "$T/logger"; }

. "$SCRIPT"
NET_DIR=$T/net
MOUNTS=$T/mounts
RUN_DIR=$T/run

interface() {
	mkdir -p "$NET_DIR/$1"
	echo "$2" > "$NET_DIR/$1/address"
}

check() {
	local what=$1 expected=$2 actual=$3
	[ "$actual" = "$expected" ] && return
	echo "FAIL $what"
	echo "  expected: $expected"
	echo "  actual:   $actual"
	failures=$((failures + 1))
}

# One case: UCI settings, whether an SD card is mounted on /home, then the
# command procd gets and whether an error was logged.
run_case() {
	local what=$1 settings=$2 mounts=$3 command=$4 logged=$5
	unset CFG_reader_id CFG_mac_interface CFG_log_dir CFG_log_level CFG_log_limit_mb CFG_rtc
	CFG_workdir=$T/etc/tarnel
	eval "$settings"
	printf '%s\n' "/dev/root / squashfs ro 0 0" "tmpfs /tmp tmpfs rw 0 0" > "$MOUNTS"
	[ "$mounts" = sd ] && echo "/dev/mmcblk0p1 /home ext4 rw 0 0" >> "$MOUNTS"
	rm -f "$T/logger"
	start_service
	check "$what: command" "$command" "$(grep command "$T/procd" | tr '\n' ' ' | sed 's/ $//')"
	check "$what: logged" "$logged" "$([ -s "$T/logger" ] && echo error || echo none)"
}

interface eth0 a4:5e:60:01:02:03
interface wlan0 00:1A:2B:3C:4D:5E
interface lo 00:00:00:00:00:00
interface bad 12:34:56
W=$T/etc/tarnel
base="set command /usr/sbin/Tarnel --workdir $W"

run_case "defaults, eth0's MAC" "" none \
	"$base --log-dir /tmp --log-level 6 append command -m 180725244559875" none
run_case "SD card on /home" "" sd \
	"$base --log-dir /home --log-level 6 append command -m 180725244559875" none
run_case "another interface, upper case" "CFG_mac_interface=wlan0" none \
	"$base --log-dir /tmp --log-level 6 append command -m 112394521950" none
run_case "reader_id wins" "CFG_reader_id=42 CFG_log_dir=$T/logs CFG_log_level=7" sd \
	"$base --log-dir $T/logs --log-level 7 append command -m 42" none
run_case "log limit" "CFG_log_limit_mb=64" sd \
	"$base --log-dir /home --log-level 6 append command -m 180725244559875 append command --log-limit 64" none
run_case "log limit out of range" "CFG_log_limit_mb=2000000" none \
	"$base --log-dir /tmp --log-level 6 append command -m 180725244559875" error
run_case "log limit not a number" "CFG_log_limit_mb=64M" none \
	"$base --log-dir /tmp --log-level 6 append command -m 180725244559875" error
run_case "reader_id not a number" "CFG_reader_id=0x12" none \
	"$base --log-dir /tmp --log-level 6 append command -m 180725244559875" error
run_case "two RTCs listed" "CFG_rtc='192.168.1.10 10.0.0.2:53010'" none \
	"$base --log-dir /tmp --log-level 6 append command -m 180725244559875 append command --rtc 192.168.1.10 append command --rtc 10.0.0.2:53010" none
run_case "no such interface" "CFG_mac_interface=eth9" none \
	"$base --log-dir /tmp --log-level 6" error
run_case "address of five bytes" "CFG_mac_interface=bad" none \
	"$base --log-dir /tmp --log-level 6" error
run_case "all-zero address" "CFG_mac_interface=lo" none \
	"$base --log-dir /tmp --log-level 6" error

# What a start leaves: the files rewritten often linked to RAM, the
# directories made, and procd's other settings.
for file in RTC_IP_Adress.txt SubGBoardAppVersion.txt; do
	check "$file linked" "$RUN_DIR/$file" "$(readlink "$W/$file")"
done
check "directories" "yes" "$([ -d "$W" ] && [ -d "$RUN_DIR" ] && [ -d "$T/logs" ] && echo yes)"
check "term_timeout" "set term_timeout 60" "$(grep term_timeout "$T/procd")"
check "respawn" "set respawn 300 10 5" "$(grep respawn "$T/procd")"
service_triggers
check "reload trigger" "reload trigger tarnel" "$(grep 'reload trigger' "$T/procd")"

[ "$failures" = 0 ] && echo "all cases passed"
exit "$failures"
