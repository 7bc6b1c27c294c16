# The desktop, the software update and the installer under Wine, sourced by scripts/test-windows
# (which defines top, wine, folder, program, work, signing, log_folder, fail, run, requests and
# the emulator's ports): a private Xvfb with a Wine desktop of its own on it; the tray, its
# balloon, menu, history and diagnose windows, the settings window's OK and Cancel, the crash
# window; the update window and the installer it starts; the installer and its uninstaller.
# Every window is pictured into $work/shots (and into QUARNEL_SCREENSHOT_FOLDER when that is
# set, as windows-*.png).

probe="$folder/tests/windows/desktop-probe.exe"
shots="$work/shots"
xvfb_pid=
desktop_width=1000
desktop_height=740
tray_log="$work/tray.txt"
settings_key='HKLM\SOFTWARE\Quarnel Updater\Settings'

desktop_cleanup() {
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    xvfb_pid=
}

probe() { "$wine" "$probe" "$@"; }

# A picture of a window (or "around <class>": a popup by the tray icon), kept under its README
# name.
picture() {
    name=$1
    shift
    if [ "$1" = around ]; then
        # A popup by the tray icon, with the corner of the screen that holds the icon, once it
        # has moved there (a balloon is made at the corner of the screen, then placed).
        class=$2
        for _ in $(seq 50); do
            set -- $(probe rect "$class" 2>/dev/null | tr -d '\r')
            [ $# = 4 ] && [ "$2" -gt 0 ] && break
            sleep 0.2
        done
        [ $# = 4 ] && [ "$2" -gt 0 ] ||
            fail "no $class by the tray icon to picture as $name"
        shot_left=$(($1 > 10 ? $1 - 10 : 0))
        shot_top=$(($2 - 10))
        probe area "$shot_left" "$shot_top" $((desktop_width - shot_left)) \
            $((desktop_height - shot_top)) \
            "$(winepath -w "$shots/$name.png")" || fail "no picture $name"
    else
        probe shot "$1" "$(winepath -w "$shots/$name.png")" || fail "no picture $name"
    fi
    if [ -n "${QUARNEL_SCREENSHOT_FOLDER:-}" ]; then
        cp "$shots/$name.png" "$QUARNEL_SCREENSHOT_FOLDER/$name.png"
    fi
}

# A private Xvfb, before the prefix is made.
start_display() {
    mkdir -p "$shots"
    displayfile=$work/display
    Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$displayfile" 2>/dev/null &
    xvfb_pid=$!
    for _ in $(seq 200); do [ -s "$displayfile" ] && break; sleep 0.1; done
    [ -s "$displayfile" ] || fail "Xvfb did not start"
    export DISPLAY=":$(cat "$displayfile")"
}

# Every program of the prefix started from here on one Wine desktop of 1000 by 740 pixels. The
# prefix's "Default" desktop exists already (wineboot made it, as a plain X11 one); a desktop of
# another name, named in the registry, is made as Wine's own desktop window when the first
# program asks for it.
start_desktop() {
    "$wine" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Quarnel /f >/dev/null 2>&1
    "$wine" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Quarnel /d ${desktop_width}x$desktop_height /f \
        >/dev/null 2>&1
    "$wine" explorer "/desktop=Quarnel,${desktop_width}x$desktop_height" >/dev/null 2>&1 &
    # The notification area is there (shown once it holds an icon).
    for _ in $(seq 100); do probe rect Shell_TrayWnd >/dev/null 2>&1 && return 0; sleep 0.2; done
    fail "Wine's desktop has no notification area"
}

# The notification area's icon: the right end of Wine's taskbar holds the first icon.
tray_icon_place() {
    set -- $(probe rect Shell_TrayWnd | tr -d '\r')
    echo "$(($1 + $3 - 10)) $(($2 + $4 / 2))"
}

# The tray of the language (en, de), its registry writes traced (its settings window's too).
start_tray() {
    tray_language=$1
    case "$1" in de) lang=de_DE.UTF-8 ;; *) lang=en_US.UTF-8 ;; esac
    tray_log="$work/tray-$1.txt"
    shown=$(log_count "Tray icon added")
    LANG=$lang LC_ALL= LC_MESSAGES= LOGLEVEL=6 WINEDEBUG=-all,trace+reg \
        "$wine" "$folder/quarnel-updater.exe" >"$tray_log" 2>&1 &
    wait_for_log "Tray icon added" "$shown" || fail "the tray icon did not appear"
}

