// A page's session on the simulated card, from JScript under cscript: readers, connection,
// accounts, PIN, an inquiry, and the errors script sees for wrong member names and values.
//
// The expected card outputs are the Linux build's answers for the same card and inputs,
// obtained once with
//   build/dev/bin/ruzazuv-cli --pcsc simulated:sim/profiles/default.json \
//       --page-address https://ebank.ruzazuv.example/
// and the requests of this session (ConnectReader ... FiscCardInquiry, then get TAC, ICC,
// OptionData1).
var failures = 0;
function check(what, got, want) {
  if (got !== want) {
    WScript.Echo("FAIL " + what + ": got " + got + ", expected " + want);
    failures++;
  }
}
function errorOf(action) {
  try {
    action();
  } catch (e) {
    return e.number;
  }
  return 0;
}

var c = new ActiveXObject("RuzaZUV.Vorn");
check("SupportURL on the bank's page", c.SupportURL, "0");
check("ConnectReader", c.ConnectReader(), 0);
check("ListReaders", c.ListReaders(), 0);
check("iNoR", c.iNoR, 1);
check("caReader1", c.caReader1, "RuzaZUV Simulated Reader 0");
c.baReaderName = c.caReader1;
check("ConnectCard", c.ConnectCard(), 0);
check("baATR", c.baATR, "3B8C8131FE4552555A415A55564649534331EC");
check("FiscListAccounts", c.FiscListAccounts(), 0);
check("issueNo", c.issueNo, "0123");
check("account0", c.account0, "0081234567890101");
c.baBuf = "123456FFFFFFFFFF";
c.bPq = 16;
check("VerifyPIN", c.VerifyPIN(), 0);
check("VerifyPIN status", c.uiSW12, 36864);
c.FdChkCode = "12345678";
c.OptionData1 = "0011223344556677";
check("FiscCardInquiry", c.FiscCardInquiry(), 0);
check("inquiry status", c.uiSW12, 36864);
check("TAC", c.TAC, "38BD37539C8C7A50");
check("ICC", c.ICC, "IC000421");
check("OptionData1", c.OptionData1,
      "8A298EF3D43FF8317F8640BE22E75E4AA224E96FB751C60FC0C42E079C49C7D4");
check("names without regard to case", c.INOR, 1);

// Wrong names and values: "Object doesn't support this property or method" (0x800A01B6) and
// "Type mismatch" (0x800A000D). Wine's JScript reads an unknown property as undefined and
// passes the dispatch error of a refused put on unchanged (DISP_E_TYPEMISMATCH, 0x80020005).
var unknownRead;
var readError = errorOf(function () { unknownRead = c.NoSuchMember; });
check("unknown property", readError === -2146827850 || unknownRead === undefined, true);
check("unknown method", errorOf(function () { c.NoSuchMethod(); }), -2146827850);
var putError = errorOf(function () { c.iNoR = "many"; });
check("text into an integer", putError === -2146828275 || putError === -2147352571, true);
check("iNoR after the refused put", c.iNoR, 1);

c.iDisConnectType = 0;
check("DisConnectCard", c.DisConnectCard(), 0);
check("DisConnectReader", c.DisConnectReader(), 0);

WScript.Echo(failures === 0 ? "session passed" : "session failed");
WScript.Quit(failures === 0 ? 0 : 1);
