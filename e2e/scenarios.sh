# shellcheck shell=bash
# The end-to-end scenarios. Each arranges the installed application in one
# prefix, runs the updater once or twice under the pilot and checks the machine.
# The table gives the order and the prefix: 64 = 64-bit Windows (the updater
# under WOW64, four file rows), 32 = 32-bit Windows (three rows).
# shellcheck disable=SC2034 # read by e2e/run
SCENARIOS=(
  "64 silent_update_class0"
  "64 silent_update_class1"
  "64 declined_restart_version10"
  "64 cancel_at_confirmation"
  "64 usage_box"
  "64 refused_command_lines"
  "64 version_below_window"
  "64 version_above_window"
  "64 application_key_missing"
  "64 application_key_in_32bit_view_only"
  "64 install_path_expand_sz"
  "64 install_path_empty"
  "64 windows_too_old"
  "64 windows_2000_accepted"
  "64 second_instance"
  "64 application_running"
  "64 application_running_lower_case"
  "64 read_only_target_rolled_back"
  "64 stale_read_only_backup"
  "64 backup_name_is_a_hard_link"
  "64 product_list_multi_sz_rolled_back"
  "64 product_list_multi_sz_rolled_back_no_restart"
  "64 restart_refused"
  "64 japanese_texts"
  "64 japanese_file_copy_error"
  "64 english_for_other_languages"
  "64 japanese_on_code_page_1252_cancel"
  "64 japanese_on_code_page_1252_file_copy_error"
  "64 second_update_over_updated_folder"
  "64 vendor_key_missing_and_partial_slot"
  "64 lists_holding_the_id"
  "64 filter_key_missing"
  "64 slow_services"
  "64 service_does_not_stop"
  "64 service_does_not_restart"
  "64 disk_full"
  "64 cut_off_waiting_for_a_service"
  "64 cut_off_during_deployment"
  "64 silent_update_no_restart"
  "64 run_log_of_two_updates"
  "64 log_whole_quoted"
  "64 log_cannot_be_opened"
  "64 hidden_station_copy_error"
  "64 hidden_station_interactive_is_silent"
  "32 silent_update_class0_32bit"
  "32 silent_update_class1_32bit"
  "32 declined_restart_32bit"
  "32 application_running_32bit"
  "32 read_only_first_row_32bit"
  "32 registry_error_first_row_32bit"
)

# The lists after a successful update of the usual layout.
UPDATED_LIST_ROVE="$OLD_LIST_ROVE$PRODUCT_ID"
UPDATED_LIST_ODRIX="$OLD_LIST_ODRIX$PRODUCT_ID"