# The debug log's lines of one kind since the tray started, counted.
log_count() { cat "$log_folder"/debug.*.log 2>/dev/null | grep -c "$1" || true; }

wait_for_log() {
    for _ in $(seq 150); do
        [ "$(log_count "$1")" -gt "$2" ] && return 0
        sleep 0.2
    done
    return 1
}

# The names of the settings values the settings process wrote, in order.
written_settings() {
    grep -o 'NtSetValueKey ([^,]*,L"[A-Za-z]*"' "$tray_log" | sed 's/.*L"\(.*\)"/\1/' |
        grep -E '^(SoftwareBeta|SoftwareBuild|Username|Password|Hostname|Interval|Service|LocalFilter|WirelessFilter|LocalNetworks|WirelessNetworks|Time)$' |
        tr '\n' ' '
}

stored_interval() {
    "$wine" reg query "$settings_key" /v Interval 2>/dev/null | tr -d '\r' |
        awk '$1 == "Interval" { print $3 }'
}

open_settings() {
    set -- $(tray_icon_place)
    xdotool mousemove "$1" "$2" click 1
    probe wait QuarnelUpdaterSettings 30 || fail "a click on the tray icon opened no settings window"
    sleep 0.5
}

# The tray's windows, pictured: balloon, menu, history, diagnose, the four settings tabs.
picture_tray_windows() {
    language=$1
    set -- $(tray_icon_place)
    xdotool mousemove "$1" "$2" click 3
    probe menu 10 || fail "a right click on the tray icon opened no menu"
    # The pointer on the menu's first entry, off the icon (whose tooltip would cover the menu).
    set -- $(probe rect '#32768' | tr -d '\r')
    xdotool mousemove $(($1 + 40)) $(($2 + 12))
    sleep 0.5
    picture "windows-tray-menu-$language" around '#32768'
    # A click beside the menu closes it (it has no keyboard focus on Wine's desktop).
    xdotool mousemove 500 300 click 1
    probe gone '#32768' 10 || fail "a click beside the menu did not close it"
    probe post QuarnelUpdaterTray 0x111 2 0
    probe wait QuarnelUpdaterHistory 20 || fail "the menu's IP Updates opened no window"
    sleep 1
    picture "windows-history-$language" QuarnelUpdaterHistory
    probe post QuarnelUpdaterHistory 0x10 0 0
    probe post QuarnelUpdaterTray 0x111 3 0
    probe wait QuarnelUpdaterDiagnose 20 || fail "the menu's Diagnose opened no window"
    sleep 3
    picture "windows-diagnose-$language" QuarnelUpdaterDiagnose
    probe post QuarnelUpdaterDiagnose 0x10 0 0
    open_settings
    picture "windows-settings-general-$language" QuarnelUpdaterSettings
    tab=1
    for page in local wireless about; do
        probe tab QuarnelUpdaterSettings $tab || fail "no tab $tab in the settings window"
        sleep 0.5
        picture "windows-settings-$page-$language" QuarnelUpdaterSettings
        tab=$((tab + 1))
    done
    probe click QuarnelUpdaterSettings 2
    probe gone QuarnelUpdaterSettings 20 || fail "Cancel did not close the settings window"
}

# The tray in English from before the service's first result: its balloon, its windows, and
# the settings window's OK (the values in their order, then control 128) and Cancel.
desktop_tray_checks() {
    wait_for_log "Balloon asked for: Information - The update was successful" 0 ||
        fail "the recorded good showed no balloon"
    sleep 0.5
    picture windows-balloon-en around balloon
    echo "the tray shows a recorded good in its balloon"
    picture_tray_windows en
    echo "the tray's menu, history, diagnose and settings windows open"

    before=$(requests)
    open_settings
    probe select QuarnelUpdaterSettings 113 1 || fail "no interval list"
    probe click QuarnelUpdaterSettings 1
    probe gone QuarnelUpdaterSettings 20 || fail "OK did not close the settings window"
    [ "$(stored_interval)" = 0xa ] || fail "OK did not store the interval (Interval: $(stored_interval))"
    order=$(written_settings)
    expected="SoftwareBeta SoftwareBuild Username Password Hostname Interval Service LocalFilter WirelessFilter Time "
    [ "$order" = "$expected" ] || fail "OK wrote the settings as: $order (not: $expected)"
    for _ in $(seq 300); do [ "$(requests)" -gt "$before" ] && break; sleep 0.2; done
    [ "$(requests)" -gt "$before" ] || fail "the settings window's OK brought no new request (control 128)"
    echo "OK writes the settings in their order, Time last, and control 128 brings a request"

    open_settings
    probe select QuarnelUpdaterSettings 113 3
    probe settext QuarnelUpdaterSettings 112 changed.example.org
    probe click QuarnelUpdaterSettings 2
    probe gone QuarnelUpdaterSettings 20 || fail "Cancel did not close the settings window"
    [ "$(written_settings)" = "$order" ] || fail "Cancel wrote settings: $(written_settings)"
    [ "$(stored_interval)" = 0xa ] || fail "Cancel changed the interval"
    echo "Cancel writes nothing"
}

