// The installed control, created by its ProgID, converts with the installed writer: the
// container's recording and a tone.
Test.run(function (args) {
    var control = new ActiveXObject(args(0)), folder = control.GetDataFolder() + "\\";
    Test.equal("ConvertWavToWMA of the recording",
               control.ConvertWavToWMA(folder + "take.wav", folder + "take-js.wma"), 0);
    Test.equal("ConvertWavToWMA of the tone",
               control.ConvertWavToWMA(folder + "tone.wav", folder + "tone.wma"), 0);
});
