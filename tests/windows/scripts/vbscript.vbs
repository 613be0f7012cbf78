' VBScript passes variables by reference (VT_BYREF | VT_VARIANT) and small literals as VT_I2;
' the control's dispatch takes them as any other caller's. Prints "N passed, N failed".
Option Explicit
Dim passed, failed, control, code, folder
passed = 0
failed = 0

Sub Check(name, actual, expected)
    If actual = expected Then
        passed = passed + 1
        WScript.Echo "ok - " & name
    Else
        failed = failed + 1
        WScript.Echo "FAIL - " & name & ": got " & actual & ", expected " & expected
    End If
End Sub

On Error Resume Next
Set control = CreateObject(WScript.Arguments(0))
If Err.Number <> 0 Then
    failed = failed + 1
    WScript.Echo "FAIL - CreateObject: " & Hex(Err.Number) & " " & Err.Description
Else
    code = 0
    Check "GetErrorString of a variable holding 0", control.GetErrorString(code), "Succeeded"
    code = -1
    Check "GetErrorString of a variable holding -1", control.GetErrorString(code), "Failed"
    Check "GetErrorString of a literal 0", control.GetErrorString(0), "Succeeded"
    folder = control.GetDataFolder()
    Check "RecordTimeOut of a variable", control.RecordTimeOut(code), 0
    Check "recStart of a variable path", control.recStart(folder & "\vb.wav"), -1
    Check "RecordFileName", control.RecordFileName(), "vb.wav"
    If Err.Number <> 0 Then
        failed = failed + 1
        WScript.Echo "FAIL - the script ended on an error: " & Hex(Err.Number) & " " & Err.Description
    End If
End If
WScript.Echo passed & " passed, " & failed & " failed"
If failed = 0 Then WScript.Quit 0 Else WScript.Quit 1