# The same windows in German, from a tray started with a German interface and a new attempt.
desktop_german() {
    # /quit: the instance message's code 1 closes the tray (its window is never shown).
    closed=$(log_count "Tray window has been closed")
    status=0
    run /quit >/dev/null 2>&1 || status=$?
    [ "$status" = 1 ] || fail "/quit exited with $status"
    wait_for_log "Tray window has been closed" "$closed" || fail "/quit did not close the tray"
    echo "/quit closes the tray"
    balloons=$(log_count "Balloon asked for")
    start_tray de
    echo 'Interval=15' | run /configure >/dev/null || fail "/configure for a new attempt failed"
    wait_for_log "Balloon asked for: Information" "$balloons" || fail "the German tray showed no balloon"
    sleep 0.5
    picture windows-balloon-de around balloon
    picture_tray_windows de
    echo "the tray's windows in German"
}

# The installer, silently: the program in Program Files, the service installed and running from
# there, the tray's autostart entry for everyone, the uninstaller registered, also when it runs
# over an installed program; then the uninstaller, silently: none of it is left, nor the
# settings.
installer_checks() {
    setup="$folder/quarnel-updater-setup.exe"
    target=$("$wine" cmd /c echo %ProgramW6432% | tr -d '\r')'\Quarnel Updater'
    target_unix=$(winepath -u "$target")
    uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quarnel Updater'
    run_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'
    # Twice: the second run is the software update's, over the installed program and its
    # running service.
    for run in first second; do
        status=0
        timeout 120 "$wine" "$setup" /silent >"$work/setup.txt" 2>&1 || status=$?
        [ "$status" = 0 ] || fail "the installer's $run run exited with $status"
    done
    [ -f "$target_unix/quarnel-updater.exe" ] && [ -f "$target_unix/uninstall.exe" ] ||
        fail "the installer put no program or uninstaller into $target"
    "$wine" reg query 'HKLM\SYSTEM\CurrentControlSet\Services\Quarnel Updater' /v ImagePath \
        2>/dev/null | tr -d '\r' | grep -qF "$target" ||
        fail "the installed service does not run the installed program"
    for _ in $(seq 100); do
        "$wine" sc query "Quarnel Updater" 2>/dev/null | grep -q RUNNING && break
        sleep 0.2
    done
    "$wine" sc query "Quarnel Updater" 2>/dev/null | grep -q RUNNING ||
        fail "the installed service is not running"
    "$wine" reg query "$run_key" /v "Quarnel Updater" >/dev/null 2>&1 ||
        fail "the installer made no autostart entry"
    "$wine" reg query "$uninstall_key" /v QuietUninstallString >/dev/null 2>&1 ||
        fail "the installer registered no uninstaller"
    echo "the installer installs silently (also over itself): program, service, autostart, uninstaller"

    # The uninstaller copies itself away and runs from there; it is done when the folder is gone.
    timeout 120 "$wine" "$target_unix/uninstall.exe" /silent >"$work/uninstall.txt" 2>&1 ||
        fail "the uninstaller failed"
    for _ in $(seq 300); do [ -e "$target_unix" ] || break; sleep 0.2; done
    [ ! -e "$target_unix" ] || fail "the uninstaller left $target behind: $(ls "$target_unix")"
    if "$wine" sc query "Quarnel Updater" >/dev/null 2>&1; then
        fail "the uninstaller left the service behind"
    fi
    for key in "$uninstall_key" 'HKLM\Software\Quarnel Updater'; do
        if "$wine" reg query "$key" >/dev/null 2>&1; then fail "the uninstaller left $key"; fi
    done
    if "$wine" reg query "$run_key" /v "Quarnel Updater" >/dev/null 2>&1; then
        fail "the uninstaller left the autostart entry"
    fi
    echo "the uninstaller removes everything"
}

