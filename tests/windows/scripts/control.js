// What a script host can do with the control without a site: cscript creates it by its
// ProgID and never activates it, so there is no window and no recorder manager.
Test.run(function (args) {
    var control = new ActiveXObject(args(0));
    var files = new ActiveXObject("Scripting.FileSystemObject");

    Test.equal("GetErrorString(0)", control.GetErrorString(0), "Succeeded");
    Test.equal("GetErrorString(-1)", control.GetErrorString(-1), "Failed");
    Test.equal("GetErrorString(1)", control.GetErrorString(1), "Failed");
    // Numbers are coerced as automation coerces them: 2.7 rounds to 3, a digit string reads.
    Test.equal("GetErrorString(2.7)", control.GetErrorString(2.7), "Failed");
    Test.equal("GetErrorString(0.2)", control.GetErrorString(0.2), "Succeeded");
    Test.equal("GetErrorString(\"0\")", control.GetErrorString("0"), "Succeeded");
    Test.raises("GetErrorString(\"abc\") is a type mismatch", function () {
        control.GetErrorString("abc");
    }, 0x80020005);
    Test.raises("GetErrorString() lacks its argument", function () {
        control.GetErrorString();
    }, 0x8002000E);

    var folder = control.GetDataFolder();
    var tail = "\\AppData\\LocalLow\\quorvex";
    Test.equal("GetDataFolder ends in " + tail,
               folder.substring(folder.length - tail.length), tail);
    Test.ok("the data folder exists after GetDataFolder", files.FolderExists(folder), folder);
    Test.equal("TempFolderPass is empty before a window was made", control.TempFolderPass, "");

    // Without a window there is no manager: the recording methods answer -1; recStart keeps
    // its path first all the same.
    var take = folder + "\\take.wav";
    Test.equal("recStart without a site", control.recStart(take), -1);
    Test.equal("RecordTotalFileName after recStart", control.RecordTotalFileName(), take);
    Test.equal("RecordFileName after recStart", control.RecordFileName(), "take.wav");
    Test.equal("recStop without a site", control.recStop(), -1);
    Test.equal("RecPause without a site", control.RecPause(), -1);
    Test.equal("playStart without a site", control.playStart(take), -1);
    // JScript looks names up with locale 0, so the control's own table answers: entry 18 is
    // "PlayStop" there ("PlayStopOrg" in the type library).
    Test.equal("PlayStop, the own table's name of entry 18", control.PlayStop(), 0);

    // A path outside the data folder is refused, but recStart has stored it.
    var outside = files.GetSpecialFolder(2).Path + "\\outside.wav";
    Test.equal("recStart outside the data folder", control.recStart(outside), -1);
    Test.equal("RecordTotalFileName keeps the refused path", control.RecordTotalFileName(),
               outside);
    Test.equal("a path ending in a backslash has no file name",
               (control.recStart(folder + "\\sub\\"), control.RecordFileName()), "");

    Test.equal("SetPcmFormat", control.SetPcmFormat(""), 0);
    Test.equal("RecordTimeOut", control.RecordTimeOut(5), 0);

    // Conversion without the audio writer fails and writes nothing; so does a missing source.
    var source = folder + "\\source.wav", dest = folder + "\\dest.wma";
    var wav = files.CreateTextFile(source, true);
    wav.Write("RIFF");
    wav.Close();
    Test.equal("ConvertWavToWMA of a broken WAV", control.ConvertWavToWMA(source, dest), -1);
    Test.ok("no destination was made", !files.FileExists(dest));
    Test.equal("DeleteAudioFile in the data folder", control.DeleteAudioFile(source), 0);
    Test.ok("the file is gone", !files.FileExists(source));
    Test.equal("DeleteAudioFile of a missing file", control.DeleteAudioFile(source), 1);
    var kept = files.CreateTextFile(outside, true);
    kept.Close();
    Test.equal("DeleteAudioFile outside the data folder", control.DeleteAudioFile(outside), 1);
    Test.ok("the file outside is kept", files.FileExists(outside));
    files.DeleteFile(outside);
    Test.equal("DeleteAudioFileALL", control.DeleteAudioFileALL(), 0);
});
