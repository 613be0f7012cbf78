// Test harness for JScript files run by Wine's (or Windows') cscript. scripts/test-windows.sh
// puts this file in front of each script. Wine's host exits 0 without a word on a script
// error and lacks WScript.Sleep and WScript.ConnectObject, so a script runs its body through
// Test.run: every check prints "ok - ..." or "FAIL - ...", an error that escapes the body is
// one more failure, and the last line is "N passed, N failed" before WScript.Quit(0 or 1).
//
//   Test.run(function (args) {          // args: the script's arguments, args(0) the ProgID
//       var control = new ActiveXObject(args(0));
//       Test.equal("GetErrorString(0)", control.GetErrorString(0), "Succeeded");
//       Test.raises("an unknown member", function () { control.NoSuch(); }, 0x800A01B6);
//   });
var Test = (function () {
    var passed = 0, failed = 0;

    function hex(number) {
        return "0x" + (number >>> 0).toString(16).toUpperCase();
    }

    // Wine's cscript faults writing non-ASCII text to a redirected output (an error's
    // description comes in the locale's language), so details are printed as ASCII.
    function ascii(text) {
        return String(text).replace(/[^\x20-\x7E]/g, "?");
    }

    function report(ok, name, detail) {
        if (ok) {
            passed++;
            WScript.Echo("ok - " + ascii(name));
        } else {
            failed++;
            WScript.Echo("FAIL - " + ascii(name) + (detail === undefined ? "" : ": " + ascii(detail)));
        }
    }

    return {
        hex: hex,
        ok: function (name, condition, detail) {
            report(!!condition, name, detail);
        },
        equal: function (name, actual, expected) {
            report(actual === expected, name, "got " + actual + " (" + typeof actual +
                   "), expected " + expected + " (" + typeof expected + ")");
        },
        // The body must raise an error; with a number, that error (compared as unsigned).
        raises: function (name, body, number) {
            try {
                body();
            } catch (e) {
                var ok = number === undefined || (e.number >>> 0) === (number >>> 0);
                report(ok, name, "error " + hex(e.number) + " " + e.description);
                return;
            }
            report(false, name, "no error");
        },
        run: function (body) {
            try {
                body(WScript.Arguments);
            } catch (e) {
                report(false, "the script ended on an error", hex(e.number) + " " + e.description);
            }
            WScript.Echo(passed + " passed, " + failed + " failed");
            WScript.Quit(failed === 0 ? 0 : 1);
        }
    };
})();
