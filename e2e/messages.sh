# shellcheck shell=bash
# The texts of the updater's message boxes, as the pilot records them: UTF-8,
# a line feed written as \n. %s stands for the file name of a failed row or
# the name of a failed service.
# Each slot is given in English, then in Japanese, so neither catalogue can lack one.
declare -gA MESSAGE_EN=() MESSAGE_JA=()
# shellcheck disable=SC2034 # the catalogues are read through a name reference (message_text)
define_message() { # slot English Japanese
  MESSAGE_EN[$1]=$2
  MESSAGE_JA[$1]=$3
}
define_message MSG_ALREADY_RUNNING 'ODRIX Carvella Maker updater is already executing.' \
  'すでに「ODRIX Carvella Maker Updater」が実行されています。'
define_message MSG_CONFIRM_ADD_DRIVE 'Do you want to add the drive that ODRIX Carvella Maker supports?' \
  'ODRIX Carvella Maker がサポートしているドライブを追加します。'
define_message MSG_NOT_INSTALLED 'ODRIX Carvella Maker Ver.7.xx/Ver.8.xx/Ver.9.xx/Ver.10.00 is not installed.\nUpdate has been canceled.' \
  'ODRIX Carvella Maker Ver.7.xx/Ver.8.xx/Ver.9.xx/Ver.10.00 がセットアップされていません。\nアップデートを終了します。'
define_message MSG_INSTALL_BROKEN 'ODRIX Carvella Maker is not installed correctly.\nUpdate has been canceled.' \
  'ODRIX Carvella Maker が正常にセットアップされていません。\nアップデートを終了します。'
define_message MSG_OS_TOO_OLD 'Windows 2000 SP4 or later is necessary to execute this updater.\nUpdate has been canceled.' \
  'このアップデートはWindows2000 SP4以降で実行が可能です。\nアップデートを終了します。'
define_message MSG_NEED_ADMIN 'Administrator privilege is necessary to execute this updater.\nUpdate has been canceled.' \
  'アップデートには管理者権限が必要です。\n管理者権限のあるユーザーで実行してください。\nアップデートを終了します。'
define_message MSG_FILE_COPY_ERROR 'File copy error. [%s]\nUpdate has been canceled.' \
  'ファイルの書き換えに失敗しました。[%s]\nアップデートを終了します。'
define_message MSG_FILE_ACCESS_ERROR 'File access error. [%s]\nUpdate has been canceled.' \
  'リソースファイルの書き換えに失敗しました。\nアップデートを終了します。'
define_message MSG_APP_RUNNING 'ODRIX Carvella Maker is running.\nPlease exit ODRIX Carvella Maker before executing this updater.\nUpdate has been canceled.' \
  'Carvella Maker が起動されています。\nアップデートを実行する前にODRIX Carvella Makerを終了してください。\nアップデートを終了します。'
define_message MSG_REGISTRY_ERROR 'Registry write error.\nUpdate has been canceled.' \
  'レジストリの書き換えに失敗しました。\nアップデートを終了します。'
define_message MSG_DONE_REBOOT_PROMPT 'Update has been finished correctly.\nRestart Windows to enable the ODRIX Carvella Maker.\nRestart Windows right now?' \
  'ODRIX Carvella Makerのアップデートが終了しました。\nODRIX Carvella Makerを使用するためにはWindowsの再起動が必要です。\n今すぐWindowsを再起動します。'
define_message MSG_DONE 'Update has been finished correctly.' \
  'ODRIX Carvella Makerのアップデートが終了しました。'
define_message MSG_REBOOT_FAILED 'Windows Reboot error.\nPlease reboot Windows by manual operation.' \
  'Windowsの再起動に失敗しました。\n手動で再起動してください。'
define_message MSG_SERVICE_ERROR 'Service Stop error. [%s]\nUpdate has been canceled.' \
  'サービスの停止に失敗しました。[%s]\nアップデートを終了します。'
define_message MSG_ALREADY_ADDED 'The drive has already been added.\nNothing has been changed.' \
  'ドライブはすでに追加されています。\n何も変更していません。'
define_message MSG_USAGE 'Usage: CarvellaMakerUpdater.exe [/S] [/NORESTART] [/SUPPRESSMSGBOXES] [/LOG | /LOG="file"]\n/S comes first. Nothing has been changed.' \
  '使い方: CarvellaMakerUpdater.exe [/S] [/NORESTART] [/SUPPRESSMSGBOXES] [/LOG | /LOG="file"]\n/S は最初に指定します。何も変更していません。'
define_message MSG_LOG_ERROR 'The log file cannot be written.\nUpdate has been canceled.' \
  'ログファイルに書き込めません。\nアップデートを終了します。'
define_message MSG_SERVICE_START_ERROR 'Service Start error. [%s]\nPlease restart Windows.' \
  'サービスの開始に失敗しました。[%s]\nWindowsを再起動してください。'
unset -f define_message
