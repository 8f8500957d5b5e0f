#!/usr/bin/env bash
# Runs deploy/ansible/clean-wine-prefixes.yml with Debian's ansible against this machine
# (-i localhost, -c local) on two copies of the demo prefix, with the given sorvel; checks that
# both prefixes lose the suite's registrations, that both backups put them back, that both
# reports parse, that a run that fails fails the host while the other prefixes are still
# cleaned, and that the Windows plays pass ansible-playbook --syntax-check.
#   ansible_test.sh SORVEL SOURCE_DIR
# Ansible writes only below a temporary folder (its home, its temporary files, its config).
set -euo pipefail
sorvel=$1 source=$2
playbooks=$source/deploy/ansible
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

export HOME=$work/home ANSIBLE_HOME=$work/home/.ansible ANSIBLE_LOCAL_TEMP=$work/home/tmp \
       ANSIBLE_REMOTE_TEMP=$work/home/remote-tmp ANSIBLE_CONFIG=$work/ansible.cfg \
       ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0
mkdir -p "$HOME"
printf '[defaults]\ninterpreter_python = /usr/bin/python3\n' >"$ANSIBLE_CONFIG"
cd "$work"
command -v ansible-playbook >/dev/null || fail "ansible-playbook is missing: run scripts/install-deps.sh"

# The Windows plays: Ansible resolves every module name (ansible.windows comes with Debian's
# ansible) and every variable's syntax without a Windows host.
windows_plays=("$playbooks"/windows/*.yml)
[ -f "${windows_plays[0]}" ] || fail "no Windows plays in $playbooks/windows"
for play in "${windows_plays[@]}"; do
  ansible-playbook --syntax-check -i localhost, "$play" >/dev/null ||
    fail "$play does not pass ansible-playbook --syntax-check"
done

suite_keys() { python3 "$source/demo/list_suite_keys.py" "$1"; }
prefixes=("$work/desktop one/prefix" "$work/desktop two/prefix")
for prefix in "${prefixes[@]}"; do
  python3 "$source/demo/make_demo_prefix.py" "$prefix" >/dev/null
  suite_keys "$prefix" >"$prefix.before"
  grep -q '^HKEY_CLASSES_ROOT' "$prefix.before" || fail "the demo prefix holds no suite classes"
done

# Lists go to Ansible as JSON extra variables, as an inventory would give them.
variables() {
  python3 - "$work" "$sorvel" "$@" <<'PY'
import json, sys
work, sorvel, *prefixes = sys.argv[1:]
print(json.dumps({"sorvel_prefixes": prefixes, "sorvel_keywords": ["Tarvo", "Nexbay"],
                  "sorvel_settings": True, "sorvel_backup_dir": work + "/backups",
                  "sorvel_report_dir": work + "/reports", "sorvel_command": sorvel}))
PY
}
play() {
  ansible-playbook -i localhost, -c local -e "$1" "$playbooks/clean-wine-prefixes.yml" >"$work/play.log" 2>&1
}

play "$(variables "${prefixes[@]}")" || { cat "$work/play.log"; fail "the playbook failed"; }
grep -q 'localhost .*changed=[1-9].*failed=0' "$work/play.log" ||
  { cat "$work/play.log"; fail "the play's recap shows no change, or a failure"; }
reports=("$work"/reports/localhost/*.json)
[ ${#reports[@]} -eq 2 ] || fail "expected 2 reports on the controller, found ${#reports[@]}"
for report in "${reports[@]}"; do
  python3 -m json.tool "$report" >/dev/null || fail "$report is no JSON document"
done
for prefix in "${prefixes[@]}"; do
  # --clean takes the classes and the settings; the uninstall entry is the uninstaller's.
  suite_keys "$prefix" >"$prefix.after"
  if grep -E '^HKEY_CLASSES_ROOT|\\Tarvo\\98$' "$prefix.after"; then
    fail "$prefix still holds the suite's keys above"
  fi
  report=$(grep -lF "\"registry\": \"$prefix\"" "${reports[@]}") || fail "no report for $prefix"
  python3 - "$report" <<'PY' || fail "$report does not show a clean run"
import json, sys
report = json.load(open(sys.argv[1]))
assert report["mode"] == "clean" and report["exit"] == 0, report
assert any(key["state"] == "removed" for key in report["keys"]), report
PY
  backup=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["backup"])' "$report")
  [ -s "$backup" ] || fail "the backup $backup of $prefix is not on the host"
  WINEPREFIX=$prefix "$sorvel" --restore "$backup" >/dev/null 2>&1 ||
    fail "sorvel --restore $backup did not restore $prefix"
  # Every registration is back (sorvel --restore has read each key and value back itself); the
  # emptied parent Software\Tarvo may stay listed, as the saved file now names it.
  suite_keys "$prefix" | sort >"$prefix.restored"
  missing_keys=$(sort "$prefix.before" | comm -23 - "$prefix.restored")
  [ -z "$missing_keys" ] || fail "the backup did not bring back into $prefix: $missing_keys"
done

# A prefix that sorvel refuses fails the host, yet the other prefix is cleaned and reported;
# cleaning it again is done with a report (the earlier backup is kept aside): a warning only.
missing=$work/no-such-prefix
if play "$(variables "${prefixes[0]}" "$missing")"; then
  cat "$work/play.log"; fail "the playbook succeeded although sorvel failed on $missing"
fi
grep -qF "sorvel failed on $missing (exit status 1)" "$work/play.log" ||
  { cat "$work/play.log"; fail "the failure does not name $missing and its exit status"; }
grep -qF "WARNING: sorvel cleaned ${prefixes[0]} but reported" "$work/play.log" ||
  { cat "$work/play.log"; fail "the run done with reports was not shown as a warning"; }
suite_keys "${prefixes[0]}" | grep -q '^HKEY_CLASSES_ROOT' && fail "${prefixes[0]} was not cleaned again"
report=$(grep -lF "\"registry\": \"${prefixes[0]}\"" "$work"/reports/localhost/*.json)
kept=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["kept_aside"])' "$report")
[ -s "$kept" ] || fail "the earlier backup of ${prefixes[0]} was not kept aside ($kept)"
echo "The playbook cleaned, backed up and reported both prefixes; the Windows plays pass the syntax check"
