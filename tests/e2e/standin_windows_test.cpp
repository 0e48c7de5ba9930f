// The stand-in's windows as the library finds them: class names, who is a
// direct child of whom, control ids, band 101, the folder records behind the
// tree items and the HTML document behind "Internet Explorer_Server".
#include <mshtml.h>
#include <oleacc.h>

#include <cstdint>
#include <map>

#include "com_ptr.h"
#include "e2e_common.h"

namespace plume::test {

HWND FindDescendant(HWND parent, const wchar_t* className) {
    struct Ctx {
        const wchar_t* cls;
        HWND found;
    } ctx{className, nullptr};
    EnumChildWindows(parent, [](HWND h, LPARAM p) -> BOOL {
        auto* c = reinterpret_cast<Ctx*>(p);
        if (ClassOf(h) == c->cls) {
            c->found = h;
            return FALSE;
        }
        return TRUE;
    }, reinterpret_cast<LPARAM>(&ctx));
    return ctx.found;
}

namespace {

const wchar_t* Product() { return IsWm() ? L"Windows Mail" : L"Outlook Express"; }

std::vector<HWND> Rebars(HWND sizable) {
    std::vector<HWND> out;
    for (HWND r = nullptr; (r = FindWindowExW(sizable, r, L"ReBarWindow32", nullptr));) out.push_back(r);
    return out;
}

// The rebar the library puts toolbars into and finds band 101 in.
HWND ToolbarRebar(HWND owner) {
    HWND sizable = FindWindowExW(owner, nullptr, L"SizableRebar", nullptr);
    std::vector<HWND> rebars = Rebars(sizable);
    size_t index = IsWm() ? 1 : 0;
    return rebars.size() > index ? rebars[index] : nullptr;
}

int64_t FolderNumberAt(HANDLE process, const std::wstring& itemParameter) {
    uint64_t address = std::stoull(itemParameter);
    int64_t number = -99;
    SIZE_T read = 0;
    EXPECT_NE(address, 0u);
    EXPECT_TRUE(ReadProcessMemory(process, reinterpret_cast<void*>(address + 16), &number, sizeof(number), &read));
    return number;
}

using StandinWindows = StandinTest;

TEST_F(StandinWindows, MainWindowHasTheClientsHierarchy) {
    EXPECT_EQ(ClassOf(main), L"ThorBrowserWndClass");
    EXPECT_EQ(TextOf(main), std::wstring(L"Inbox - ") + Product());

    HWND sizable = FindWindowExW(main, nullptr, L"SizableRebar", nullptr);
    ASSERT_NE(sizable, nullptr) << "SizableRebar must be a direct child of the main window";
    EXPECT_EQ(Rebars(sizable).size(), IsWm() ? 2u : 1u);
    HWND rebar = ToolbarRebar(main);
    ASSERT_NE(rebar, nullptr);
    LRESULT band = SendMessageW(rebar, RB_IDTOINDEX, 101, 0);
    EXPECT_NE(band, -1) << "band 101 must be in the rebar the library looks in";
    HWND toolbar = Call(L"ClientToolbar", {H(main)}).Hwnd();
    EXPECT_EQ(ClassOf(toolbar), L"ToolbarWindow32");
    EXPECT_EQ(GetParent(toolbar), rebar);
    EXPECT_GE(SendMessageW(toolbar, TB_COMMANDTOINDEX, 40465, 0), 0) << "New Mail is command 40465";
    EXPECT_GE(SendMessageW(toolbar, TB_COMMANDTOINDEX, 40160, 0), 0) << "Send/Receive";
    EXPECT_EQ(SendMessageW(toolbar, TB_COMMANDTOINDEX, 40411, 0), -1) << "the main window has no Send command";

    EXPECT_NE(FindDescendant(main, L"SysTreeView32"), nullptr);
    HWND view = FindDescendant(main, L"Outlook Express Message View");
    ASSERT_NE(view, nullptr);
    EXPECT_NE(FindDescendant(view, L"Outlook Express Message List"), nullptr);
    HWND list = FindDescendant(view, IsWm() ? L"SysListView32" : L"ATL:SysListView32");
    ASSERT_NE(list, nullptr);
    if (!IsWm()) {
        EXPECT_EQ(FindDescendant(view, L"SysListView32"), nullptr);
    }
    size_t inbox = Call(L"Messages", {InboxId()}).Array().size();
    EXPECT_GE(inbox, 10u);
    EXPECT_EQ(static_cast<size_t>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)), inbox);

