// The texts of Update.exe's log records, as printf formats: one place for
// what the program writes and what UpdateReport reads back. Macros, so that
// WRITE_LOG(LOG_NO_SPACE, ...) keeps its format check and a reader can join
// them with other literals at compile time. Code page 932 once compiled.
// tests/tools/report/logtexts_test.py holds them against the program's sources:
// each is written there, and every record written there is here.
#pragma once

// ---- start-up (program/Update.cpp) ----
// The first record of every run.
#define LOG_START_BANNER "====================【開始】====================."
// Right after the banner, in a build that carries the sample payload.
#define LOG_SAMPLE_BUILD "サンプルペイロード版 ."
#define LOG_COMMAND_LINE "コマンドライン %s ."
#define LOG_UNKNOWN_ARGUMENT "不明な引数 %s ."
#define LOG_ANOTHER_RUNNING "他の更新が実行中のため終了."
// Right after the banner (and the sample build's record) of a run with
// /undo.
#define LOG_UNDO "元に戻す ."
// 0 not recognised, 1 server part, 2 client part.
#define LOG_MODE "動作モード %d ."
// The last record of every run that wrote the banner: its exit status.
#define LOG_EXIT_STATUS "終了コード %d ."

// ---- the update (procedure/General.cpp) ----
#define LOG_LEFTOVER_REMOVED "中断時の残り %s を削除."
#define LOG_PATH_TOO_LONG "パス生成失敗 %s ."
#define LOG_SHARE "TLX共有フォルダ %s ."
#define LOG_SERVER "サーバ %s ."
// A client whose settings name no share.
#define LOG_NO_SHARE "救済措置失敗."
// A server that names no share and cannot learn its own host name.
#define LOG_NO_HOST_NAME "サーバ救済措置失敗 : %s ."
#define LOG_SHARE_TOO_LONG "共有パス生成失敗 %s ."
#define LOG_BAD_SERVER_NAME "サーバ名不正 %s : 英数字と - . _ 以外は使えません ."
// A share value of patchjob.ini longer than the program reads, its key.
#define LOG_SETTING_TOO_LONG "設定値 [SUS] %s が長すぎます ."
// The check before the first change.
#define LOG_NO_SPACE "空き容量不足 %s : 必要 %lu KB, 空き %lu KB ."
#define LOG_CANNOT_UPDATE_FOLDER "更新不可 %s : フォルダです ."
#define LOG_CANNOT_UPDATE_UTF8 "更新不可 %s : UTF-8 の設定ファイルは書き換えられません ."
#define LOG_CANNOT_UPDATE_TEXT "更新不可 %s : 文字コードを判別できません ."
// The feature folder, with a character that a command file cannot carry.
#define LOG_CANNOT_UPDATE_COMMAND "更新不可 %s : ! や制御文字を含むフォルダはコマンドファイルに書けません ."
// The file and the system's text for its error, "<message> (<code>)".
#define LOG_CANNOT_UPDATE "更新不可 %s : %s ."
// The unpacker's result code; the payload without its marker adds the
// second record.
#define LOG_UNPACK_FAILED "展開に失敗 %d ."
#define LOG_PAYLOAD_NO_MARKER "ペイロードに %s がありません ."
// The payload written to the temporary folder.
#define LOG_PAYLOAD_FILE "テンポラリ %s 生成."
#define LOG_PAYLOAD_WRITTEN "出力結果 %d ."
#define LOG_PAYLOAD_FILE_FAILED "ファイル生成失敗 %s : %s ."
#define LOG_UNPACK_INTO "展開先フォルダ %s ."
// The file of the archive that the unpack failed on, with or without the
// system's text.
#define LOG_UNPACK_FILE_FAILED_BECAUSE "%s 展開失敗 : %s ."
#define LOG_UNPACK_FILE_FAILED "%s 展開失敗."
#define LOG_BACKUP "バックアップ %s ."
#define LOG_REWRITE "%s の書き換え."
#define LOG_OLD_VALUES "旧値 SUS_SHARE=%s TLX_SHARE=%s WU_CMD=%s ."
#define LOG_CREATE "%s の生成."
#define LOG_RENAME_FROM "旧 %s ."
#define LOG_RENAME_TO "新 %s ."
// After the failed copy's own record.
#define LOG_COPY_FAILED "ファイルコピー失敗."

// ---- the undo (procedure/Undo.cpp) ----
// No keep and no marker: never updated, or undone already.
#define LOG_NOTHING_TO_UNDO "元に戻す更新はありません ."
// The marker without a keep (its folder named): updated by a version that
// kept nothing.
#define LOG_NOTHING_KEPT "更新前のファイルが保存されていないため元に戻せません %s ."
// A file put back as it was, and a file the update added (or the keep
// folder) removed; written before the step.
#define LOG_RESTORE "復元 %s ."
#define LOG_REMOVE "削除 %s ."

// A step on a file that failed: the file, what failed (one of LOG_WHAT_*)
// and the system's text for the error, "<message> (<code>)".
#define LOG_FILE_FAILED "%s %s : %s ."
#define LOG_WHAT_REMOVE "削除失敗"
#define LOG_WHAT_WRITE "書き込み失敗"
#define LOG_WHAT_CREATE "生成失敗"
#define LOG_WHAT_COPY "コピー失敗"
#define LOG_WHAT_RENAME "名前変更失敗"
#define LOG_WHAT_RESTORE "復元失敗"
