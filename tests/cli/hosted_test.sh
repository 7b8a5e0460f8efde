#!/usr/bin/env bash
# Hosted mode under a real X server (Xvfb): a host window of another process
# (a tiny Tk program) hands its id to TransVelmarSauce, as Tavoleno does.
# The dialogs are answered with xdotool, as a user would.
#
#   bash hosted_test.sh BUILD_DIR SOURCE_DIR
#
# Checks: the main window is a child of the host window (xwininfo -tree), a
# completed export writes 1 to Tavoleno.ini and ends the program, a cancelled
# one writes -1, destroying the host window ends a waiting program (0), an id
# that names no window behaves as 0, and a bad id keeps the window by hand.
set -euo pipefail

build_dir=$1
app="$build_dir/TransVelmarSauce"
if [ ! -x "$app" ]; then
  echo "SKIP: $app not built (TVS_BUILD_GUI off)"
  exit 0
fi
for tool in Xvfb xdotool xwininfo; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool missing (scripts/install-deps)"; exit 1; }
done
python=/usr/bin/python3
[ -x "$python" ] || python=python3
"$python" -c 'import tkinter' 2>/dev/null || { echo "FAIL: python3-tk missing"; exit 1; }

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# --- the X server: a free display number of its own choosing -------------
Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "FAIL: Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=":$(head -1 "$work/display")"
export QT_QPA_PLATFORM=xcb
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"

# --- the working folder, with a document the export completes -------------
export TRANSVELMAR_VTEMP="$work/vtemp"
export TRANSVELMAR_INI_DIR="$work/ini"
mkdir -p "$TRANSVELMAR_VTEMP/Sauce" "$TRANSVELMAR_INI_DIR"
cat >"$TRANSVELMAR_VTEMP/Sauce/muestra.xml" <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<SERVICIO><SALIDAS>
 <listasal seq="JORNADAS"><listasal>
  <salida>M</salida><salida>Mañana</salida><salida>L-V</salida>
 </listasal></listasal>
 <listasal seq="INTERVALOS"><listasal>
  <salida dato="CODIGO_SAUCE">101</salida><salida dato="NOMBRE">Primera</salida>
  <salida dato="INICIO">8:00</salida><salida dato="FIN">8:55</salida>
  <salida dato="ORDEN">1</salida><salida dato="CLAVE_JORNADA">M</salida>
 </listasal></listasal>
</SALIDAS></SERVICIO>
EOF
ini="$TRANSVELMAR_INI_DIR/Tavoleno.ini"
caption="Exportar e importar datos entre Tavoleno y Sauce "

cat >"$work/host.py" <<'EOF'
import tkinter as tk
root = tk.Tk()
root.title("Anfitrion")
root.geometry("700x320+20+20")
root.update_idletasks()
print(format(root.winfo_id(), "X"), flush=True)  # hex digits, no prefix
root.mainloop()
EOF

host_pid=""
host_id=""
start_host() {
  "$python" "$work/host.py" >"$work/host.out" 2>"$work/host.err" &
  host_pid=$!
  pids+=("$host_pid")
  for _ in $(seq 100); do [ -s "$work/host.out" ] && break; sleep 0.1; done
  host_id=$(head -1 "$work/host.out")
  [ -n "$host_id" ] || { echo "FAIL: host window did not start"; cat "$work/host.err"; exit 1; }
}
stop_host() {
  kill "$host_pid" 2>/dev/null || true
  wait "$host_pid" 2>/dev/null || true
  rm -f "$work/host.out"
}

app_pid=""
start_app() {
  rm -f "$ini"
  "$app" "$@" >>"$work/app.out" 2>>"$work/app.err" &
  app_pid=$!
  pids+=("$app_pid")
}
# Waits up to $1 seconds for the program to end; sets rc to its exit status,
# or to "running".
rc=""
wait_app() {
  local seconds=$1
  rc=running
  for _ in $(seq $((seconds * 10))); do
    if ! kill -0 "$app_pid" 2>/dev/null; then
      rc=0
      wait "$app_pid" || rc=$?
      return
    fi
    sleep 0.1
  done
}
# The id of the visible window titled exactly $1, waiting for it.
find_window() {
  timeout 20 xdotool search --sync --onlyvisible --name "^$1\$" 2>/dev/null | head -1
}
# Focuses the visible window titled $1 and presses keys.
press_in() {
  local title=$1
  shift
  local w
  w=$(find_window "$title")
  [ -n "$w" ] || { fail "no window \"$title\" came up"; return 1; }
  xdotool windowfocus --sync "$w"
  sleep 0.2
  xdotool key "$@"
}
# Types a name into the file dialog and accepts it.
choose_file() {
  local w
  w=$(find_window "Archivo XML")
  [ -n "$w" ] || { fail "the file dialog did not come up"; return 1; }
  xdotool windowfocus --sync "$w"
  sleep 0.2
  xdotool type --delay 20 "$1"
  # A completion list may take the first Enter.
  for _ in 1 2 3; do
    xdotool key Return
    sleep 0.7
    xdotool search --onlyvisible --name '^Archivo XML$' >/dev/null 2>&1 || return 0
  done
  fail "the file dialog did not accept $1"
}
expect_ini() {
  local want=$1 got
  if [ "$want" = none ]; then
    [ ! -e "$ini" ] || fail "$2: Tavoleno.ini written: $(od -c "$ini" | head -2)"
    return
  fi
  got=$(od -An -c "$ini" 2>/dev/null | tr -s ' \n' ' ')
  local expected
  expected=$(printf '[Transformadores]\r\nTransformado=%s\r\n' "$want" | od -An -c | tr -s ' \n' ' ')
  [ "$got" = "$expected" ] || fail "$2: Tavoleno.ini holds '$got', expected '$expected'"
}
# The child windows of the host, as the X server reports them.
host_children() { xwininfo -tree -id "0x$host_id" 2>/dev/null; }