expect_lists_updated() {
  expect_product_list ROVE "$UPDATED_LIST_ROVE"
  expect_product_list ODRIX "$UPDATED_LIST_ODRIX"
  expect_list_writes ${#UPDATED_LIST_ROVE} ${#UPDATED_LIST_ODRIX}
}

# A silent update that succeeds: no box, the files and lists updated, Windows restarted.
expect_silent_success() { # class
  expect_exit 0
  expect_boxes
  expect_files deployed "$1"
  expect_no_record
  expect_lists_updated
  expect_restart requested
}

# ---- success ----------------------------------------------------------------------

scenario_silent_update_class0() {
  arrange 0x08000000 || return
  act -- /s
  expect_silent_success 0
}

# Processes whose names only resemble the application's do not stop the update.
scenario_silent_update_class1() {
  arrange 0x09000000 || return
  start_application_as CVMaker2.exe || return
  start_application_as CVMaker.exe.bak 'C:\e2e\elsewhere' || return
  act -- /Sxyz
  expect_silent_success 1
}

# The user confirms and declines the restart: the update stands, and the
# services it stopped run again.
expect_declined_restart() { # Control Copy Monitor, as for expect_services
  expect_exit 0
  expect_boxes OKCANCEL:MSG_CONFIRM_ADD_DRIVE OKCANCEL:MSG_DONE_REBOOT_PROMPT
  expect_files deployed 1
  expect_lists_updated
  expect_restart not_requested
  expect_services "$@"
}

scenario_declined_restart_version10() {
  arrange 0x0A000000 || return
  act --answers OK,Cancel
  expect_declined_restart restarted restarted restarted
}

scenario_cancel_at_confirmation() {
  arrange 0x09000000 || return
  act --answers Cancel
  expect_exit 0
  expect_boxes OKCANCEL:MSG_CONFIRM_ADD_DRIVE
  expect_nothing_changed
  expect_restart not_requested
}

# "/?" shows the usage and changes nothing.
scenario_usage_box() {
  arrange 0x09000000 || return
  act --answers OK -- '/?'
  expect_exit 0
  expect_boxes OK:MSG_USAGE
  expect_nothing_changed
  expect_restart not_requested
}

# A command line that is not this updater's changes nothing: 1639, the usage
# in a box where the run is interactive, and the refusal in the line's log.
scenario_refused_command_lines() {
  arrange 0x09000000 || return
  local logFile='C:\e2e\logs\refused.log'
  mkdir -p "$(unixpath 'C:\e2e\logs')"
  rm -f "$(unixpath "$logFile")"
  local lines=("-S|-S|is not a switch of this updater"
    "update /S|update|is not a switch of this updater"
    "/VERYSILENT /NORESTART|/VERYSILENT|is not a switch of this updater"
    "/quiet /norestart|/quiet|is not a switch of this updater"
    "/FOO|/FOO|is not a switch of this updater"
    "/S/NORESTART|/S/NORESTART|runs switches together: a blank is missing"
    "/S /LOG:C:\\x.log|/LOG:C:\\x.log|is neither /LOG nor /LOG=<file>"
    "/LOG C:\\x.log|C:\\x.log|is not a switch of this updater") entry commandLine refused reason
  for entry in "${lines[@]}"; do
    IFS='|' read -r commandLine refused reason <<<"$entry"
    # shellcheck disable=SC2086 # each line is its words
    act --answers OK -- $commandLine "/LOG=$logFile"
    expect_exit 1639
    if [[ $commandLine == /S* ]]; then expect_boxes; else expect_boxes OK:MSG_USAGE; fi
    expect_nothing_changed
    expect_log_line "$(unixpath "$logFile")" "command line refused: \"$refused\" $reason"
  done
}

# ---- refusals before anything changes -------------------------------------------------

scenario_version_below_window() {
  arrange 0x06FFFFFF || return
  act --answers OK
  expect_exit 1
  expect_boxes OK:MSG_NOT_INSTALLED
  expect_nothing_changed
}

scenario_version_above_window() {
  arrange 0x0A000100 || return
  act -- /S
  expect_exit 1
  expect_boxes
  expect_nothing_changed
}

scenario_application_key_missing() {
  arrange 0x09000000 || return
  reg_delete_key "$APP_KEY" || return
  act --answers OK
  expect_exit 1
  expect_boxes OK:MSG_NOT_INSTALLED
  expect_nothing_changed
}

# The updater reads the 64-bit view: a registration that only the 32-bit view holds is none.
scenario_application_key_in_32bit_view_only() {
  arrange 0x09000000 || return
  reg_delete_key "$APP_KEY" || return
  reg_set "$APP_KEY_32BIT_VIEW" InstallPath REG_SZ "textz:${INSTALL_DIR_WIN[$P]}" || return
  reg_set "$APP_KEY_32BIT_VIEW" Version REG_DWORD dword:0x09000000 || return
  act --answers OK
  expect_exit 1
  expect_boxes OK:MSG_NOT_INSTALLED
  expect_nothing_changed
}

scenario_install_path_expand_sz() {
  arrange 0x09000000 || return
  reg_set "$APP_KEY" InstallPath REG_EXPAND_SZ "textz:${INSTALL_DIR_WIN[$P]}" || return
  act --answers OK
  expect_exit 1
  expect_boxes OK:MSG_INSTALL_BROKEN
  expect_nothing_changed
}

# Where a run that took "" for its install folder would write: the root of
# its current drive and its current folder (both on C:, the updater's folder
# made current), or anywhere else on C: by the data files' names.
stray_files() {
  local root names=() name
  root=$(drive_root C:)
  for name in "${FILE_ROWS_64[@]}" '*.bk0'; do names+=(-o -iname "$name"); done
  find "$root" -xdev \( "${names[@]:1}" \) -printf 'C:/%P\n' | sort
  find "$root" -mindepth 1 -maxdepth 1 -printf 'in C:/: %f\n' | sort
  find "$(updater_folder)" -mindepth 1 -maxdepth 1 -printf 'in the updater folder: %f\n' | sort
}

updater_folder() { unixpath "${UPDATER_WIN%\\*}"; }

# An empty install folder is no folder: refused before any service is stopped,
# and no file is written anywhere.
scenario_install_path_empty() {
  arrange 0x09000000 || return
  reg_set "$APP_KEY" InstallPath REG_SZ "textz:" || return
  local name
  for name in "${FILE_ROWS_64[@]}"; do rm -f "$(drive_root C:)$name" "$(updater_folder)/$name"; done
  cd "$(updater_folder)" || return
  stray_files >"$SCENARIO_DIR/stray-before.txt"
  act -- /S
  stray_files >"$SCENARIO_DIR/stray-after.txt"
  expect_exit 1
  expect_boxes
  expect_nothing_changed
  expect_restart not_requested
  cmp -s "$SCENARIO_DIR/stray-before.txt" "$SCENARIO_DIR/stray-after.txt" ||
    fail "written outside the install folder: $(diff "$SCENARIO_DIR/stray-before.txt" "$SCENARIO_DIR/stray-after.txt" | sed -n 's/^> //p' | tr '\n' ' ')"
}

# Windows NT 4.0 and a non-NT Windows are refused; silently without a box.
scenario_windows_too_old() {
  arrange 0x09000000 || return
  report_windows_version nt40 || return
  act --answers OK
  expect_exit 1
  expect_boxes OK:MSG_OS_TOO_OLD
  expect_nothing_changed
  report_windows_version win98 || return
  act -- /S
  expect_exit 1
  expect_boxes
  expect_nothing_changed
}

# Windows 2000 is the oldest Windows the updater runs on.
scenario_windows_2000_accepted() {
  arrange 0x09000000 || return
  report_windows_version win2k || return
  act --answers Cancel
  expect_exit 0
  expect_boxes OKCANCEL:MSG_CONFIRM_ADD_DRIVE
  expect_nothing_changed
}

scenario_second_instance() {
  arrange 0x09000000 || return
  hold_instance_mutex || return
  act --answers OK
  expect_exit 1
  expect_boxes OK:MSG_ALREADY_RUNNING
  expect_nothing_changed
  act -- /S
  expect_exit 1
  expect_boxes
  expect_nothing_changed
}

# ---- the application running: services stay stopped, files untouched ------------------

# The interactive run confirmed, then stopped by the running application.
expect_stopped_by_running_application() { # Control Copy Monitor, as for expect_services
  expect_exit 1
  expect_boxes OKCANCEL:MSG_CONFIRM_ADD_DRIVE OK:MSG_APP_RUNNING
  expect_files untouched
  expect_registry_untouched
  expect_services "$@"
}

scenario_application_running() {
  arrange 0x09000000 || return
  start_application_as CVMaker.exe || return
  act --answers OK
  expect_stopped_by_running_application untouched untouched untouched
}

scenario_application_running_lower_case() {
  arrange 0x0A000000 || return
  start_application_as cvmaker.EXE 'C:\e2e\elsewhere' || return
  act -- /S
  expect_exit 1
  expect_boxes
  expect_files untouched
  expect_registry_untouched
  expect_services untouched untouched untouched
}

# ---- failures after changes: roll-back ---------------------------------------------------

# The last row cannot be written: the rows before it are restored, every backup
# removed, and the box appears although the run is silent.
scenario_read_only_target_rolled_back() {
  arrange 0x09000000 || return
  make_read_only SupVer.inf
  act -- /S
  expect_exit 1
  expect_boxes OK:MSG_FILE_COPY_ERROR:SupVer.inf
  expect_files rolled_back 1
  expect_read_only SupVer.inf
  expect_registry_untouched
  expect_services restarted restarted untouched
  expect_restart not_requested
}

# A read-only backup left by an earlier run makes its row fail; it is removed,
# so the next run gets past it.
scenario_stale_read_only_backup() {
  arrange 0x09000000 || return
  cp "$WORK_DIR/old-data/SupVer.inf" "$(install_folder)/SupVer.inf.bk0"
  make_read_only SupVer.inf.bk0
  act -- /S
  expect_exit 1
  expect_boxes OK:MSG_FILE_COPY_ERROR:SupVer.inf
  # The stale backup is the one file that goes.
  rm -f "$SCENARIO_DIR/before/files/SupVer.inf.bk0"
  expect_files rolled_back 1
  act -- /S
  expect_silent_success 1
}

# A backup name left as a hard link to a file elsewhere: the update does not
# write through it, and succeeds.
scenario_backup_name_is_a_hard_link() {
  arrange 0x09000000 || return
  local outside
  outside=$(unixpath 'C:\e2e\outside')
  rm -rf "$outside"
  mkdir -p "$outside"
  printf 'kept outside the install folder\r\n' >"$outside/kept.txt"
  cp "$outside/kept.txt" "$SCENARIO_DIR/kept-before.txt"
  ln "$outside/kept.txt" "$(install_folder)/DrvClass.ini.bk0" || {
    harness_fail "could not link DrvClass.ini.bk0"
    return
  }
  act -- /S
  cmp -s "$SCENARIO_DIR/kept-before.txt" "$outside/kept.txt" ||
    fail "the file linked as DrvClass.ini.bk0 changed: $(od -An -c "$outside/kept.txt" | head -n2 | tr -s ' \n' ' ')"
  rm -f "$SCENARIO_DIR/before/files/DrvClass.ini.bk0"
  expect_silent_success 1
}

# The second list cannot be extended: the first stays extended, the files are restored.
scenario_product_list_multi_sz_rolled_back() {
  arrange 0x09000000 || return
  reg_set "$FILTER_KEY\\ODRIX" Products REG_MULTI_SZ "hex:$(hex_of "$OLD_LIST_ODRIX")0000" || return
  act -- /S
  expect_exit 1
  expect_boxes OK:MSG_REGISTRY_ERROR
  expect_files rolled_back 1
  expect_product_list ROVE "$UPDATED_LIST_ROVE"
  expect_product_list ODRIX unchanged
  expect_services restarted restarted untouched
  expect_restart not_requested
}

# The same with /NORESTART: the services run again, and of the run only the
# first list's write is left in the registry, no record and no record key.
scenario_product_list_multi_sz_rolled_back_no_restart() {
  arrange 0x09000000 || return
  reg_set "$FILTER_KEY\\ODRIX" Products REG_MULTI_SZ "hex:$(hex_of "$OLD_LIST_ODRIX")0000" || return
  act -- /S /NORESTART
  expect_exit 1
  expect_files rolled_back 1
  expect_product_list ROVE "$UPDATED_LIST_ROVE"
  expect_product_list ODRIX unchanged
  expect_no_record
  expect_services restarted restarted untouched
}

# ---- the end of the run ---------------------------------------------------------------

# Windows refuses the restart: the update stands, the services stay stopped.
scenario_restart_refused() {
  arrange 0x09000000 || return
  act --refuse-restart --answers OK,OK
  expect_exit 0
  expect_boxes OKCANCEL:MSG_CONFIRM_ADD_DRIVE OKCANCEL:MSG_DONE_REBOOT_PROMPT OK:MSG_REBOOT_FAILED
  expect_files deployed 1
  expect_lists_updated
  expect_restart requested
  expect_services stopped stopped untouched
  arrange 0x09000000 || return
  act --refuse-restart -- /S
  expect_exit 0
  expect_boxes
  expect_files deployed 1
  expect_restart requested
  expect_services stopped stopped untouched
}

# ---- language ------------------------------------------------------------------------------

scenario_japanese_texts() {
  arrange 0x09000000 || return
  act --japanese --answers OK,Cancel
  expect_exit 0
  expect_boxes OKCANCEL:MSG_CONFIRM_ADD_DRIVE OKCANCEL:MSG_DONE_REBOOT_PROMPT
  expect_files deployed 1
  expect_services restarted restarted untouched
}

# The first row fails: nothing was deployed before it, so nothing changes.
scenario_japanese_file_copy_error() {
  arrange 0x08000000 || return
  make_read_only DrvClass.ini
  act --japanese -- /S
  expect_exit 1
  expect_boxes OK:MSG_FILE_COPY_ERROR:DrvClass.ini
  expect_files untouched
  expect_registry_untouched
}

scenario_english_for_other_languages() {
  arrange 0x09000000 || return
  act --language de_DE.UTF-8 --answers Cancel
  expect_exit 0
  expect_boxes OKCANCEL:MSG_CONFIRM_ADD_DRIVE
  act --language zh_CN.UTF-8 --answers Cancel
  expect_exit 0
  expect_boxes OKCANCEL:MSG_CONFIRM_ADD_DRIVE
  expect_nothing_changed
}

# A Japanese user on the English code page: the boxes are Unicode, the texts
# read as Japanese.
scenario_japanese_on_code_page_1252_cancel() {
  need_locales ja_JP en_US || return
  arrange 0x09000000 || return
  act --japanese-on-1252 --answers Cancel
  expect_exit 0
  expect_boxes --wide OKCANCEL:MSG_CONFIRM_ADD_DRIVE
  expect_nothing_changed
}

scenario_japanese_on_code_page_1252_file_copy_error() {
  need_locales ja_JP en_US || return
  arrange 0x08000000 || return
  make_read_only DrvClass.ini
  act --japanese-on-1252 -- /S
  expect_exit 1
  expect_boxes --wide OK:MSG_FILE_COPY_ERROR:DrvClass.ini
  expect_files untouched
  expect_registry_untouched
}

# ---- product lists ----------------------------------------------------------------------------

# The update in place: nothing touched, the services as they were (after the update: restarted).
expect_left_alone() { # exit code, services as for expect_services (one word for Control and Copy), boxes
  expect_exit "$1"
  expect_boxes "${@:3}"
  expect_files untouched
  expect_registry_untouched
  expect_services "$2" "$2" untouched
  expect_restart not_requested
}

# The keys below the vendor's, as reg.exe lists them.
vendor_keys() { # output file
  wine_in reg.exe query 'HKLM\SOFTWARE\ODRIX' /reg:64 >"$1.raw" 2>&1
  tr -d '\r' <"$1.raw" >"$1"
}

# The README's check of a restart owed, as a fleet tool runs it: its exit code and what it prints.
query_restart_owed() { # output file
  wine_in reg.exe query "$BOOT_KEY" /v "Restart owed" /reg:64 >"$1" 2>&1
}

# A second run on the updated PC touches nothing: 3010 while the restart is owed, 0 once Windows
# has started again (Wine's restart: a new server, volatile keys gone), and an interactive run says so.
scenario_second_update_over_updated_folder() {
  arrange 0x09000000 || return
  act -- /S /NORESTART
  expect_updated_for_the_caller restarted restarted untouched
  query_restart_owed "$SCENARIO_DIR/reg-query-updated.txt" || fail "reg query finds no restart owed after the update"
  local log='C:\e2e\logs\second-run.log'
  mkdir -p "$(unixpath 'C:\e2e\logs')"
  rm -f "$(unixpath "$log")"
  act -- /S /NORESTART "/LOG=$log"
  expect_left_alone 3010 restarted
  restart_windows
  query_restart_owed "$SCENARIO_DIR/reg-query-restarted.txt" && fail "reg query finds a restart owed after the restart"
  act -- /S /NORESTART "/LOG=$log"
  expect_left_alone 0 untouched
  expect_key absent boot_key "the record of the start of Windows"
  expect_key absent record_key "the record's key"
  act --answers OK
  expect_left_alone 0 untouched OK:MSG_ALREADY_ADDED
  grep -q 'the restart is still owed' "$(unixpath "$log")" && grep -q 'no restart is owed' "$(unixpath "$log")" ||
    fail "log $log: the restart owed and then not owed are not both told"
}

# A missing vendor key is created with the id alone; an incomplete last slot is dropped.
scenario_vendor_key_missing_and_partial_slot() {
  arrange 0x09000000 || return
  reg_delete_key "$FILTER_KEY\\ROVE" || return
  reg_set "$FILTER_KEY\\ODRIX" Products REG_SZ "text:${OLD_LIST_ODRIX}ABCD" || return
  act -- /S
  expect_exit 0
  expect_boxes
  expect_key present ROVE_key "ROVE vendor key"
  expect_product_list ROVE "$PRODUCT_ID"
  expect_product_list ODRIX "$UPDATED_LIST_ODRIX"
  expect_list_writes ${#PRODUCT_ID} ${#UPDATED_LIST_ODRIX}
}

# An id already in a whole slot, in any letter case, leaves the list as it is.
scenario_lists_holding_the_id() {
  arrange 0x09000000 || return
  reg_set "$FILTER_KEY\\ROVE" Products REG_SZ "text:${OLD_LIST_ODRIX}xvt-7q2rn  kr550" || return
  reg_set "$FILTER_KEY\\ODRIX" Products REG_SZ "text:${PRODUCT_ID}WXYZ" || return
  act -- /S
  expect_exit 0
  expect_boxes
  expect_product_list ROVE unchanged
  expect_product_list ODRIX unchanged
  expect_list_writes
  expect_files deployed 1
}

# Without the filter driver's key there is nothing to register: the update succeeds.
scenario_filter_key_missing() {
  arrange 0x08000000 || return
  reg_delete_key "$FILTER_KEY" || return
  act -- /S
  expect_exit 0
  expect_boxes
  expect_files deployed 0
  expect_key absent filter_key "Filter key"
  expect_key absent ROVE_key "ROVE vendor key"
  expect_key absent ODRIX_key "ODRIX vendor key"
  expect_list_writes
}

# ---- services ----------------------------------------------------------------------------------

# Services that take seconds to stop and to start are waited for.
scenario_slow_services() {
  arrange 0x0A000000 slowstop:running slowstart:running normal:running || return
  act --answers OK,Cancel
  expect_exit 0
  expect_boxes OKCANCEL:MSG_CONFIRM_ADD_DRIVE OKCANCEL:MSG_DONE_REBOOT_PROMPT
  expect_files deployed 1
  expect_services restarted restarted restarted
}

# A service stuck in STOP_PENDING ends the run after its timeout, with the box even
# when silent; later services are not touched, nothing is deployed.
scenario_service_does_not_stop() {
  arrange 0x0A000000 normal:running stuck:running normal:running || return
  act -- /S
  expect_exit 1
  expect_boxes "OK:MSG_SERVICE_ERROR:${SERVICE_NAMES[1]}"
  expect_files untouched
  expect_registry_untouched
  expect_services restarted STOP_PENDING:stop untouched
  expect_restart not_requested
}

scenario_service_does_not_restart() {
  arrange 0x0A000000 normal:running normal:running nostart:running || return
  act --answers OK,Cancel
  expect_exit 1
  expect_boxes OKCANCEL:MSG_CONFIRM_ADD_DRIVE OKCANCEL:MSG_DONE_REBOOT_PROMPT "OK:MSG_SERVICE_START_ERROR:${SERVICE_NAMES[2]}"
  expect_files deployed 1
  expect_services restarted restarted "STOPPED:stop stopped start refused"
}

# ---- a full disk, a run cut off, and the run that follows ------------------------------------

# Leaves the install folder's drive with room for the rows before <row> and
# <row>'s backup, one block short of <row>'s payload. A deployed row takes its
# payload's blocks (its backup holds what the old file held), and writing a
# row's payload first gives back the blocks of its old content.
fill_to_fail_at() { # row class
  local -n rows=FILE_ROWS_$P
  local name size blocks=0
  for name in "${rows[@]}"; do
    size=$(stat -c %s "$PAYLOAD_DIR/class$2/$name")
    blocks=$((blocks + (size + SMALL_DRIVE_BLOCK - 1) / SMALL_DRIVE_BLOCK))
    [[ $name == "$1" ]] && break
  done
  fill_drive "${INSTALL_DIR_WIN[$P]}" $((blocks - 1))
}

# The install folder on a small drive of its own. Wine on Linux takes space a
# 4 KiB page at a time: the 2 KiB payload of the second row gets nothing
# (WriteFile fails with ERROR_DISK_FULL after the target was truncated), the
# 5 KiB one of the last row stops after 4096 bytes (WriteFile succeeds with
# fewer bytes written). Either way every file comes back and no backup stays.
scenario_disk_full() {
  mount_small_drive D 512 || return
  # shellcheck disable=SC2004 # the key of an associative array
  INSTALL_DIR_WIN[$P]='D:\Carvella Maker'
  arrange 0x09000000 || return
  local failure row
  for failure in DrvClass64.ini:untouched SupVer.inf:rolled_back; do
    row=${failure%%:*}
    fill_to_fail_at "$row" 1 || return
    act -- /S
    expect_exit 1
    expect_boxes "OK:MSG_FILE_COPY_ERROR:$row"
    expect_files "${failure#*:}" 1
    expect_registry_untouched
    expect_restart not_requested
  done
  # An old DrvClass.ini of 12 KiB (direct blocks only) that its payload made
  # room for: when the last row fails, it goes back by rename, which needs no
  # room, whole; a retry on the drive that is still full fails the same way
  # and loses nothing either. Once space is freed, the next run succeeds.
  python3 -c 'import sys; sys.stdout.buffer.write(b"\xff\xfe" + ("OLD=LARGE\r\n" * 600).encode("utf-16-le")[:12286])' \
    >"$(install_folder)/DrvClass.ini"
  fill_to_fail_at SupVer.inf 1 || return
  local attempt
  for attempt in first retry; do
    act -- /S
    expect_exit 1
    expect_boxes OK:MSG_FILE_COPY_ERROR:SupVer.inf
    expect_files rolled_back 1
  done
  free_drive "${INSTALL_DIR_WIN[$P]}"
  act -- /S
  expect_silent_success 1
}

# Cut off after the stop request to a slow service, before any file is
# written: nothing changed, and the next run does the whole update.
scenario_cut_off_waiting_for_a_service() {
  arrange 0x09000000 slowstop:running normal:running normal:running || return
  local controlLog="$SERVICE_LOGS_WIN\\${SERVICE_NAMES[0]}.log" waited=0
  act --end-when "$controlLog" -- /S
  expect_exit ended
  # The service finishes stopping on its own.
  until grep -q stopped "$(unixpath "$controlLog")"; do
    ((waited++ < 100)) || {
      fail "${SERVICE_NAMES[0]} did not finish stopping"
      return
    }
    sleep 0.1
  done
  snapshot "$SCENARIO_DIR/after"
  expect_files untouched
  expect_registry_untouched
  expect_services stopped untouched untouched
  vendor_keys "$SCENARIO_DIR/vendor-keys-after-the-cut.txt"
  # A restart starts the service as it is set up and leaves nothing of the run.
  restart_windows
  vendor_keys "$SCENARIO_DIR/vendor-keys-after-the-restart.txt"
  [[ $(grep -c '^HKEY_LOCAL_MACHINE\\SOFTWARE\\ODRIX\\' "$SCENARIO_DIR/vendor-keys-after-the-restart.txt") == 1 ]] &&
    grep -qx 'HKEY_LOCAL_MACHINE\\SOFTWARE\\ODRIX\\Carvella Maker' "$SCENARIO_DIR/vendor-keys-after-the-restart.txt" ||
    fail "after the restart HKLM\\SOFTWARE\\ODRIX holds more than the application's key: $(tr '\r\n' '  ' <"$SCENARIO_DIR/vendor-keys-after-the-restart.txt")"
  act -- /S
  expect_silent_success 1
  expect_services stopped stopped untouched
}

# What a run cut off while writing the second row leaves: the services
# stopped, the first row rewritten beside its backup, the second cut short
# beside its backup, and the record that says so. A retry that fails (the
# ODRIX list cannot take the id) puts the old content of every row back from
# those backups, whatever this run found in place, and leaves no backup and
# no record; the next run does the whole update.
scenario_cut_off_during_deployment() {
  arrange 0x09000000 normal:stopped normal:stopped normal:running || return
  local folder name
  folder=$(install_folder)
  mv "$folder/DrvClass.ini" "$folder/DrvClass.ini.bk0"
  cp "$PAYLOAD_DIR/class1/DrvClass.ini" "$folder/"
  mv "$folder/DrvClass64.ini" "$folder/DrvClass64.ini.bk0"
  head -c 1000 "$PAYLOAD_DIR/class1/DrvClass64.ini" >"$folder/DrvClass64.ini"
  reg_set "$RECORD_KEY" "$RECORD_VALUE" REG_SZ \
    "text:${INSTALL_DIR_WIN[$P]}|DrvClass.ini:backup|DrvClass64.ini:backup" || return
  reg_set "$FILTER_KEY\\ODRIX" Products REG_MULTI_SZ "hex:$(hex_of "$OLD_LIST_ODRIX")0000" || return
  act -- /S "/LOG=$(winpath "$SCENARIO_DIR/retry.log")"
  expect_exit 1
  expect_boxes OK:MSG_REGISTRY_ERROR
  grep -q "DrvClass64.ini: its old content is in its backup, as recorded by a run that did not end" \
    "$SCENARIO_DIR/retry.log" || fail "the log does not say that the retry took over the cut-off run"
  for name in "${OLD_DATA_FILES[@]}"; do
    cmp -s "$WORK_DIR/old-data/$name" "$SCENARIO_DIR/after/files/$name" || fail "$name does not hold its old content"
  done
  compgen -G "$SCENARIO_DIR/after/files/*.bk0*" >/dev/null && fail "backups left: $(cd "$SCENARIO_DIR/after/files" && echo ./*.bk0*)"
  expect_no_record
  reg_set "$FILTER_KEY\\ODRIX" Products REG_SZ "text:$OLD_LIST_ODRIX" || return
  act -- /S
  expect_exit 0
  expect_boxes
  expect_files deployed 1
  expect_no_record
  # The failed run's write of the ROVE list stays; only the ODRIX list is left to write.
  expect_product_list ROVE "$UPDATED_LIST_ROVE"
  expect_product_list ODRIX "$UPDATED_LIST_ODRIX"
  expect_list_writes ${#UPDATED_LIST_ODRIX}
  expect_restart requested
  expect_services STOPPED: STOPPED: untouched
}

# ---- what the caller chooses: the restart, a log, no one to see a box ----------------------

# Updated and left to the caller's restart, with no box; the services as for expect_services.
expect_updated_for_the_caller() {
  expect_exit 3010
  expect_boxes
  expect_files deployed 1
  expect_lists_updated
  expect_restart not_requested
  expect_services "$@"
}

# The restart is the caller's: the stopped services run again on every ending. The application
# open: 1618 before a service is touched, a later try can succeed. 10.00 without its Monitor service: updated, 3010.
scenario_silent_update_no_restart() {
  local logs='C:\e2e\logs'
  mkdir -p "$(unixpath "$logs")"
  rm -f "$(unixpath "$logs")"/{success,no-restart-application-running}.log
  arrange 0x09000000 || return
  act -- /S /NORESTART "/LOG=$logs\success.log"
  expect_updated_for_the_caller restarted restarted untouched

  arrange 0x09000000 || return
  start_application_as CVMaker.exe || return
  act -- /S /NORESTART "/LOG=$logs\no-restart-application-running.log"
  expect_exit 1618
  expect_boxes
  expect_files untouched
  expect_registry_untouched
  expect_restart not_requested
  expect_services untouched untouched untouched

  arrange 0x0A000000 normal:running normal:running normal:stopped || return
  remove_service "${SERVICE_NAMES[2]}" || return
  act -- /S /NORESTART
  expect_updated_for_the_caller restarted restarted NOSERVICE:
}

# Two runs append to one log named with a blank in it; the second updates
# again a folder whose SupVer.inf was edited since.
scenario_run_log_of_two_updates() {
  arrange 0x09000000 || return
  local logFile='C:\e2e\logs\update log.txt'
  local unixLog
  unixLog=$(unixpath "$logFile")
  mkdir -p "${unixLog%/*}"
  rm -f "$unixLog"
  local switch="/LOG=\"$logFile\"" run
  for run in 1 2; do
    [[ $run == 1 ]] || echo edited >"$(install_folder)/SupVer.inf"
    act -- /S "$switch"
    expect_exit 0
    expect_files deployed 1
  done
  expect_run_log "$unixLog" 2 "/S $switch" "file DrvClass.ini: written" "file SupVer.inf: written" \
    "exit code 0"
}

# The whole switch in quotes, as PowerShell's Start-Process writes it: the C
# runtime's quotes, and the log is written to the file inside them.
scenario_log_whole_quoted() {
  arrange 0x09000000 || return
  local logFile='C:\Log Folder\whole quoted.log'
  mkdir -p "$(unixpath 'C:\Log Folder')"
  rm -f "$(unixpath "$logFile")"
  act -- /S "\"/LOG=$logFile\""
  expect_silent_success 1
  expect_run_log "$(unixpath "$logFile")" 1 "/S \"/LOG=$logFile\"" "file SupVer.inf: written"
  # A variable that no shell expanded: the updater does.
  local expanded
  expanded=$(unixpath 'C:\windows\temp\carvella-expanded.log')
  rm -f "$expanded"
  act -- /S /NORESTART '/LOG=%SystemRoot%\Temp\carvella-expanded.log'
  expect_exit 3010
  grep -q 'exit code 3010' "$expanded" || fail "no log in $expanded"
}

# A log asked for that cannot be opened: 1622 before anything changes, and a
# box where the run is interactive.
scenario_log_cannot_be_opened() {
  arrange 0x09000000 || return
  act --answers OK -- '/LOG=C:\NoSuchDir\x.log'
  expect_exit 1622
  expect_boxes OK:MSG_LOG_ERROR
  expect_nothing_changed
  act -- /S /NORESTART '/LOG=%SystemRoot%\NoSuchDir\x.log'
  expect_exit 1622
  expect_boxes
  expect_nothing_changed
}

# A window station nobody sees: the copy error box is not shown, the run ends
# by itself and rolls back.
scenario_hidden_station_copy_error() {
  arrange 0x09000000 || return
  make_read_only SupVer.inf
  act --hidden-station --timeout 40 -- /S
  echo "time from start to exit: $(elapsed_ms) ms"
  expect_exit 1
  expect_boxes
  expect_files rolled_back 1
  expect_read_only SupVer.inf
  expect_registry_untouched
  expect_services restarted restarted untouched
  expect_restart not_requested
}

# Without a switch the run would ask: in a hidden station it asks nothing.
scenario_hidden_station_interactive_is_silent() {
  arrange 0x09000000 || return
  act --hidden-station --timeout 40
  expect_silent_success 1
}

# ---- 32-bit Windows: three rows, DrvClass64.ini never touched ------------------------------

scenario_silent_update_class0_32bit() {
  arrange 0x07000000 || return
  act -- /S
  expect_silent_success 0
}

scenario_silent_update_class1_32bit() {
  arrange 0x0A0000FF || return
  act -- /S
  expect_silent_success 1
}

scenario_declined_restart_32bit() {
  arrange 0x09000000 || return
  act --answers OK,Cancel
  expect_declined_restart restarted restarted untouched
}

scenario_application_running_32bit() {
  arrange 0x0A000000 || return
  start_application_as CVMaker.exe || return
  act --answers OK
  expect_stopped_by_running_application untouched untouched untouched
}

scenario_read_only_first_row_32bit() {
  arrange 0x07000000 || return
  make_read_only DrvClass.ini
  act --answers OK
  expect_exit 1
  expect_boxes OKCANCEL:MSG_CONFIRM_ADD_DRIVE OK:MSG_FILE_COPY_ERROR:DrvClass.ini
  expect_files untouched
  expect_read_only DrvClass.ini
  expect_registry_untouched
  expect_services restarted restarted untouched
}

# The first list cannot be extended: the second is never tried.
scenario_registry_error_first_row_32bit() {
  arrange 0x09000000 || return
  reg_set "$FILTER_KEY\\ROVE" Products REG_DWORD dword:16 || return
  act -- /S
  expect_exit 1
  expect_boxes OK:MSG_REGISTRY_ERROR
  expect_files rolled_back 1
  expect_product_list ROVE unchanged
  expect_product_list ODRIX unchanged
  expect_list_writes
  expect_services restarted restarted untouched
}
