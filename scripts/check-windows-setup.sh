#!/usr/bin/env bash
# Tries the Windows installer as a user would, under Wine in a fresh prefix:
#   scripts/wine-env.sh scripts/check-windows-setup.sh SETUP.exe VERSION
# (scripts/check-packages.sh runs it so).  A silent install must give the
# program, its two shortcuts and its entry in Apps & features, and set the
# destination to MovedFiles in the Documents folder (here one with a Japanese
# name); the program, started through its Start-menu shortcut, shows its
# window and keeps its settings in the installed folder; a silent uninstall
# removes the program, the shortcuts and the entry and leaves the settings.
# A Documents folder without a Shift_JIS name leaves the destination to the
# program, and an uninstall then leaves nothing behind.
set -euo pipefail
setup="$(realpath "$1")"
version="$2"

fail() { echo "check-windows-setup: $*" >&2; exit 1; }
# Waits up to 60 s for a shell condition.
wait_for() {
    local what="$1"; shift
    for _ in $(seq 300); do if "$@"; then return 0; fi; sleep 0.2; done
    fail "timed out waiting until $what"
}
windows_var() { wine cmd /c echo "%$1%" </dev/null | tr -d '\r'; }
unix() { winepath -u "$1" 2>/dev/null; }

uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tessarbolink'
profile="$(windows_var USERPROFILE)"
installed="$(unix "$(windows_var LOCALAPPDATA)\\Programs\\Tessarbolink")"
appdata="$(windows_var APPDATA)"
start_menu="$appdata\\Microsoft\\Windows\\Start Menu\\Programs\\Tessarbolink.lnk"
shortcuts=("$(unix "$start_menu")" "$(unix "$appdata\\Microsoft\\Windows\\SendTo\\Tessarbolink.lnk")")
program_files=(Tessarbolink.exe README.md LICENSE.txt Uninstall.exe)

use_documents() {
    mkdir -p "$(unix "$1")"
    wine reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders' \
        /v Personal /t REG_EXPAND_SZ /d "$1" /f >/dev/null 2>&1
}
uninstall_entry() { wine reg query "$uninstall_key" /v "$1" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$1 *REG_[A-Z]* *//p"; }
none_left() {
    local f
    for f in "${program_files[@]}"; do [ ! -e "$installed/$f" ] || return 1; done
    for f in "${shortcuts[@]}"; do [ ! -e "$f" ] || return 1; done
    ! wine reg query "$uninstall_key" >/dev/null 2>&1
}
# The uninstaller hands its work to a copy of itself and returns at once.
uninstall() {
    wine "$installed/Uninstall.exe" /S </dev/null >/dev/null 2>&1
    wait_for "the uninstaller removed the program, its shortcuts and its entry" none_left
}
settings_text() { iconv -f CP932 -t UTF-8 "$installed/Morvandel.sav" | tr -d '\r'; }
program_window() { xwininfo -root -tree | grep -q '"Tessarbolink Ver1\.10 '; }

# --- A Documents folder whose name has no Shift_JIS form: the installer
# leaves the destination to the program, and the uninstaller leaves nothing.
use_documents "$profile\\한글"
wine "$setup" /S </dev/null >/dev/null 2>&1 || fail "the silent install failed"
[ -f "$installed/Tessarbolink.exe" ] || fail "nothing was installed in $installed"
[ ! -e "$installed/Morvandel.sav" ] || fail "settings were written for a Documents folder without a Shift_JIS name"
uninstall
[ ! -e "$installed" ] || fail "the uninstaller left $installed: $(ls -A "$installed")"

# --- A Documents folder with a Japanese name.
documents="$profile\\文書"
use_documents "$documents"
wine "$setup" /S </dev/null >/dev/null 2>&1 || fail "the silent install failed"
for f in "${program_files[@]}"; do [ -f "$installed/$f" ] || fail "$f is not installed in $installed"; done
for f in "${shortcuts[@]}"; do [ -f "$f" ] || fail "no shortcut $f"; done
exe="$(windows_var LOCALAPPDATA)\\Programs\\Tessarbolink\\Tessarbolink.exe"
[ "$(uninstall_entry DisplayName)" = Tessarbolink ] || fail "Apps & features: no name"
[ "$(uninstall_entry DisplayVersion)" = "$version" ] || fail "Apps & features: not version $version"
[ "$(uninstall_entry DisplayIcon)" = "$exe,0" ] || fail "Apps & features: the icon is not the program's"
[ "$(uninstall_entry QuietUninstallString)" = "\"${exe%Tessarbolink.exe}Uninstall.exe\" /S" ] ||
    fail "Apps & features: no silent uninstall"
[ "$(settings_text)" = "m_sWhere=$documents\\MovedFiles\\" ] ||
    fail "the destination is not MovedFiles in the Documents folder: $(settings_text)"

# The program, started as the Start menu starts it, shows its window and,
# asked to close, writes its nine settings beside itself.
wine start "$start_menu" </dev/null >/dev/null 2>&1
wait_for "the installed program shows its window" program_window
wine taskkill /im Tessarbolink.exe </dev/null >/dev/null 2>&1
wait_for "the program closed its window" eval '! program_window'
wait_for "the program saved its settings" eval '[ "$(settings_text | wc -l)" -eq 9 ]'
settings_text | grep -qxF "m_sWhere=$documents\\MovedFiles\\" || fail "the program changed the destination"

uninstall
[ "$(ls -A "$installed")" = Morvandel.sav ] || fail "the uninstaller did not leave exactly the settings: $(ls -A "$installed")"
echo "check-windows-setup: $(basename "$setup") installs, runs and uninstalls for the current user"
