# shellcheck shell=bash
# The Wine end-to-end harness: prefixes, the simulated installed application,
# running the updater under the pilot, and the checks of what it left behind.
#
# Wine facts this file relies on:
# - every wine process, wineserver included, runs without the capability to
#   override file permissions, so read-only files behave as on Windows;
# - a wine program's output is never read through a pipe (Wine's background
#   processes inherit it): every tool writes to a file;
# - the first program in a fresh prefix initialises it, with `wineserver -p`
#   already running, so services survive between wine commands.

E2E_SOURCE_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
REPO_DIR=$(dirname "$E2E_SOURCE_DIR")
BUILD_DIR=${E2E_BUILD_DIR:-$REPO_DIR/build/windows}
# The prefixes and work files; scripts/demo keeps its own apart from the suite's.
E2E_DIR=${E2E_DIR:-$REPO_DIR/build/e2e}
WORK_DIR=$E2E_DIR/work
PAYLOAD_DIR=$REPO_DIR/payload
TOOL_NAMES=(fixture_service standin mutex_holder regtool pilot noop noop_gui floor)

# shellcheck source=e2e/messages.sh
source "$E2E_SOURCE_DIR/messages.sh"

# ---- product facts, as the installed application and the updater know them ----
UPDATER_EXE=CarvellaMakerUpdater.exe
# The executable under test: the build's, or another one (a signed release) by E2E_UPDATER.
UPDATER_UNDER_TEST=${E2E_UPDATER:-$BUILD_DIR/$UPDATER_EXE}
APP_KEY='HKLM\SOFTWARE\ODRIX\Carvella Maker'
APP_KEY_32BIT_VIEW='HKLM32\SOFTWARE\ODRIX\Carvella Maker'
DRIVER_KEY='HKLM\SYSTEM\CurrentControlSet\Services\NavoDrv'
FILTER_KEY="$DRIVER_KEY\\Filter"
# Where the updater records an update in progress, in the 64-bit view.
RECORD_KEY='HKLM\SOFTWARE\ODRIX\Carvella Maker Updater'
RECORD_VALUE='Update in progress'
# What a run leaves for the runs of the same start of Windows: a volatile key.
BOOT_KEY='HKLM\SOFTWARE\ODRIX\Carvella Maker Updater (this start of Windows)'
VENDORS=(ROVE ODRIX)
# shellcheck disable=SC2034 # read by the scenarios
PRODUCT_ID='XVT-7Q2RN  KR550'
SERVICE_NAMES=("ODRIX Carvella Control Service" "ODRIX Carvella Copy Service" "ODRIX Carvella Monitor Service")
APP_DEFAULTS_KEY="HKCU\\Software\\Wine\\AppDefaults\\$UPDATER_EXE"
# Rows of the file table in deployment order; DrvClass64.ini only under WOW64.
FILE_ROWS_64=(DrvClass.ini DrvClass64.ini XVT-7Q2RN3.txt SupVer.inf)
FILE_ROWS_32=(DrvClass.ini XVT-7Q2RN3.txt SupVer.inf)

# The application as the tests install it: older data files, product lists
# that do not hold the new drive yet.
OLD_DATA_FILES=(DrvClass.ini DrvClass64.ini SupVer.inf)
OLD_LIST_ROVE='PX-W5224TA  DVR1XVT-7Q2RN  KR551'
OLD_LIST_ODRIX='OD-BD7700    CRV'

# ---- wine ----------------------------------------------------------------------
# Root ignores the write bits onto which Wine maps the read-only attribute.
NO_DAC_OVERRIDE=()
if [[ $(id -u) -eq 0 ]]; then NO_DAC_OVERRIDE=(setpriv '--bounding-set=-dac_override,-dac_read_search'); fi
declare -gA PREFIX_DIR=([64]="$E2E_DIR/prefix64" [32]="$E2E_DIR/prefix32")
declare -gA PREFIX_ARCH=([64]=win64 [32]=win32)
declare -gA INSTALL_DIR_WIN=([64]='C:\Program Files (x86)\ODRIX\Carvella Maker' [32]='C:\Program Files\ODRIX\Carvella Maker')
TOOLS_WIN='C:\e2e'
# Where each fixture service logs what happened to it (fixture_service.cpp).
SERVICE_LOGS_WIN='C:\e2e\service-logs'
UPDATER_WIN='C:\e2e\downloads\CarvellaMakerUpdater.exe'
STARTED_PREFIXES=()
BACKGROUND_LIST=$E2E_DIR/background-processes.txt
MOUNT_LIST=$E2E_DIR/mounted-drives.txt
XVFB_PID=
E2E_DISPLAY=
P=  # the prefix in use: 64 or 32
SCENARIO_DIR=$E2E_DIR

log() { echo "e2e: $*" >&2; }
die() {
  log "$*"
  exit 2
}