    HWND preview = FindDescendant(main, L"##MimeEdit_Server");
    ASSERT_NE(preview, nullptr);
    EXPECT_TRUE(IsChild(main, GetParent(preview))) << "the preview's parent lies inside the main window";
    EXPECT_NE(FindWindowExW(preview, nullptr, L"Internet Explorer_Server", nullptr), nullptr);
}

TEST_F(StandinWindows, TreeItemsPointAtRecordsWithTheFolderNumberAtOffset16) {
    std::vector<Var> items = Call(L"TreeItems").Array();
    ASSERT_GE(items.size(), 7u);
    size_t first = 0;
    if (!IsWm()) {
        // The client's top item stands above the folders, with folder number 0.
        std::vector<Var> top = items[0].Array();
        EXPECT_EQ(top[0].Long(), 0);
        EXPECT_EQ(top[1].Str(), L"Outlook Express");
        EXPECT_EQ(FolderNumberAt(client->process(), top[2].Str()), 0);
        first = 1;
    }
    std::vector<Var> root = items[first].Array();
    EXPECT_EQ(root[0].Long(), IsWm() ? 0 : 1);
    EXPECT_EQ(root[1].Str(), L"Local Folders");
    EXPECT_EQ(FolderNumberAt(client->process(), root[2].Str()), 1);
    std::map<std::wstring, int64_t> numbers;
    for (const Var& v : items) {
        std::vector<Var> item = v.Array();
        std::wstring name = item[1].Str();
        name = name.substr(0, name.find(L" ("));  // unread counts follow the name
        numbers[name] = FolderNumberAt(client->process(), item[2].Str());
    }
    EXPECT_EQ(numbers[L"Inbox"], InboxId());
    EXPECT_EQ(numbers[L"Outbox"], OutboxId());
    EXPECT_EQ(numbers[L"Sent Items"], SentItemsId());
    EXPECT_EQ(numbers[L"Deleted Items"], DeletedItemsId());
    EXPECT_EQ(numbers[L"Holding"], HoldingId());
}

