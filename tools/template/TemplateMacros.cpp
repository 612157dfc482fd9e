#include "TemplateMacros.h"

namespace pendra::templatebook {

// The macros only write the result area of the sheet "集計": the exchanged
// columns of "GroupMaster" (A-C) and "KikiMaster" (A-D) are never touched.
// They run in a headless instance too: no End(xlUp), no Select; a sheet's
// keys are read in one Range.Value and walked in Basic.
std::string MacroSource() {
  return R"basic(Option VBASupport 1
Option Explicit

' 集計シートの結果欄 (B3:E4 と集計日時) を空にする。
Sub subResultClr()
    Dim ws As Object
    Set ws = ThisWorkbook.Worksheets("集計")
    ws.Range("B3:E4").ClearContents
    ws.Range("B6").ClearContents
End Sub

' GroupMaster と KikiMaster のデータ行数、キーの重複、終端 (A 列が空の行) より
' 下に残っている行を数えて集計シートに書き、集計日時を記録する。
Sub subResult()
    Dim ws As Object
    Set ws = ThisWorkbook.Worksheets("集計")
    CountSheet "GroupMaster", ws, 3
    CountSheet "KikiMaster", ws, 4
    ws.Range("B6").Value = Now
End Sub

' 一枚のシートを数える。数える作業は表計算の関数に任せる (Basic で 3 万行を
' 回すより桁違いに速い)。作業用のセル H1:H3 に式を置いて値を読み、消す。
'   データ行数: 2 行目から、A 列が空 (空のセルか長さ 0 の文字列) の最初の行の手前まで
'   重複キー: 出力はキーの昇順に並ぶので、隣り合う行どうしで数える
'   終端より下の行: 終端の次の行から下で A 列が空でない行
Private Sub CountSheet(sheetName As String, ws As Object, outRow As Integer)
    Dim keys As String
    Dim n As Long, dup As Long, below As Long
    keys = "'" & sheetName & "'!A2:A32767"
    ws.Range("H1").Formula = "=IFERROR(MATCH(0,INDEX(LEN(" & keys & "),0),0)-1,32766)"
    n = ws.Range("H1").Value
    dup = 0
    If n >= 2 Then
        ws.Range("H2").Formula = "=SUMPRODUCT(--('" & sheetName & "'!A3:A" & (n + 1) & _
                                 "='" & sheetName & "'!A2:A" & n & "))"
        dup = ws.Range("H2").Value
    End If
    below = 0
    If n + 3 <= 32767 Then
        ws.Range("H3").Formula = "=COUNTA('" & sheetName & "'!A" & (n + 3) & ":A32767)"
        below = ws.Range("H3").Value
    End If
    ws.Range("H1:H3").ClearContents
    ws.Cells(outRow, 2).Value = n
    ws.Cells(outRow, 3).Value = dup
    ws.Cells(outRow, 4).Value = below
    If dup = 0 And below = 0 Then
        ws.Cells(outRow, 5).Value = "OK"
    Else
        ws.Cells(outRow, 5).Value = "要確認"
    End If
End Sub
)basic";
}

}  // namespace pendra::templatebook
