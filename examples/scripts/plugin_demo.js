// A script plug-in in JScript: one toolbar button and one Tools menu item in
// the main window, and a line for each click, each choice and each Send.
//   cscript //nologo plugin_demo.js [seconds]
// It ends after the given time (60 s) or when the client closes, and prints
// "PASS" as its last line (a script that fails on Wine ends silently).
var MAIN_TOOLS = 3;  // File, Edit, View, Tools
var seconds = WScript.Arguments.length > 0 ? parseInt(WScript.Arguments(0), 10) : 60;
var shutdown = false;

var root = new ActiveXObject("PLUME.PLUMEObj");
var toolbar = root.CreateToolbar();
var button = toolbar.CreateButton("Script", "", "");
var item = root.GetMenu(MAIN_TOOLS).CreateItem("Script Item");

// Handlers: objects whose methods are named after the events they take.
var buttonEvents = { OnClick: function () { WScript.Echo("clicked button " + button.GetID()); } };
var itemEvents = { OnClick: function () { WScript.Echo("chose item " + item.GetID()); } };
var rootEvents = {
    OnSendButtonMsgWndClicked: function (msgWndId) {
        WScript.Echo("send in window " + msgWndId + ": " + root.GetMsgWnd(msgWndId).GetSubject());
    },
    OnMsgWndClosed: function (msgWndId, isMainWindow) { if (isMainWindow) shutdown = true; }
};

var events = new ActiveXObject("PLUME.ScriptEvents");
var cookies = [events.Connect(button, buttonEvents, ""), events.Connect(item, itemEvents, ""),
               events.Connect(root, rootEvents, "")];
WScript.Echo("ready: button " + button.GetID() + ", item " + item.GetID());
var started = new Date().getTime();
while (new Date().getTime() - started < seconds * 1000 && !shutdown) events.Wait(200);
for (var i = 0; i < cookies.length; i++) events.Disconnect(cookies[i]);
if (!shutdown) {
    item.Destroy();
    toolbar.Destroy();
}
WScript.Echo("PASS");