# A Unix path as Wine sees it.
winpath() { printf 'Z:%s' "${1//\//\\}"; }
# A path inside the prefix in use, from its Windows form, through the
# prefix's drive letters (dosdevices).
unixpath() {
  local drive=${1%%:*} rest=${1#?:\\}
  printf '%s/dosdevices/%s:/%s' "${PREFIX_DIR[$P]}" "${drive,,}" "${rest//\\//}"
}

# Runs a program in the prefix in use. Output goes where the caller redirects it,
# never to a pipe. Extra environment comes first as NAME=value words.
wine_in() {
  local environment=()
  while [[ $# -gt 0 && $1 == *=* && $1 != *\\* ]]; do
    environment+=("$1")
    shift
  done
  env WINEPREFIX="${PREFIX_DIR[$P]}" WINEARCH="${PREFIX_ARCH[$P]}" DISPLAY="$E2E_DISPLAY" WINEDEBUG=-all \
    "${environment[@]}" "${NO_DAC_OVERRIDE[@]}" timeout -k 5 "${WINE_TIMEOUT:-60}" wine "$@" </dev/null
}

require_environment() {
  local missing=()
  local command
  for command in wine wineserver Xvfb setpriv timeout python3 cmp diff; do
    command -v "$command" >/dev/null 2>&1 || missing+=("$command")
  done
  [[ -x /usr/lib/wine/wine || -n $(command -v wine32 2>/dev/null) ]] || missing+=("wine32 (the 32-bit loader)")
  [[ -x /usr/lib/wine/wine64 || -n $(command -v wine64 2>/dev/null) ]] || missing+=("wine64 (the 64-bit loader)")
  if [[ ${#missing[@]} -gt 0 ]]; then
    die "missing: ${missing[*]} (scripts/install-deps installs them)"
  fi
  [[ -f $UPDATER_UNDER_TEST ]] || die "no $UPDATER_UNDER_TEST: build the windows preset first"
  local tool
  for tool in "${TOOL_NAMES[@]}"; do
    [[ -f $BUILD_DIR/tools/$tool.exe ]] || die "no $BUILD_DIR/tools/$tool.exe: build the windows preset first"
  done
}

start_display() {
  mkdir -p "$E2E_DIR"
  local numberFile=$E2E_DIR/display-number
  rm -f "$numberFile"
  Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$numberFile" >"$E2E_DIR/xvfb.log" 2>&1 &
  XVFB_PID=$!
  local waited=0
  until [[ -s $numberFile ]]; do
    ((waited++ < 100)) || die "Xvfb did not start (see $E2E_DIR/xvfb.log)"
    sleep 0.1
  done
  E2E_DISPLAY=":$(head -n1 "$numberFile")"
}

# Creates the prefix once per run (or reuses it when asked), with the tools,
# the updater and the three fixture services in it.
create_prefix() {
  P=$1
  local dir=${PREFIX_DIR[$P]}
  local setupLog=$dir-setup.log settings=$dir-settings.txt
  if [[ ${E2E_REUSE_PREFIXES:-0} != 1 || ! -f $dir/system.reg ]]; then
    rm -rf "$dir"
  fi
  mkdir -p "$dir"
  env WINEPREFIX="$dir" WINEARCH="${PREFIX_ARCH[$P]}" "${NO_DAC_OVERRIDE[@]}" wineserver -p
  STARTED_PREFIXES+=("$P")
  # The first program initialises the prefix; Mono and Gecko are not wanted.
  printf '%s\n' \
    $'set\tHKCU\\Software\\Wine\\X11 Driver\tManaged\tREG_SZ\ttextz:N' \
    $'set\tHKCU\\Software\\Wine\\Debug\tRelayInclude\tREG_SZ\ttextz:user32.MessageBoxA;user32.MessageBoxW;user32.ExitWindowsEx;advapi32.RegSetValueExA' \
    >"$settings"
  WINE_TIMEOUT=180 wine_in WINEDLLOVERRIDES='mscoree=;mshtml=' "$BUILD_DIR/tools/regtool.exe" \
    "$(winpath "$dir-settings.out")" "@$(winpath "$settings")" >"$setupLog" 2>&1 ||
    die "prefix $1 could not be initialised (see $setupLog)"
  install_programs
  prepare_services normal:running normal:running normal:running >>"$setupLog" 2>&1 ||
    die "the fixture services could not be installed in prefix $1 (see $setupLog)"
}

# The programs under test go in afresh for every run.
install_programs() {
  local tools
  tools=$(unixpath "$TOOLS_WIN")
  mkdir -p "$tools/downloads"
  local tool
  for tool in "${TOOL_NAMES[@]}"; do cp "$BUILD_DIR/tools/$tool.exe" "$tools/"; done
  cp "$UPDATER_UNDER_TEST" "$(unixpath "$UPDATER_WIN")"
}

stop_prefixes() {
  local p
  for p in "${STARTED_PREFIXES[@]}"; do
    env WINEPREFIX="${PREFIX_DIR[$p]}" wineserver -k >/dev/null 2>&1
  done
  for p in "${STARTED_PREFIXES[@]}"; do
    env WINEPREFIX="${PREFIX_DIR[$p]}" timeout 20 wineserver -w >/dev/null 2>&1
  done
  STARTED_PREFIXES=()
}

cleanup_all() {
  end_background_processes
  stop_prefixes
  remove_small_drives
  if [[ -n $XVFB_PID ]]; then
    kill "$XVFB_PID" 2>/dev/null
    wait "$XVFB_PID" 2>/dev/null
    XVFB_PID=
  fi
}

# ---- tools inside the prefix -----------------------------------------------------

# Runs regtool over a script given as lines on stdin; answers land in $1.
regtool_script() {
  local out=$1 script
  script=$(mktemp "$SCENARIO_DIR/regtool-XXXX.txt")
  cat >"$script"
  wine_in "$TOOLS_WIN\\regtool.exe" "$(winpath "$out")" "@$(winpath "$script")" >>"$SCENARIO_DIR/wine.log" 2>&1
}

reg_set() { # key value type data
  printf '%s\t%s\t%s\t%s\t%s\n' set "$1" "$2" "$3" "$4" | regtool_script "$SCENARIO_DIR/reg-set.out" ||
    harness_fail "could not set $1\\$2"
}

reg_delete_key() {
  printf '%s\t%s\n' delkey "$1" | regtool_script "$SCENARIO_DIR/reg-delete.out" || harness_fail "could not delete $1"
}

# prepare_services <behaviour>:<running|stopped> for Control, Copy and Monitor.
prepare_services() {
  local arguments=() i
  for i in 0 1 2; do
    arguments+=("${SERVICE_NAMES[$i]}" "${1%%:*}" "${1##*:}")
    shift
  done
  wine_in "$TOOLS_WIN\\fixture_service.exe" "$(winpath "$SCENARIO_DIR/services-prepared.out")" prepare \
    "${arguments[@]}" >>"$SCENARIO_DIR/wine.log" 2>&1
}

# remove_service <name>: the service is not installed at all.
remove_service() {
  wine_in "$TOOLS_WIN\\fixture_service.exe" "$(winpath "$SCENARIO_DIR/services-removed.out")" remove "$1" \
    >>"$SCENARIO_DIR/wine.log" 2>&1 || harness_fail "service $1 not removed"
}

# Starts a tool that waits for a named event in the background; returns once it
# is up. Noted in a file, so that it is ended even after a scenario aborts.
start_waiting_process() { # windows-exe event
  local exe=$1 event=$2 ready
  ready=$(mktemp -u "$SCENARIO_DIR/ready-XXXX.txt")
  WINE_TIMEOUT=600 wine_in "$exe" "$event" "$(winpath "$ready")" >>"$SCENARIO_DIR/background.log" 2>&1 &
  printf '%s|%s|%s\n' "$!" "$P" "$event" >>"$BACKGROUND_LIST"
  local waited=0
  until [[ -s $ready ]]; do
    ((waited++ < 150)) || {
      harness_fail "$exe did not start"
      return 1
    }
    sleep 0.1
  done
}

# The entries noted in a list file, one a line; the file is left empty, so that
# nothing is ended or removed twice.
take_entries() {
  [[ -s $1 ]] || return 0
  cat "$1"
  : >"$1"
}

end_background_processes() {
  local entries=() entry pid P event
  mapfile -t entries < <(take_entries "$BACKGROUND_LIST")
  for entry in "${entries[@]}"; do
    IFS='|' read -r pid P event <<<"$entry"
    wine_in "$TOOLS_WIN\\standin.exe" signal "$event" >/dev/null 2>&1
  done
  for entry in "${entries[@]}"; do
    pid=${entry%%|*}
    local waited=0
    while kill -0 "$pid" 2>/dev/null && ((waited++ < 50)); do sleep 0.1; done
    kill "$pid" 2>/dev/null
  done
}

# ---- arranging a scenario --------------------------------------------------------

# Older data files of the installed application, distinct per file, in the
# files' own format (UTF-16LE with a byte-order mark).
make_old_data_files() {
  local dir=$WORK_DIR/old-data name
  mkdir -p "$dir"
  for name in "${OLD_DATA_FILES[@]}"; do
    python3 -c 'import sys; sys.stdout.buffer.write(b"\xff\xfe" + ("[DRIVE1]\r\nVID=OLDVENDOR\r\nPID=OLD_" + sys.argv[1] + "\r\nDLL=old.dll\r\n").encode("utf-16-le"))' \
      "$name" >"$dir/$name"
  done
}

install_folder() { unixpath "${INSTALL_DIR_WIN[$P]}"; }

# arrange [version] [services]: the installed application in its usual state;
# services as <behaviour>:<state> words for Control, Copy and Monitor.
arrange() {
  local version=${1:-0x09000000}
  shift
  local services=("$@")
  [[ ${#services[@]} -eq 3 ]] || services=(normal:running normal:running normal:running)
  end_background_processes
  local folder
  folder=$(install_folder)
  [[ -d $folder ]] && chmod -R u+w "$folder"
  rm -rf "$folder"
  mkdir -p "$folder"
  local name
  for name in "${OLD_DATA_FILES[@]}"; do cp "$WORK_DIR/old-data/$name" "$folder/"; done
  cp "$BUILD_DIR/tools/standin.exe" "$folder/CVMaker.exe"
  regtool_script "$SCENARIO_DIR/arrange.out" <<EOF || harness_fail "registry layout failed: $(tr '\n' ' ' <"$SCENARIO_DIR/arrange.out")"
delkey	$APP_KEY_32BIT_VIEW
delkey	$APP_KEY
set	$APP_KEY	InstallPath	REG_SZ	textz:${INSTALL_DIR_WIN[$P]}
set	$APP_KEY	Version	REG_DWORD	dword:$version
delkey	$DRIVER_KEY
set	$FILTER_KEY\\ROVE	Products	REG_SZ	text:$OLD_LIST_ROVE
set	$FILTER_KEY\\ODRIX	Products	REG_SZ	text:$OLD_LIST_ODRIX
delkey	$APP_DEFAULTS_KEY
delkey	$RECORD_KEY
delkey	$BOOT_KEY
EOF
  prepare_services "${services[@]}" ||
    harness_fail "services not prepared: $(tr '\n' ' ' <"$SCENARIO_DIR/services-prepared.out" 2>/dev/null)"
  [[ ${#FAILURES[@]} -eq 0 ]]
}

# ---- a drive of its own ----------------------------------------------------------

SMALL_DRIVE_BLOCK=1024

# mount_small_drive <letter> <KiB>: an empty ext2 file system of 1 KiB blocks,
# loop-mounted and mapped as that drive of the prefix in use, removed after the
# scenario. Where mounting is not possible the scenario is skipped.
mount_small_drive() {
  local letter=${1,,} size=$2
  local mountPoint=$E2E_DIR/drive-$P-$letter
  local image=$mountPoint.img link=${PREFIX_DIR[$P]}/dosdevices/$letter: mountLog=$SCENARIO_DIR/mount.log
  if [[ $(id -u) -ne 0 ]]; then
    skip_scenario "mounting a file system needs root"
    return 1
  fi
  if ! command -v mkfs.ext2 >/dev/null 2>&1; then
    skip_scenario "no mkfs.ext2 (e2fsprogs) to make a file system"
    return 1
  fi
  mkdir -p "$mountPoint"
  head -c "$((size * 1024))" /dev/zero >"$image"
  mkfs.ext2 -q -F -b "$SMALL_DRIVE_BLOCK" -m 0 "$image" >"$mountLog" 2>&1 || {
    harness_fail "mkfs.ext2 failed: $(tail -n1 "$mountLog")"
    return 1
  }
  printf '%s|%s|%s\n' "$mountPoint" "$image" "$link" >>"$MOUNT_LIST"
  if ! mount -o loop "$image" "$mountPoint" >"$mountLog" 2>&1; then
    skip_scenario "mounting a loop device is not allowed here ($(head -n1 "$mountLog"))"
    return 1
  fi
  ln -sfn "$mountPoint" "$link"
}

# Unmounts what mount_small_drive mounted; a drive still busy is tried again
# at the end of the run, once the prefixes' servers are gone.
remove_small_drives() {
  local entries=() entry mountPoint image link
  mapfile -t entries < <(take_entries "$MOUNT_LIST")
  for entry in "${entries[@]}"; do
    IFS='|' read -r mountPoint image link <<<"$entry"
    rm -f "$link"
    if mountpoint -q "$mountPoint" && ! umount "$mountPoint" 2>/dev/null; then
      log "$mountPoint is busy; unmounting it later"
      echo "$entry" >>"$MOUNT_LIST"
      continue
    fi
    rm -f "$image"
    rmdir "$mountPoint" 2>/dev/null
  done
}

# The root of the drive that holds a Windows path, as a Unix folder.
drive_root() { unixpath "${1:0:2}\\"; }

# fill_drive <windows path> <blocks>: a filler file at the root of the path's
# drive leaves exactly that many blocks free.
fill_drive() {
  python3 - "$(drive_root "$1")" "$2" <<'EOF' || harness_fail "could not leave $2 blocks free on ${1:0:2}"
import os, sys
root, wanted = sys.argv[1], int(sys.argv[2])
filler = os.path.join(root, "filler")
size = os.path.getsize(filler) if os.path.exists(filler) else 0
# A larger filler may need a block of its own for block numbers: adjust until it fits.
for _ in range(4):
    status = os.statvfs(root)
    if status.f_bavail == wanted:
        sys.exit(0)
    size = max(0, size + (status.f_bavail - wanted) * status.f_bsize)
    with open(filler, "wb") as out:
        out.write(bytes(size))
sys.exit(os.statvfs(root).f_bavail != wanted)
EOF
}

free_drive() { rm -f "$(drive_root "$1")filler"; }

make_read_only() { chmod a-w "$(install_folder)/$1"; }

# Wine reports this Windows version to the updater alone.
report_windows_version() { reg_set "$APP_DEFAULTS_KEY" Version REG_SZ "textz:$1"; }

# need_locales <language_COUNTRY>...: the glibc UTF-8 locales that Wine takes
# its languages and code pages from; the scenario is skipped without them.
need_locales() {
  local available name
  available=$(locale -a 2>/dev/null)
  for name in "$@"; do
    grep -qix "$name\.utf-\?8" <<<"$available" || {
      skip_scenario "no $name.UTF-8 locale (scripts/install-deps makes it)"
      return 1
    }
  done
}

# Runs the stand-in under an executable name while the updater runs.
start_application_as() { # name [windows folder]
  local folder=${2:-${INSTALL_DIR_WIN[$P]}}
  local unixFolder
  unixFolder=$(unixpath "$folder")
  mkdir -p "$unixFolder"
  cp "$BUILD_DIR/tools/standin.exe" "$unixFolder/$1"
  start_waiting_process "$folder\\$1" "e2e application $1"
}

hold_instance_mutex() { start_waiting_process "$TOOLS_WIN\\mutex_holder.exe" "e2e instance mutex"; }

# ---- running the updater -----------------------------------------------------------

# act [--answers LIST] [--japanese | --japanese-on-1252 | --language LOCALE] [--refuse-restart] [--timeout S]
#     [--end-when FILE] [--hidden-station] [-- updater arguments]
# --end-when ends the updater abruptly once that Windows path exists.
# --japanese gives a Japanese user on code page 932; --japanese-on-1252 a
# Japanese user language on the English code page 1252 (LC_MESSAGES alone).
# --hidden-station runs the updater in a window station nobody sees.
# Runs the updater under the pilot; the pilot's log and Wine's call trace stay
# in the scenario folder for the checks.
act() {
  local answers=- timeout=100 environment=() arguments=() endWhen=() station=()
  MESSAGE_LANGUAGE=EN
  while [[ $# -gt 0 ]]; do
    case $1 in
      --answers) answers=$2; shift 2 ;;
      --japanese) environment+=(LC_ALL=ja_JP.UTF-8); MESSAGE_LANGUAGE=JA; shift ;;
      --japanese-on-1252)
        environment+=(LC_ALL= LC_CTYPE= LANG=en_US.UTF-8 LC_MESSAGES=ja_JP.UTF-8)
        MESSAGE_LANGUAGE=JA
        shift
        ;;
      --language) environment+=("LC_ALL=$2"); shift 2 ;;
      --refuse-restart) environment+=(WINEDLLOVERRIDES=wineboot.exe=d); shift ;;
      --timeout) timeout=$2; shift 2 ;;
      --end-when) endWhen=(--end-when "$2"); shift 2 ;;
      --hidden-station) station=(--hidden-station); shift ;;
      --) shift; arguments=("$@"); break ;;
      *) arguments+=("$1"); shift ;;
    esac
  done
  snapshot "$SCENARIO_DIR/before"
  WINE_TIMEOUT=$((timeout + 30)) wine_in "${environment[@]}" WINEDEBUG=-all,+relay "$TOOLS_WIN\\pilot.exe" \
    "$(winpath "$SCENARIO_DIR/pilot.log")" "$answers" "$((timeout * 1000))" "${endWhen[@]}" "${station[@]}" "$UPDATER_WIN" "${arguments[@]}" \
    >"$SCENARIO_DIR/pilot.out" 2>"$SCENARIO_DIR/trace.log"
  snapshot "$SCENARIO_DIR/after"
}

# What the checks compare: the install folder, the registry values the update
# reads or writes (registry.txt), and the services with what happened to them
# (services.txt). Both files hold key=value lines, read by snapshot_value.
snapshot() {
  local dir=$1
  rm -rf "$dir"
  mkdir -p "$dir"
  cp -a "$(install_folder)" "$dir/files"
  local t=$'\t' vendor
  local keys=(install_path version filter_key record record_key boot_key boot_restart_owed)
  local requests=("get${t}$APP_KEY${t}InstallPath" "get${t}$APP_KEY${t}Version" "exists${t}$FILTER_KEY"
    "get${t}$RECORD_KEY${t}$RECORD_VALUE" "exists${t}$RECORD_KEY" "exists${t}$BOOT_KEY"
    "get${t}$BOOT_KEY${t}Restart owed")
  local i
  for i in 0 1 2; do
    keys+=("boot_service_$i")
    requests+=("get${t}$BOOT_KEY${t}${SERVICE_NAMES[$i]}")
  done
  for vendor in "${VENDORS[@]}"; do
    keys+=("${vendor}_key" "${vendor}_products")
    requests+=("exists${t}$FILTER_KEY\\$vendor" "get${t}$FILTER_KEY\\$vendor${t}Products")
  done
  printf '%s\n' "${requests[@]}" | regtool_script "$dir/registry.out"
  local answers=() i
  [[ -f $dir/registry.out ]] && mapfile -t answers <"$dir/registry.out"
  [[ ${#answers[@]} -eq ${#keys[@]} ]] || harness_fail "the registry could not be read"
  # No value is no value, whether or not the updater's key is there.
  for i in "${!keys[@]}"; do [[ ${keys[$i]} == record || ${keys[$i]} == boot_[rs]* ]] && [[ ${answers[$i]:-} == NOKEY ]] && answers[$i]=NOVALUE; done
  for i in "${!keys[@]}"; do printf '%s=%s\n' "${keys[$i]}" "${answers[$i]}"; done >"$dir/registry.txt"
  wine_in "$TOOLS_WIN\\fixture_service.exe" "$(winpath "$dir/services.out")" state "${SERVICE_NAMES[@]}" \
    >>"$SCENARIO_DIR/wine.log" 2>&1
  [[ -s $dir/services.out ]] || harness_fail "the services could not be queried"
  local name state logs
  logs=$(unixpath "$SERVICE_LOGS_WIN")
  {
    while IFS=$'\t' read -r name state; do printf '%s state=%s\n' "$name" "$state"; done <"$dir/services.out"
    for name in "${SERVICE_NAMES[@]}"; do
      printf '%s events=' "$name"
      if [[ -f $logs/$name.log ]]; then tr '\n' ' ' <"$logs/$name.log" | sed 's/ $//'; fi
      echo
    done
  } >"$dir/services.txt"
}

# snapshot_value <file> <key>: the value of a key=value line of a snapshot file;
# fails when the key is not there.
snapshot_value() {
  local line
  while IFS= read -r line; do
    if [[ ${line%%=*} == "$2" ]]; then
      printf '%s' "${line#*=}"
      return 0
    fi
  done <"$1"
  return 1
}

# ---- checks --------------------------------------------------------------------------

FAILURES=()
fail() { FAILURES+=("$*"); }
# The scenario cannot run here; it is counted as skipped, with the reason.
skip_scenario() { printf '%s\n' "$*" >"$SCENARIO_DIR/skipped.txt"; }
harness_fail() {
  FAILURES+=("harness: $*")
  return 1
}

# expect_exit <code> | ended (cut off by act --end-when)
expect_exit() {
  local line
  line=$(grep -a -E '^(exit|timeout|error|ended)' "$SCENARIO_DIR/pilot.log" 2>/dev/null | head -n1)
  case $line in
    exit*) [[ ${line#exit$'\t'} == "$1" ]] || fail "exit code ${line#exit$'\t'}, expected $1" ;;
    ended) [[ $1 == ended ]] || fail "the updater was cut off, expected exit code $1" ;;
    timeout) fail "the updater did not end (ended by the pilot)" ;;
    *) fail "no exit code recorded (${line:-pilot log empty})" ;;
  esac
}

# The milliseconds from the updater's start to its end, as the pilot measured them.
elapsed_ms() { sed -n 's/^elapsed\t//p' "$SCENARIO_DIR/pilot.log" 2>/dev/null | head -n1; }

message_text() { # slot [file name]
  local -n catalogue=MESSAGE_$MESSAGE_LANGUAGE
  local text=${catalogue[$1]}
  [[ $# -gt 1 ]] && text=${text//%s/$2}
  printf '%s' "$text"
}

# expect_boxes [--wide] [OK|OKCANCEL:MSG_NAME[:file]]... in the order shown; none when no argument.
# Each box has the caption (the pilot finds it by it), no icon and no owner, and
# MessageBoxA (MessageBoxW with --wide) was called with exactly the MB_OK (0) or
# MB_OKCANCEL (1) style; the other function not at all.
expect_boxes() {
  local function=MessageBoxA other=MessageBoxW
  if [[ ${1:-} == --wide ]]; then
    function=MessageBoxW other=MessageBoxA
    shift
  fi
  local expected=() entry buttons style styles=()
  for entry in "$@"; do
    IFS=: read -r buttons slot file <<<"$entry"
    case $buttons in
      OK) buttons=OK; style=00000000 ;;
      OKCANCEL) buttons=OK,Cancel; style=00000001 ;;
    esac
    expected+=("$buttons"$'\t'"-"$'\t'"$(message_text "$slot" ${file:+"$file"})")
    styles+=("00000000 $style")
  done
  local actual=()
  mapfile -t actual < <(grep -a '^box' "$SCENARIO_DIR/pilot.log" 2>/dev/null | cut -f2,4-)
  if [[ "${actual[*]}" != "${expected[*]}" || ${#actual[@]} -ne ${#expected[@]} ]]; then
    fail "boxes [$(describe_boxes "${actual[@]}")], expected [$(describe_boxes "${expected[@]}")]"
    return
  fi
  local calls=()
  mapfile -t calls < <(sed -n "s/.*:Call user32\\.$function(\\([0-9a-f]*\\),.*,\\([0-9a-f]\\{8\\}\\)) ret=.*/\\1 \\2/p" \
    "$SCENARIO_DIR/trace.log")
  [[ "${calls[*]}" == "${styles[*]}" ]] ||
    fail "$function owner and style [${calls[*]}], expected [${styles[*]}]"
  local others
  others=$(grep -a -c ":Call user32\.$other(" "$SCENARIO_DIR/trace.log")
  [[ $others -eq 0 ]] || fail "$other called $others times, expected $function only"
}

describe_boxes() {
  local box out=()
  for box in "$@"; do out+=("$(cut -f1 <<<"$box"): $(cut -f3 <<<"$box" | cut -c1-60)$(
    [[ $(cut -f2 <<<"$box") != - ]] && echo " ($(cut -f2 <<<"$box"))")"); done
  local IFS='|'
  printf '%s' "${out[*]}"
}

# expect_run_log <file> <runs> <command line> [line...]: the updater's log of
# that many runs appended one after the other: UTF-8 with a byte-order mark at
# its head only, every line ended by CR LF and begun by a local time stamp,
# each run from its first line (the command line as given) to "exit code 0";
# every further line named is in each run, whole after the time stamp.
expect_run_log() {
  local problems
  problems=$(python3 - "$@" <<'EOF'
import re, sys
path, runs, command_line, wanted = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4:]
try:
    data = open(path, "rb").read()
except OSError as error:
    sys.exit(print("not readable: %s" % error.strerror))
bom = b"\xef\xbb\xbf"
problems = [] if data.startswith(bom) else ["no byte-order mark at the head"]
data = data[len(bom):] if data.startswith(bom) else data
ends = data.count(b"\r\n")
if not data.endswith(b"\r\n") or data.count(b"\n") != ends or data.count(b"\r") != ends:
    problems.append("a line not ended by CR LF")
lines = data.decode("utf-8", "replace").split("\r\n")[:-1]
stamp = re.compile(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}  ")
unstamped = [line for line in lines if not stamp.match(line)]
if unstamped:
    problems.append("%d lines without a time stamp, the first %r" % (len(unstamped), unstamped[0][:60]))
texts = [line[25:] for line in lines]
first = re.compile(r"ODRIX Carvella Maker Updater \d+(\.\d+){3}( \([^)]*\))?, command line: " + re.escape(command_line) + "$")
marks = ["first" if first.match(t) else t for t in texts if first.match(t) or t.startswith("exit code")]
if marks != ["first", "exit code 0"] * runs or texts[-1:] != ["exit code 0"]:
    problems.append("first and last lines [%s] (the first %r), expected %d runs, each ending with exit code 0"
                    % (", ".join(marks), texts[0][:120] if texts else "", runs))
starts = [i for i, t in enumerate(texts) if first.match(t)] + [len(texts)]
for run in range(len(starts) - 1):
    problems += ["run %d has no line %r" % (run + 1, line) for line in wanted if line not in texts[starts[run]:starts[run + 1]]]
print("; ".join(problems))
EOF
  )
  [[ -z $problems ]] || fail "log $1: $problems"
}

# expect_log_line <file> <line>: the line is in the log, whole after its time stamp.
expect_log_line() {
  cut -c26- "$1" 2>/dev/null | tr -d '\r' | grep -a -F -x -q -- "$2" || fail "log $1 has no line '$2'"
}

# expect_restart requested|not_requested: ExitWindowsEx(EWX_REBOOT, 0) and nothing else.
expect_restart() {
  local calls
  calls=$(grep -a -c ':Call user32\.ExitWindowsEx(' "$SCENARIO_DIR/trace.log")
  if [[ $1 == requested ]]; then
    if [[ $calls -ne 1 ]] || ! grep -a -q ':Call user32\.ExitWindowsEx(00000002,00000000)' "$SCENARIO_DIR/trace.log"; then
      fail "restart: $(grep -a ':Call user32\.ExitWindowsEx(' "$SCENARIO_DIR/trace.log" | sed 's/.*Call //;s/ ret=.*//' | tr '\n' ' ')(${calls} calls), expected ExitWindowsEx(00000002,00000000) once"
    fi
  else
    [[ $calls -eq 0 ]] || fail "a restart was requested"
  fi
}

# The byte counts passed to RegSetValueExA for "Products", in order: a list is
# written with exactly its length, no terminating NUL.
expect_list_writes() {
  local counts=() expected=() count
  for count in "$@"; do expected+=("$(printf '%08x' "$count")"); done
  mapfile -t counts < <(sed -n 's/.*:Call advapi32\.RegSetValueExA([0-9a-f]*,[0-9a-f]* "Products",[0-9a-f]*,\([0-9a-f]*\),[0-9a-f]*,\([0-9a-f]*\)).*/\2/p' \
    "$SCENARIO_DIR/trace.log")
  [[ "${counts[*]}" == "${expected[*]}" ]] ||
    fail "Products written with byte counts [${counts[*]}], expected [${expected[*]}]"
}

# expect_files untouched | deployed <class> | rolled_back <class>
#   untouched:   the install folder exactly as before the run
#   deployed:    every row of the file table holds its payload, nothing else changed, no backup left
#   rolled_back: every file as before, except the marker file, which had no backup and keeps its payload
expect_files() {
  local expectedDir=$SCENARIO_DIR/expected-files
  rm -rf "$expectedDir"
  cp -a "$SCENARIO_DIR/before/files" "$expectedDir"
  local rows=() name
  if [[ $P == 64 ]]; then rows=("${FILE_ROWS_64[@]}"); else rows=("${FILE_ROWS_32[@]}"); fi
  case $1 in
    untouched) ;;
    deployed) for name in "${rows[@]}"; do cp "$PAYLOAD_DIR/class$2/$name" "$expectedDir/$name"; done ;;
    rolled_back) [[ -f $expectedDir/XVT-7Q2RN3.txt ]] || cp "$PAYLOAD_DIR/class$2/XVT-7Q2RN3.txt" "$expectedDir/" ;;
  esac
  local differences
  differences=$(diff -rq "$expectedDir" "$SCENARIO_DIR/after/files" 2>&1 |
    sed -E "s#^Only in $SCENARIO_DIR/after/files[^:]*: (.*)#\1 (unexpected)#;s#^Only in ${expectedDir}[^:]*: (.*)#\1 (missing)#;s#^Files $expectedDir/([^ ]*) and .* differ#\1 (content)#" |
    tr '\n' ',' | sed 's/,$//;s/,/, /g')
  [[ -z $differences ]] || fail "install folder ($1): $differences"
}

expect_read_only() {
  [[ $(stat -c %a "$SCENARIO_DIR/after/files/$1") != *[2367]* ]] || fail "$1 is no longer read-only"
}

hex_of() { printf '%s' "$1" | od -An -v -tx1 | tr -d ' \n'; }

# A registry answer with its bytes shown as text: REG_SZ 32 "PX-...".
readable() {
  python3 -c 'import sys
parts = sys.argv[1].split(" ")
if len(parts) == 3:
    parts[2] = repr(bytes.fromhex(parts[2]).decode("latin-1"))
print(" ".join(parts))' "$1"
}

# The registry as before the run, value for value, type and bytes.
# No record of an update in progress is left, nor the key that holds records.
expect_no_record() {
  local record
  record=$(snapshot_value "$SCENARIO_DIR/after/registry.txt" record)
  [[ $record == NOVALUE ]] || fail "the record of an update in progress stays: $(readable "$record")"
  [[ $(snapshot_value "$SCENARIO_DIR/after/registry.txt" record_key) == NOKEY ]] ||
    fail "the key $RECORD_KEY stays"
}

# The registry as before the run: no record of an update in progress, and of
# the record of this start of Windows only the services that the run asked
# to stop and that are not running again (the next run that starts services
# starts them) and, where a run wrote the data files, the restart owed.
expect_registry_untouched() {
  local before=$SCENARIO_DIR/before/registry.txt after=$SCENARIO_DIR/after/registry.txt
  diff <(grep -v '^record\|^boot' "$before") <(grep -v '^record\|^boot' "$after") >/dev/null ||
    fail "registry changed: $(diff <(grep -v '^record\|^boot' "$before") <(grep -v '^record\|^boot' "$after") | sed -n 's/^> //p' | while read -r line; do echo "${line%%=*} $(readable "${line#*=}")"; done | tr '\n' ' ')"
  expect_no_record
  local i name asked recorded
  for i in 0 1 2; do
    name=${SERVICE_NAMES[$i]}
    asked=no
    [[ " $(snapshot_value "$SCENARIO_DIR/after/services.txt" "$name events") " == *" stop "* &&
      $(snapshot_value "$SCENARIO_DIR/after/services.txt" "$name state") != RUNNING ]] && asked=yes
    recorded=yes
    [[ $(snapshot_value "$after" "boot_service_$i") == NOVALUE ]] && recorded=no
    [[ $asked == "$recorded" ]] ||
      fail "$name: asked to stop and not running again: $asked, named for the later runs of this start of Windows: $recorded"
  done
}

# Windows starts again: Wine's server ends, with every volatile key, and a new
# one starts; the services come back as they are set up.
restart_windows() {
  env WINEPREFIX="${PREFIX_DIR[$P]}" wineserver -k >/dev/null 2>&1
  env WINEPREFIX="${PREFIX_DIR[$P]}" timeout 20 wineserver -w >/dev/null 2>&1
  env WINEPREFIX="${PREFIX_DIR[$P]}" WINEARCH="${PREFIX_ARCH[$P]}" "${NO_DAC_OVERRIDE[@]}" wineserver -p
  prepare_services normal:running normal:running normal:running ||
    harness_fail "services not prepared after the restart"
}

# expect_product_list <vendor> <list>|unchanged|absent: a REG_SZ holding exactly the list,
# as the ANSI call reads it back (a stored terminating NUL is accepted).
expect_product_list() {
  local vendor=$1 wanted=$2 before after
  before=$(snapshot_value "$SCENARIO_DIR/before/registry.txt" "${vendor}_products")
  after=$(snapshot_value "$SCENARIO_DIR/after/registry.txt" "${vendor}_products")
  case $wanted in
    unchanged) [[ $after == "$before" ]] || fail "$vendor Products changed from $(readable "$before") to $(readable "$after")" ;;
    absent) [[ $after == NOVALUE || $after == NOKEY ]] || fail "$vendor Products exists: $(readable "$after")" ;;
    *)
      local hex
      hex=$(hex_of "$wanted")
      local length=${#wanted}
      [[ $after == "REG_SZ $length $hex" || $after == "REG_SZ $((length + 1)) ${hex}00" ]] ||
        fail "$vendor Products $(readable "$after"), expected REG_SZ '$wanted'"
      ;;
  esac
}

expect_key() { # present|absent snapshot-key description
  local answer
  answer=$(snapshot_value "$SCENARIO_DIR/after/registry.txt" "$2")
  [[ ($1 == present && $answer == KEY) || ($1 == absent && $answer == NOKEY) ]] || fail "$3: $answer, expected $1"
}

# expect_services <Control> <Copy> <Monitor>, each one of
#   untouched (running, never stopped), stopped (stopped by the update),
#   restarted (stopped, then started again), or STATE:log words.
expect_services() {
  local name wanted state events actualState actualEvents after=$SCENARIO_DIR/after/services.txt
  for name in "${SERVICE_NAMES[@]}"; do
    wanted=$1
    shift
    case $wanted in
      untouched) state=RUNNING events= ;;
      stopped) state=STOPPED events='stop stopped' ;;
      restarted) state=RUNNING events='stop stopped start running' ;;
      *) state=${wanted%%:*} events=${wanted#*:} ;;
    esac
    actualState=$(snapshot_value "$after" "$name state")
    actualEvents=$(snapshot_value "$after" "$name events")
    [[ $actualState == "$state" && $actualEvents == "$events" ]] ||
      fail "$name: $actualState after [$actualEvents], expected $state after [$events]"
  done
}