# --- 1. a completed export inside the host window --------------------------
start_host
start_app exportar "$host_id"
find_window "Archivo XML" >/dev/null
host_children | grep -qF "\"$caption\"" ||
  fail "completed export: main window not a child of the host: $(host_children)"
choose_file muestra
press_in TransVelmarSauce Return  # "Proceso finalizado"
wait_app 15
[ "$rc" = 0 ] || fail "completed export: program ended with '$rc'"
expect_ini 1 "completed export"
[ -f "$TRANSVELMAR_VTEMP/DIASHORAST.DBF" ] || fail "completed export: no DIASHORAST.DBF"
host_children | grep -qF "\"$caption\"" && fail "completed export: window left in the host"

# --- 2. a cancelled export (letter case of the direction ignored; Qt's own
#        options are not parameters) -----------------------------------------
start_app -platform xcb EXPORTAR "$host_id"
press_in "Archivo XML" Escape
press_in TransVelmarSauce Return  # "No existe archivo"
wait_app 15
[ "$rc" = 0 ] || fail "cancelled export: program ended with '$rc'"
expect_ini -1 "cancelled export"

# --- 3. no direction: the window waits, borderless, inside the host; -------
#        the host going away ends the program
start_app nada "$host_id"
child=""
for _ in $(seq 100); do
  child=$(host_children | grep -F "\"$caption\"" | grep -o '0x[0-9a-f]*' | head -1 || true)
  [ -n "$child" ] && xwininfo -id "$child" | grep -q IsViewable && break
  sleep 0.1
done
if [ -z "$child" ]; then
  fail "waiting window not inside the host: $(host_children)"
else
  xwininfo -id "$child" | grep -q IsViewable || fail "waiting window not shown"
  xwininfo -id "$child" | grep -q 'Width: 632' || fail "waiting window not 632 wide"
fi
stop_host
wait_app 10
[ "$rc" = 0 ] || fail "host destroyed: program ended with '$rc'"
expect_ini 0 "host destroyed"

# --- 4. an id that names no window: as for 0, no crash -------------------
start_app exportar 7FFFFFF0
press_in "Archivo XML" Escape
press_in TransVelmarSauce Return
wait_app 15
[ "$rc" = 0 ] || fail "unknown window id: program ended with '$rc'"
expect_ini -1 "unknown window id"

# --- 5. a bad id: error box, the run still starts, the window stays by hand
start_app exportar 0x1A2B
press_in TransVelmarSauce Return  # the error box naming 0x1A2B
press_in "Archivo XML" Escape
press_in TransVelmarSauce Return  # "No existe archivo"
main=$(find_window "$caption")
if [ -z "$main" ]; then
  fail "bad id: the main window did not come up"
else
  xwininfo -children -id "$main" | grep -q 'Parent window id: .*(the root window)' ||
    fail "bad id: main window not top-level"
  wait_app 1
  [ "$rc" = running ] || fail "bad id: program closed itself"
  press_in "$caption" alt+s  # "&Salir"
fi
wait_app 15
[ "$rc" = 0 ] || fail "bad id: program ended with '$rc'"
expect_ini none "bad id"

# Dialogs of the hosted window must be windows of their own: Qt refuses a
# window inside another program's window as their transient parent.
if grep -q "must be a top level window" "$work/app.err"; then
  fail "a dialog was given the hosted window as its parent"
fi
if [ -s "$work/app.err" ]; then
  echo "--- the programs' stderr:"
  cat "$work/app.err"
fi
if [ "$failures" -gt 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "hosted mode: all checks passed"