# The crash window: a fault in the tray (a thread of it started at address 0) brings the crash
# reporter's window with the report.
crash_checks() {
    probe crash QuarnelUpdaterTray || fail "the tray cannot be made to crash"
    probe wait QuarnelUpdaterCrash 60 || fail "a crash of the tray brought no crash window"
    sleep 1
    picture windows-crash QuarnelUpdaterCrash
    probe post QuarnelUpdaterCrash 0x10 0 0
    probe gone QuarnelUpdaterCrash 20 || fail "the crash window did not close"
    echo "a crash of the tray shows the crash window"
}

# The software update: the maker's page offers a newer installer, signed by the pinned signer;
# /update shows its balloon and, from its tray icon, the update window (German, then English);
# Install refuses an installer of another signer and starts the pinned signer's silently, once
# its signature and version are checked, which installs the program.
update_checks() {
    offered=1.5.2.300
    makensis -V1 -DPROGRAM="$program" -DVERSION=$offered -DOUTFILE="$work/unsigned-setup.exe" \
        "$top/packaging/windows/quarnel-updater.nsi" >/dev/null || fail "no installer of $offered"
    for signer in test-signer other-signer; do
        osslsigncode sign -certs "$signing/$signer.pem" -key "$signing/$signer.key" \
            -h sha256 -in "$work/unsigned-setup.exe" -out "$work/setup-$signer.exe" >/dev/null ||
            fail "osslsigncode cannot sign the installer with $signer"
    done
    admin() { curl -sf "http://127.0.0.1:$ADMIN_PORT$1" >/dev/null || fail "the emulator refused $1"; }
    admin "/admin/page?path=/setup.exe&file=$work/setup-other-signer.exe"
    admin "/admin/software?software-version=$offered&software-download=https://localhost:$HTTPS_PORT/setup.exe"
    for language in de en; do
        case "$language" in de) lang=de_DE.UTF-8 ;; *) lang=en_US.UTF-8 ;; esac
        LANG=$lang LC_ALL= LC_MESSAGES= LOGLEVEL=6 "$wine" "$program" /update \
            >"$work/update-$language.txt" 2>&1 &
        picture "windows-update-balloon-$language" around balloon
        # A click on its tray icon, as the shell reports it.
        probe post QuarnelUpdaterUpdate 0x8002 1 0x201
        probe wait QuarnelUpdaterUpdate 20 || fail "the update's tray icon opened no update window"
        sleep 1
        picture "windows-update-$language" QuarnelUpdaterUpdate
        [ "$language" = en ] && break
        probe post QuarnelUpdaterUpdate 0x10 0 0
        probe gone QuarnelUpdaterUpdate 20 || fail "the update window did not close"
        for _ in $(seq 50); do probe rect balloon >/dev/null 2>&1 || break; sleep 0.2; done
    done
    echo "the software update offers the newer installer in its balloon and window"

    # Another signer's installer is refused and not started; Install stays for another try.
    target=$("$wine" cmd /c echo %ProgramW6432% | tr -d '\r')'\Quarnel Updater'
    refused=$(log_count "the download is not signed by the maker")
    probe click QuarnelUpdaterUpdate 1
    wait_for_log "the download is not signed by the maker" "$refused" ||
        fail "an installer of another signer was not refused"
    sleep 2
    [ ! -e "$(winepath -u "$target")" ] || fail "an installer of another signer was started"
    echo "an installer of another signer is refused"

    admin "/admin/page?path=/setup.exe&file=$work/setup-test-signer.exe"
    probe click QuarnelUpdaterUpdate 1
    for _ in $(seq 300); do
        "$wine" sc query "Quarnel Updater" 2>/dev/null | grep -q RUNNING && break
        sleep 0.5
    done
    "$wine" sc query "Quarnel Updater" 2>/dev/null | grep -q RUNNING ||
        fail "Install did not install the offered installer"
    [ -f "$(winepath -u "$target")/quarnel-updater.exe" ] ||
        fail "the offered installer put no program into $target"
    probe gone QuarnelUpdaterUpdate 30 || fail "the update window stayed after the installer started"
    echo "Install downloads the signed installer and starts it silently: the service runs again"
}