TEST_F(StandinWindows, MessageWindowsHaveEnvelopeBodyAndToolbar) {
    long mainId = H(main);
    // A compose window (HTML body).
    PostMessageW(main, WM_COMMAND, 40465, 0);
    ASSERT_TRUE(StandinProcess::WaitFor([&] { return Notes().size() == 1; }));
    HWND compose = Notes()[0];
    EXPECT_EQ(ClassOf(compose), L"ATH_Note");
    HWND envelope = FindWindowExW(compose, nullptr, L"OE_Envelope", nullptr);
    ASSERT_NE(envelope, nullptr);
    for (int id : {1001, 1003, 1004, 1026}) EXPECT_NE(GetDlgItem(envelope, id), nullptr) << "envelope control " << id;
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(envelope, 1026))) << "the Bcc line starts hidden";
    Call(L"ShowBcc", {H(compose), 1});
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(envelope, 1026)));
    HWND host = FindWindowExW(compose, nullptr, L"ME_DocHost", nullptr);
    ASSERT_NE(host, nullptr);
    HWND mime = FindWindowExW(host, nullptr, L"##MimeEdit_Server", nullptr);
    ASSERT_NE(mime, nullptr);
    EXPECT_NE(FindWindowExW(mime, nullptr, L"Internet Explorer_Server", nullptr), nullptr);
    HWND rebar = ToolbarRebar(compose);
    ASSERT_NE(rebar, nullptr);
    EXPECT_NE(SendMessageW(rebar, RB_IDTOINDEX, 101, 0), -1);
    HWND composeToolbar = Call(L"ClientToolbar", {H(compose)}).Hwnd();
    EXPECT_EQ(GetParent(composeToolbar), rebar);
    EXPECT_GE(SendMessageW(composeToolbar, TB_COMMANDTOINDEX, 40411, 0), 0) << "a compose window has Send 40411";

    // A read window of a plain-text message: the body is a RichEdit50W.
    long plainRow = -1;
    std::vector<Var> rows = Call(L"Rows").Array();
    for (size_t r = 0; r < rows.size() && plainRow < 0; ++r) {
        long id = rows[r].Array()[0].Long();
        if (!Call(L"MessageInfo", {id}).Array()[7].Bool()) plainRow = static_cast<long>(r);
    }
    ASSERT_GE(plainRow, 0);
    Call(L"SelectRows", {plainRow});
    PostMessageW(main, WM_COMMAND, MAKEWPARAM(40100, 1), 0);  // as the library opens the current message
    ASSERT_TRUE(StandinProcess::WaitFor([&] { return Notes().size() == 2; }));
    HWND read = Notes()[1];
    EXPECT_EQ(ClassOf(read), L"ATH_Note");
    HWND readToolbar = Call(L"ClientToolbar", {H(read)}).Hwnd();
    EXPECT_EQ(SendMessageW(readToolbar, TB_COMMANDTOINDEX, 40411, 0), -1) << "a read window has no Send";
    HWND readHost = FindWindowExW(read, nullptr, L"ME_DocHost", nullptr);
    HWND doc = FindWindowExW(readHost, nullptr, L"RichEdDoc Class", nullptr);
    ASSERT_NE(doc, nullptr);
    EXPECT_NE(FindWindowExW(doc, nullptr, L"RichEdit50W", nullptr), nullptr);
    EXPECT_EQ(FindWindowExW(doc, nullptr, L"RichEdit20W", nullptr), nullptr);
    long messageId = rows[static_cast<size_t>(plainRow)].Array()[0].Long();
    std::wstring stored = Call(L"MessageInfo", {messageId}).Array()[8].Str();
    std::wstring shown = Call(L"BodyText", {H(read)}).Str();
    EXPECT_EQ(shown.substr(0, shown.find(L'\r')), stored.substr(0, stored.find(L'\r')));
    EXPECT_EQ(Call(L"GetField", {H(read), 1004}).Str(),
              rows[static_cast<size_t>(plainRow)].Array()[3].Str());
    (void)mainId;
}

TEST_F(StandinWindows, ResolvedRecipientsAreObjectsOnOutlookExpressOnly) {
    Call(L"SelectRows", {0});
    HWND read = Call(L"OpenSelected").Hwnd();
    long note = H(read);
    long messageId = Call(L"Rows").Array()[0].Array()[0].Long();
    std::wstring to = Call(L"MessageInfo", {messageId}).Array()[2].Str();
    EXPECT_EQ(Call(L"GetField", {note, 1001}).Str(), to);
    EXPECT_EQ(Call(L"FieldObjects", {note, 1001}).Long(), IsWm() ? 0 : 1);
    std::wstring raw = Call(L"FieldRawText", {note, 1001}).Str();
    if (IsWm()) {
        EXPECT_EQ(raw, to);
    } else {
        EXPECT_EQ(raw, L"\xFFFC") << "an embedded object reads as U+FFFC";
    }
    // Typed names stay text until they are resolved (Check Names).
    HWND compose = Call(L"NewMessage").Hwnd();
    long c = H(compose);
    Call(L"TypeText", {c, 1001, L"Anna Berg <anna.berg@northwind.example>; ben@contoso.example"});
    EXPECT_EQ(Call(L"FieldObjects", {c, 1001}).Long(), 0);
    Call(L"ResolveNames", {c});
    EXPECT_EQ(Call(L"FieldObjects", {c, 1001}).Long(), IsWm() ? 0 : 2);
    EXPECT_EQ(Call(L"GetField", {c, 1001}).Str(), L"Anna Berg <anna.berg@northwind.example>; ben@contoso.example");
}

