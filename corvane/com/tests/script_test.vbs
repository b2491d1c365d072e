' What a script can do with the library: create it by its programmatic identifier, use the
' operations without records, and see a raised error as Err.Number. The script host reports
' no script errors, so every check prints PASS or FAIL and the last line gives the counts.
Option Explicit

Dim passed, failed
passed = 0
failed = 0

Sub Check(name, condition)
  If condition Then
    WScript.Echo "PASS " & name
    passed = passed + 1
  Else
    WScript.Echo "FAIL " & name
    failed = failed + 1
  End If
End Sub

Dim fso, folder, o, stream, result
Set fso = CreateObject("Scripting.FileSystemObject")
folder = fso.BuildPath(fso.GetSpecialFolder(2), fso.GetTempName())
fso.CreateFolder folder

Set o = CreateObject("Corvane.MailObjectModel")
Check "created by ProgID", IsObject(o)
Check "ErrorString starts empty", o.ErrorString = ""
o.ErrorString = "set by a script"
Check "ErrorString keeps what is put", o.ErrorString = "set by a script"

' IsRead looks at the fourth byte of an e-mail file.
Set stream = fso.CreateTextFile(folder & "\read.eml", True)
stream.Write "QEM" & Chr(1) & "rest"
stream.Close
Set stream = fso.CreateTextFile(folder & "\short.eml", True)
stream.Write "QEM"
stream.Close
Check "IsRead of a read e-mail", o.IsRead(folder & "\read.eml") = True
Check "IsRead of a short file", o.IsRead(folder & "\short.eml") = False

' A lesson imported from CSV, then exported (which writes nothing).
Set stream = fso.CreateTextFile(folder & "\lesson.csv", True)
stream.Write "1,Bob,Greeting,Hello there" & vbCrLf & "2,Ann,Reply,Thanks" & vbCrLf
stream.Close
result = o.ConvertCSV2Lesson(folder & "\lesson.csv", folder & "\lesson.lsn")
Check "ConvertCSV2Lesson answers True", result = True
Check "ConvertCSV2Lesson wrote the lesson", fso.FileExists(folder & "\lesson.lsn")
result = o.ConvertLesson2CSV(folder & "\lesson.lsn", folder & "\again.csv")
Check "ConvertLesson2CSV answers a Boolean", VarType(result) = vbBoolean

' Raised errors reach the script as Err.
On Error Resume Next
Err.Clear
o.OpenLesson folder & "\no such folder\x.lsn"
Check "OpenLesson error number", Err.Number = 51620
Check "OpenLesson error source", Err.Source = "OpenLesson"
Err.Clear
result = o.IsRead(folder & "\no such folder\x.eml")
Check "IsRead error is raised", Err.Number <> 0 And Err.Source = "Corvane.MailObjectModel"
Err.Clear
On Error GoTo 0
Check "ErrorString untouched by raised errors", o.ErrorString = "set by a script"

Set o = Nothing
fso.DeleteFolder folder, True
WScript.Echo "RESULT passed=" & passed & " failed=" & failed
