' A page's session on the simulated card, from VBScript under cscript: readers, connection,
' accounts, PIN, an inquiry, and the errors script sees for wrong member names and values.
'
' The expected card outputs are the Linux build's answers for the same card and inputs (see
' session.js for how they were obtained).
Option Explicit
Dim failures, c, x
failures = 0
Sub Check(what, got, want)
  If got <> want Then
    WScript.Echo "FAIL " & what & ": got " & got & ", expected " & want
    failures = failures + 1
  End If
End Sub

Set c = CreateObject("RuzaZUV.Vorn")
Check "SupportURL on the bank's page", c.SupportURL, "0"
Check "ConnectReader", c.ConnectReader(), 0
Check "ListReaders", c.ListReaders(), 0
Check "iNoR", c.iNoR, 1
Check "caReader1", c.caReader1, "RuzaZUV Simulated Reader 0"
c.baReaderName = c.caReader1
Check "ConnectCard", c.ConnectCard(), 0
Check "FiscListAccounts", c.FiscListAccounts(), 0
Check "account0", c.account0, "0081234567890101"
c.baBuf = "123456FFFFFFFFFF"
c.bPq = 16
Check "VerifyPIN", c.VerifyPIN(), 0
Check "VerifyPIN status", c.uiSW12, 36864
c.FdChkCode = "12345678"
c.OptionData1 = "0011223344556677"
Check "FiscCardInquiry", c.FiscCardInquiry(), 0
Check "inquiry status", c.uiSW12, 36864
Check "TAC", c.TAC, "38BD37539C8C7A50"
Check "OptionData1", c.OptionData1, _
      "8A298EF3D43FF8317F8640BE22E75E4AA224E96FB751C60FC0C42E079C49C7D4"
Check "names without regard to case", c.inor, 1

' Wrong names and values: "Object doesn't support this property or method" (438) and
' "Type mismatch" (13).
On Error Resume Next
x = c.NoSuchMember
Check "unknown property", Err.Number, 438
Err.Clear
c.NoSuchMethod
Check "unknown method", Err.Number, 438
Err.Clear
c.iNoR = "many"
Check "text into an integer", Err.Number, 13
Err.Clear
On Error GoTo 0
Check "iNoR after the refused put", c.iNoR, 1

c.iDisConnectType = 0
Check "DisConnectCard", c.DisConnectCard(), 0
Check "DisConnectReader", c.DisConnectReader(), 0

If failures = 0 Then
  WScript.Echo "session passed"
  WScript.Quit 0
End If
WScript.Echo "session failed"
WScript.Quit 1