TEST_F(StandinWindows, BrowserWindowHandsOutItsHtmlDocument) {
    HWND compose = Call(L"NewMessage").Hwnd();
    long c = H(compose);
    Call(L"TypeText", {c, 0, L"Hello there"});
    HWND host = FindWindowExW(compose, nullptr, L"ME_DocHost", nullptr);
    HWND browser = FindWindowExW(FindWindowExW(host, nullptr, L"##MimeEdit_Server", nullptr), nullptr, L"Internet Explorer_Server", nullptr);
    ASSERT_NE(browser, nullptr);
    DWORD_PTR result = 0;
    ASSERT_TRUE(SendMessageTimeoutW(browser, RegisterWindowMessageW(L"WM_HTML_GETOBJECT"), 0, 0, SMTO_ABORTIFHUNG, 3000, &result));
    ASSERT_NE(result, 0u);
    com_ptr<IHTMLDocument2> doc;
    ASSERT_EQ(ObjectFromLresult(static_cast<LRESULT>(result), IID_IHTMLDocument2, 0, doc.put_void()), S_OK);
    com_ptr<IHTMLElement> body;
    ASSERT_EQ(doc->get_body(body.put()), S_OK);
    ASSERT_TRUE(body);
    BSTR inner = nullptr;
    ASSERT_EQ(body->get_innerHTML(&inner), S_OK);
    EXPECT_EQ(std::wstring(inner ? inner : L""), L"Hello there");
    SysFreeString(inner);

    BSTR changed = SysAllocString(L"<B>Changed</B>");
    EXPECT_EQ(body->put_innerHTML(changed), S_OK);
    SysFreeString(changed);
    EXPECT_NE(Call(L"BodyHtml", {c}).Str().find(L"<BODY><B>Changed</B></BODY>"), std::wstring::npos);

    com_ptr<IHTMLElement> html;
    ASSERT_EQ(body->get_parentElement(html.put()), S_OK);
    ASSERT_TRUE(html);
    BSTR outer = nullptr;
    ASSERT_EQ(html->get_outerHTML(&outer), S_OK);
    std::wstring whole(outer ? outer : L"");
    SysFreeString(outer);
    EXPECT_EQ(whole.rfind(L"<HTML>", 0), 0u) << "the document starts with <HTML>: " << std::string(whole.begin(), whole.end());
    EXPECT_NE(whole.find(L"<BODY>"), std::wstring::npos);

    // write + close replace the whole document.
    SAFEARRAY* sa = SafeArrayCreateVector(VT_VARIANT, 0, 1);
    VARIANT* element = nullptr;
    SafeArrayAccessData(sa, reinterpret_cast<void**>(&element));
    element->vt = VT_BSTR;
    element->bstrVal = SysAllocString(L"<HTML><HEAD></HEAD><BODY bgColor=#ffffff>New body</BODY></HTML>");
    SafeArrayUnaccessData(sa);
    EXPECT_EQ(doc->write(sa), S_OK);
    EXPECT_EQ(doc->close(), S_OK);
    SafeArrayDestroy(sa);
    EXPECT_EQ(Call(L"BodyText", {c}).Str(), L"New body");
    EXPECT_NE(Call(L"BodyHtml", {c}).Str().find(L"<BODY bgColor=#ffffff>New body</BODY>"), std::wstring::npos);
}

}  // namespace
}  // namespace plume::test
