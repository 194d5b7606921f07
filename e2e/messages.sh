# shellcheck shell=bash
# The texts of the updater's message boxes, as the pilot records them: UTF-8,
# a line feed written as \n. %s stands for the file name of a failed row.
declare -gA MESSAGE_EN=(
  [MSG_ALREADY_RUNNING]='ODRIX Carvella Maker updater is already executing.'
  [MSG_CONFIRM_ADD_DRIVE]='Do you want to add the drive that ODRIX Carvella Maker supports?'
  [MSG_NOT_INSTALLED]='ODRIX Carvella Maker Ver.7.xx/Ver.8.xx/Ver.9.xx/Ver.10.00 is not installed.\nUpdate has been canceled.'
  [MSG_INSTALL_BROKEN]='ODRIX Carvella Maker is not installed correctly.\nUpdate has been canceled.'
  [MSG_OS_TOO_OLD]='Windows 2000 SP4 or later is necessary to execute this updater.\nUpdate has been canceled.'
  [MSG_NEED_ADMIN]='Administrator privilege is necessary to execute this updater.\nUpdate has been canceled.'
  [MSG_FILE_COPY_ERROR]='File copy error. [%s]\nUpdate has been canceled.'
  [MSG_FILE_ACCESS_ERROR]='File access error. [%s]\nUpdate has been canceled.'
  [MSG_APP_RUNNING]='ODRIX Carvella Maker is running.\nPlease exit ODRIX Carvella Maker before executing this updater.\nUpdate has been canceled.'
  [MSG_REGISTRY_ERROR]='Registry write error.\nUpdate has been canceled.'
  [MSG_DONE_REBOOT_PROMPT]='Update has been finished correctly.\nRestart Windows to enable the ODRIX Carvella Maker.\nRestart Windows right now?'
  [MSG_DONE]='Update has been finished correctly.'
  [MSG_REBOOT_FAILED]='Windows Reboot error.\nPlease reboot Windows by manual operation.'
  [MSG_SERVICE_ERROR]='Service Stop error. [ODRIX Carvella Control Service]\nUpdate has been canceled.'
)
declare -gA MESSAGE_JA=(
  [MSG_ALREADY_RUNNING]='すでに「ODRIX Carvella Maker Updater」が実行されています。'
  [MSG_CONFIRM_ADD_DRIVE]='ODRIX Carvella Maker がサポートしているドライブを追加します。'
  [MSG_NOT_INSTALLED]='ODRIX Carvella Maker Ver.7.xx/Ver.8.xx/Ver.9.xx/Ver.10.00 がセットアップされていません。\nアップデートを終了します。'
  [MSG_INSTALL_BROKEN]='ODRIX Carvella Maker が正常にセットアップされていません。\nアップデートを終了します。'
  [MSG_OS_TOO_OLD]='このアップデートはWindows2000 SP4以降で実行が可能です。\nアップデートを終了します。'
  [MSG_NEED_ADMIN]='アップデートには管理者権限が必要です。\n管理者権限のあるユーザーで実行してください。\nアップデートを終了します。'
  [MSG_FILE_COPY_ERROR]='ファイルの書き換えに失敗しました。[%s]\nアップデートを終了します。'
  [MSG_FILE_ACCESS_ERROR]='リソースファイルの書き換えに失敗しました。\nアップデートを終了します。'
  [MSG_APP_RUNNING]='Carvella Maker が起動されています。\nアップデートを実行する前にODRIX Carvella Makerを終了してください。\nアップデートを終了します。'
  [MSG_REGISTRY_ERROR]='レジストリの書き換えに失敗しました。\nアップデートを終了します。'
  [MSG_DONE_REBOOT_PROMPT]='ODRIX Carvella Makerのアップデートが終了しました。\nODRIX Carvella Makerを使用するためにはWindowsの再起動が必要です。\n今すぐWindowsを再起動します。'
  [MSG_DONE]='ODRIX Carvella Makerのアップデートが終了しました。'
  [MSG_REBOOT_FAILED]='Windowsの再起動に失敗しました。\n手動で再起動してください。'
  [MSG_SERVICE_ERROR]='サービスの停止に失敗しました。[ODRIX Carvella Control Service]\nアップデートを終了します。'
)
