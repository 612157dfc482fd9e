#include "TemplateMacros.h"

namespace pendra::templatebook {

// The macros only write the result area of the sheet "集計": the exchanged
// columns of "GroupMaster" (A-C) and "KikiMaster" (A-D) are never touched.
// They run in a headless instance too: no End(xlUp), no Select; a sheet's
// keys are read in one Range.Value and walked in Basic.
std::string MacroSource() {
  return R"(Option VBASupport 1
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

' A 列が空 (空のセルか長さ 0 の文字列) か。
Private Function IsEndKey(v As Variant) As Boolean
    IsEndKey = False
    If IsEmpty(v) Then
        IsEndKey = True
    ElseIf VarType(v) = vbString Then
        If Len(v) = 0 Then IsEndKey = True
    End If
End Function

Private Sub CountSheet(sheetName As String, ws As Object, outRow As Integer)
    Dim keys As Variant
    Dim seen As New Collection
    Dim n As Long, i As Long, dup As Long, below As Long
    keys = ThisWorkbook.Worksheets(sheetName).Range("A2:A32767").Value
    n = 0
    Do While n < 32766
        If IsEndKey(keys(n + 1, 1)) Then Exit Do
        n = n + 1
    Loop
    dup = 0
    For i = 1 To n
        On Error Resume Next
        Err.Clear
        seen.Add i, "k" & CStr(keys(i, 1))
        If Err.Number <> 0 Then dup = dup + 1
        On Error GoTo 0
    Next i
    below = 0
    For i = n + 2 To 32766
        If Not IsEndKey(keys(i, 1)) Then below = below + 1
    Next i
    ws.Cells(outRow, 2).Value = n
    ws.Cells(outRow, 3).Value = dup
    ws.Cells(outRow, 4).Value = below
    If dup = 0 And below = 0 Then
        ws.Cells(outRow, 5).Value = "OK"
    Else
        ws.Cells(outRow, 5).Value = "要確認"
    End If
End Sub
)";
}

}  // namespace pendra::templatebook
