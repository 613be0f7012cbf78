// What any registered control answers to a script host: created by its ProgID, an unknown
// member raises "Object doesn't support this property or method", a ProgID that is not
// registered cannot be created.
Test.run(function (args) {
    var progId = args(0);
    var control = new ActiveXObject(progId);
    Test.equal("new ActiveXObject(" + progId + ") gives an object", typeof control, "object");
    Test.raises("an unknown member raises an error", function () {
        control.NoSuchMemberOfThisControl(1);
    }, 0x800A01B6);
    Test.raises("an unregistered ProgID cannot be created", function () {
        new ActiveXObject(progId + ".NotRegistered");
    }, 0x800A01AD);
});