# Nothing of the machine changed: files, registry, services.
expect_nothing_changed() {
  expect_files untouched
  expect_registry_untouched
  expect_services untouched untouched untouched
}

# ---- running scenarios -----------------------------------------------------------------

use_prefix() { P=$1; }

# run_scenario <prefix> <name>: prints one line, PASS, SKIP or FAIL with the
# reasons; answers 0, 2 or 1.
# The scenario runs in a subshell, so that a fault of the harness ends only it.
run_scenario() {
  local prefix=$1 name=$2
  use_prefix "$prefix"
  SCENARIO_DIR=$WORK_DIR/$name
  rm -rf "$SCENARIO_DIR"
  mkdir -p "$SCENARIO_DIR"
  local started=$SECONDS
  (
    FAILURES=()
    "scenario_$name"
    end_background_processes
    printf '%s\n' "${FAILURES[@]}" >"$SCENARIO_DIR/failures.txt"
  ) >"$SCENARIO_DIR/scenario.log" 2>&1
  end_background_processes
  remove_small_drives
  FAILURES=()
  if [[ -f $SCENARIO_DIR/failures.txt ]]; then
    mapfile -t FAILURES < <(grep -a -v '^$' "$SCENARIO_DIR/failures.txt")
  else
    FAILURES=("harness: the scenario aborted: $(tail -n1 "$SCENARIO_DIR/scenario.log")")
  fi
  local took=$((SECONDS - started))
  if [[ ${#FAILURES[@]} -eq 0 && -f $SCENARIO_DIR/skipped.txt ]]; then
    printf 'SKIP %-40s %3ss  %s\n' "$name" "$took" "$(cat "$SCENARIO_DIR/skipped.txt")"
    return 2
  fi
  if [[ ${#FAILURES[@]} -eq 0 ]]; then
    printf 'PASS %-40s %3ss\n' "$name" "$took"
    return 0
  fi
  local reasons
  reasons=$(printf '%s; ' "${FAILURES[@]}")
  printf 'FAIL %-40s %3ss  %s\n' "$name" "$took" "${reasons%; }"
  return 1
}
