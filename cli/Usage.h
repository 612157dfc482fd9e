// The batch command's help text, in English and Japanese.
#pragma once

namespace pendra::cli {

inline constexpr const char* kUsage = R"(Usage: pendra COMMAND ARGUMENT [--base DIR] [--yes] [--office-memory MB] [--office-seconds S]
       pendra --help | --version

Runs the jobs of Pendra_Set without its window, on the same databases.
Pendra_Set のジョブをウィンドウなしで実行します。データベースは同じものを使います。

Commands / コマンド:
  output TARGET        Write GroupMaster and KikiMaster of OV_DataBase/Orvik.mdb
                       into a workbook made from Pendra_原紙.xls, run its macros
                       and save it as TARGET.
                       スケジュールマスターを TARGET のブック (.xls) に出力します。
  expand WORKBOOK      Replace both schedule tables with the rows of WORKBOOK's
                       sheets "GroupMaster" and "KikiMaster" (all or nothing).
                       WORKBOOK の内容で両テーブルを置き換えます (全部か無し)。
  import-csv FILE      Update or add M_TAG rows of VL_Database/Velmora.mdb from
                       the master CSV FILE (code page 932).
                       マスター CSV (Shift_JIS) で M_TAG を更新・追加します。

Options / オプション:
  --base DIR           The base folder holding OV_DataBase, VL_Database and the
                       template (default: the folder of this program).
                       データベースと原紙のあるフォルダ (既定: このプログラムのフォルダ)。
  --yes                Answer Yes to the confirmation and to replacing an
                       existing TARGET. Without it the question is asked on the
                       terminal, and refused when there is none.
                       確認に「はい」と答えます。省略時は端末で尋ね、端末がなければ中止します。
  --office-memory MB   The most memory the spreadsheet application may hold
                       (default 2048, or PENDRA_OFFICE_MEMORY_MB).
                       スプレッドシート アプリケーションのメモリ上限 (MB)。
  --office-seconds S   The longest a job may use the spreadsheet application
                       (default 120, or PENDRA_OFFICE_SECONDS); past either
                       limit it is ended and the job fails, changing nothing.
                       ジョブがスプレッドシート アプリケーションを使える時間の上限 (秒)。
  --help               Show this help. / このヘルプを表示します。
  --version            Show the version. / バージョンを表示します。

Exit status / 終了コード: 0 completed / 完了, 1 refused or failed / 中止・エラー,
2 usage error / 使い方の誤り.
Messages are the tool's own Japanese texts; errors go to standard error.
)";

}  // namespace pendra::cli
