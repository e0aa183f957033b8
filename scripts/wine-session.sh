# Sourced by test.sh and demo.sh: starts one Xvfb and one persistent wineserver for the
# whole job, prepares the build's Wine prefix, and stops both when the job ends.
# Expects $root and $build to be set.

# KELVO_WINEPREFIX gives a job a prefix (and so a Wine server) of its own, for long runs
# side by side with the same build.
export WINEPREFIX="${KELVO_WINEPREFIX:-$build/wineprefix}"
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all,err+module}"
export WINEDLLOVERRIDES="mscoree,mshtml="

kelvo_xvfb_pid=""
kelvo_session_end() {
  # A test domain that an interrupted run left running (ctest's fixture stops it otherwise).
  if [ -f "$build/test-domain/samba.pid" ]; then
    "$root/scripts/test-domain.sh" stop "$build/test-domain" || true
  fi
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  if [ -n "$kelvo_xvfb_pid" ]; then
    kill "$kelvo_xvfb_pid" >/dev/null 2>&1 || true
    wait "$kelvo_xvfb_pid" 2>/dev/null || true
  fi
}
trap kelvo_session_end EXIT

# One X server for every windowed test; the notification-area icon needs a real display.
for n in $(seq 91 120); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
    Xvfb ":$n" -nolisten tcp -screen 0 1024x768x24 >/dev/null 2>&1 &
    kelvo_xvfb_pid=$!
    export DISPLAY=":$n"
    for _ in $(seq 1 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.05; done
    break
  fi
done

fresh=0
[ -f "$WINEPREFIX/system.reg" ] || fresh=1
mkdir -p "$WINEPREFIX"
# A persistent server: Wine's helpers otherwise hold ctest's pipes open and every test waits.
wineserver -p
# Plain wineboot (it initialises a new prefix by itself): "wineboot -i" leaves a second
# services.exe running, and services created through one are unknown to the other.
wine wineboot >/dev/null 2>&1
# One desktop for the whole session: Wine's desktop process ends when the desktop is idle, and
# when a test starts it again it holds that test's output open long after the test has ended
# (see tests/uisupport/WineDesktopKeeper.cpp). The keeper uses the desktop until the server stops.
if [ -f "$build/bin/WineDesktopKeeper.exe" ]; then
  wine "$build/bin/WineDesktopKeeper.exe" </dev/null >/dev/null 2>&1 &
fi
if [ "$fresh" -eq 1 ]; then
  # A crash ends at once with a backtrace instead of waiting for a dialog; hiding windows
  # does not wait for the window manager.
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
fi
