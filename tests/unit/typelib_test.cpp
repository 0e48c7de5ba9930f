// The type library carried by plumesrv.dll, checked against the published
// contract written out by hand below.
#include <gtest/gtest.h>
#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include <plume_events.h>

#include "bstr.h"
#include "client_numbers.h"
#include "com_ptr.h"
#include "test_paths.h"
#include "unique_any.h"

using plume::bstr;
using plume::com_ptr;

namespace {

struct Method {
    const char* name;
    const char* params;  // "in long index; out retval IOEMenu** menu"
};

struct Interface {
    const char* name;
    const char* iid;
    std::vector<Method> methods;
};

struct Coclass {
    const char* name;
    const char* clsid;
    const char* iface;
    const char* events;
};

const std::vector<Interface> kIncoming = {
    {"IPLUMEObj", "{12BAF137-264C-464B-9D58-C83B3781DD4C}",
     {{"GetID", "out retval long* Id"},
      {"GetMenu", "in long index; out retval IOEMenu** menu"},
      {"GetMsgWnd", "in long msgWndId; out retval IOEMsgWnd** msgWnd"},
      {"CreateToolbarInMsgWnd", "in tagWNDSTYLE wndStyle; out retval IOEToolbar** newToolbar"},
      {"GetOEToolbarInMsgWnd", "in tagWNDSTYLE wndStyle; out retval IOEToolbar** newToolbar"},
      {"GetFirstMsgWndID", "out retval long* msgWndId"}, {"GetNextMsgWndID", "out retval long* msgWndId"},
      {"GetActiveMsgWndID", "out retval long* msgWndId"},
      {"SendKey", "in long keyCode; in long controlCode; in long setForeground"},
      {"CreateToolbar", "out retval IOEToolbar** newToolbar"}, {"GetOEToolbar", "out retval IOEToolbar** newToolbar"},
      {"GetFirstToolbarID", "out retval long* toolbarId"}, {"GetNextToolbarID", "out retval long* toolbarId"},
      {"GetToolbar", "in long toolbarId; out retval IOEToolbar** newToolbar"}, {"RemoveAllToolbars", ""},
      {"GetFirstMenuItemID", "out retval long* (unnamed)"}, {"GetNextMenuItemID", "out retval long* itemId"},
      {"GetMenuItem", "in long itemId; out retval IOEMenuItem** item"}, {"RemoveAllMenuItems", ""},
      {"SendAndReceiveMessages", ""}, {"SendMessage", "in long folderId; in long msgId"},
      {"GetOEMainWindow", "out retval long* wndHandle"}, {"GetSelectedFolderID", "out retval long* selFolderId"},
      {"GetFirstSelectedMessageID", "out retval long* msgId"}, {"GetNextSelectedMessageID", "out retval long* msgId"},
      {"GetCurrentMessageID", "out retval long* msgId"}, {"SetSelectedMessageID", "in long msgId"},
      {"AddSelectedMessageID", "in long msgId"}, {"IsAnyMessageSelected", "out retval long* (unnamed)"},
      {"SetSelectedFolderID", "in long selFolderId"}, {"OpenCurrentMessage", ""}, {"ComposeMessage", ""},
      {"GetMsgWndMenu", "in tagWNDSTYLE wndStyle; in long index; out retval IOEMenu** menu"},
      {"GetMsgWndMenuItem", "in tagWNDSTYLE wndStyle; in long itemId; out retval IOEMenuItem** item"}}},
    {"IOEMsgWnd", "{12BAF15B-264C-464B-9D58-C83B3781DD4C}",
     {{"GetTo", "out retval BSTR* address"},
      {"SetTo", "in BSTR address"}, {"GetCc", "out retval BSTR* address"}, {"SetCc", "in BSTR address"},
      {"CancelSend", ""}, {"GetSubject", "out retval BSTR* subject"}, {"SetSubject", "in BSTR subject"},
      {"GetBody", "out retval BSTR* body"}, {"GetBodyLength", "out retval long* length"},
      {"SetBody", "in BSTR* body"}, {"SetBodyHTML", "in BSTR* body"},
      {"GetWndStyle", "out retval tagWNDSTYLE* wndStyle"}, {"SendMail", ""},
      {"SendKey", "in long keyCode; in long controlCode; in long setForeground"}, {"GetID", "out retval long* Id"},
      {"GetToolbarByIndex", "in long toolbarIndex; out retval IOEToolbar** newToolbar"},
      {"GetToolbar", "in long toolbarId; out retval IOEToolbar** newToolbar"},
      {"GetMenu", "in long menuIdx; out retval IOEMenu** newMenu"},
      {"GetMenuItem", "in long itemId; out retval IOEMenuItem** item"},
      {"GetIHTMLDocument2", "out retval IDispatch** html"},
      {"GetBcc", "out retval BSTR* address"}, {"SetBcc", "in BSTR address"}}},
    {"IOEToolbar", "{12BAF140-264C-464B-9D58-C83B3781DD4C}",
     {{"SetShown", "in long show"},
      {"CreateButton", "in BSTR name; in BSTR bmpNormal; in BSTR bmpMouseOver; out retval IOEButton** (unnamed)"},
      {"CreateSeparator", "out retval IOEButton** (unnamed)"}, {"GetID", "out retval long* (unnamed)"},
      {"Create", "in long plumeId"}, {"CreateInMsgWnd", "in tagWNDSTYLE wndStyle; in long plumeId"}, {"Destroy", ""},
      {"SetLargeButtons", "in long largeBtns"}, {"GetFirstButtonID", "out retval long* buttonId"},
      {"GetNextButtonID", "out retval long* buttonId"},
      {"GetButton", "in long buttonId; out retval IOEButton** newButton"},
      {"GetButtonByIndex", "in long index; out retval IOEButton** button"},
      {"GetHandle", "out retval long* tbHandle"}, {"SetMaxTextRows", "in long rows"},
      {"EnableTooltips", "in long bEnable"}, {"SetMaskColor", "in long color"},
      {"GetMaskColor", "out retval long* color"}, {"SetPictureSize", "in long cx; in long cy; out retval long* res"},
      {"GetPictureSize", "out long* cx; out long* cy; out retval long* res"}}},
    {"IOEButton", "{12BAF144-264C-464B-9D58-C83B3781DD4C}",
     {{"Create", "in long toolbarId; in BSTR name; in BSTR bmpNormal; in BSTR bmpMouseOver"},
      {"CreateSeparator", "in long toolbarId"}, {"Destroy", ""},
      {"CreateSubButton", "in BSTR name; in BSTR bmpNormal; in BSTR bmpMouseOver; out retval IOEButton** newButton"},
      {"GetID", "out retval long* Id"}, {"SetEnabled", "in long enabled"}, {"SetShown", "in long show"},
      {"SetName", "in BSTR name"}, {"SetImageNormal", "in BSTR bmpNormal"}, {"SetImageMouseOver", "in BSTR bmp"},
      {"GetFirstSubButtonID", "out retval long* buttonId"}, {"GetNextSubButtonID", "out retval long* buttonId"},
      {"GetSubButtonByIndex", "in long index; out retval IOEButton** button"},
      {"IsSeparator", "out retval long* isSep"}, {"SetPopupStyle", "in long popup"},
      {"SetCheckStyle", "in long check"}, {"SetChecked", "in long checked"}, {"IsChecked", "out retval long* state"},
      {"SetTooltip", "in BSTR tooltip"}, {"IsVisible", "out retval long* visible"},
      {"IsEnabled", "out retval long* visible"}, {"GetName", "out retval BSTR* name"},
      {"CreateSubSeparator", "out retval IOEButton** newButton"}, {"SetPicture", "in IPictureDisp* normal"},
      {"SetPictureMouseOver", "in IPictureDisp* over"}}},
    {"IOEMenu", "{12BAF168-264C-464B-9D58-C83B3781DD4C}",
     {{"GetIndex", "out retval long* (unnamed)"},
      {"CreateItem", "in BSTR name; out retval OEMenuItem** item"},
      {"CreateItemBefore", "in BSTR name; in BSTR before; in long subString; out retval IOEMenuItem** item"},
      {"CreateSeparator", "out retval IOEMenuItem** separator"},
      {"CreateSeparatorBefore", "in BSTR before; in long subString; out retval IOEMenuItem** separator"},
      {"CreateItemAt", "in BSTR name; in long position; out retval IOEMenuItem** item"},
      {"CreateSeparatorAt", "in long position; out retval IOEMenuItem** item"}}},
    {"IOEMenuItem", "{12BAF158-264C-464B-9D58-C83B3781DD4C}",
     {{"GetID", "out retval long* Id"},
      {"Create", "in long menuId; in BSTR name"}, {"Destroy", ""},
      {"CreateBefore", "in long menuId; in BSTR name; in BSTR before; in long subString"},
      {"CreateSubItem", "in BSTR name; out retval IOEMenuItem** newItem"}, {"SetEnabled", "in long enabled"},
      {"CreateSeparator", "out retval IOEMenuItem** newItem"}, {"SetCheck", "in long check"},
      {"SetChecked", "in long checked"}, {"IsChecked", "out retval long* state"}, {"SetVisible", "in long visible"},
      {"IsVisible", "out retval long* visible"}, {"IsEnabled", "out retval long* enabled"},
      {"SetText", "in BSTR name"}, {"GetText", "out retval BSTR* name"},
      {"CreateAt", "in long menuId; in BSTR name; in long position"}}},
};

// Events: DISPIDs count from 1 in table order.
const std::vector<Interface> kEvents = {
    {"IPLUMEObjEvents", "{12BAF139-264C-464B-9D58-C83B3781DD4C}",
     {{"OnToolbarButtonClicked", "in long toolbarId; in long buttonId"},
      {"OnMenuItemClicked", "in long menuIndex; in long menuItemId"},
      {"OnFolderSelectionChanged", "in long folderId"}, {"OnMessageSelectionChanged", ""},
      {"OnCurrentMessageChanged", "in long msgId"}, {"OnMessageDownloadStarted", ""},
      {"OnMessageDownloadFinished", ""}, {"OnNewMessageInOutbox", "in long msgId"},
      {"OnToolbarButtonMsgWndClicked", "in long toolbarId; in long buttonId; in long msgWndId"},
      {"OnSendButtonMsgWndClicked", "in long msgWndId"}, {"OnNewMsgWnd", "in long msgWndId"},
      {"OnMsgWndClosed", "in long msgWndId; in long isMainWindow"},
      {"OnDatabaseChange", "in tagOE_DATABASE_TRANSACTION dt; in long folderId; in long objId; in long newParentId"},
      {"OnMsgWndMenuItemClicked", "in long menuIndex; in long menuItemId; in long msgWndId"}}},
    {"IOEMsgWndEvents", "{12BAF15A-264C-464B-9D58-C83B3781DD4C}",
     {{"OnToolbarButtonClicked", "in long toolbarId; in long buttonId"},
      {"OnMenuItemClicked", "in long menuIndex; in long menuItemId"}, {"OnClose", "in long isMainWindow"}}},
    {"IOEMenuEvents", "{12BAF167-264C-464B-9D58-C83B3781DD4C}",
     {{"OnItemClicked", "in long itemId"}, {"OnMsgWndItemClicked", "in long itemId; in long msgWndId"}}},
    {"IOEMenuItemEvents", "{12BAF157-264C-464B-9D58-C83B3781DD4C}",
     {{"OnClick", ""}, {"OnMsgWndClick", "in long msgWndId"}}},
    {"IOEButtonEvents", "{12BAF156-264C-464B-9D58-C83B3781DD4C}",
     {{"OnClick", ""}, {"OnMsgWndClick", "in long msgWndId"}}},
    {"IOEToolbarEvents", "{12BAF155-264C-464B-9D58-C83B3781DD4C}",
     {{"OnButtonClicked", "in long buttonId"}, {"OnButtonMsgWndClicked", "in long buttonId; in long msgWndId"}}},
};

const std::vector<Coclass> kClasses = {
    {"PLUMEObj", "{12BAF138-264C-464B-9D58-C83B3781DD4C}", "IPLUMEObj", "IPLUMEObjEvents"},
    {"OEMsgWnd", "{12BAF15C-264C-464B-9D58-C83B3781DD4C}", "IOEMsgWnd", "IOEMsgWndEvents"},
    {"OEMenu", "{12BAF169-264C-464B-9D58-C83B3781DD4C}", "IOEMenu", "IOEMenuEvents"},
    {"OEMenuItem", "{12BAF159-264C-464B-9D58-C83B3781DD4C}", "IOEMenuItem", "IOEMenuItemEvents"},
    {"OEButton", "{12BAF148-264C-464B-9D58-C83B3781DD4C}", "IOEButton", "IOEButtonEvents"},
    {"OEToolbar", "{12BAF145-264C-464B-9D58-C83B3781DD4C}", "IOEToolbar", "IOEToolbarEvents"},
};

GUID ParseGuid(const char* text) {
    GUID g{};
    std::wstring w(text, text + strlen(text));
    EXPECT_EQ(S_OK, CLSIDFromString(w.c_str(), &g)) << text;
    return g;
}

std::string Documentation(ITypeInfo* info, MEMBERID id, bool helpString = false) {
    bstr name, doc;
    info->GetDocumentation(id, name.put(), doc.put(), nullptr, nullptr);
    return plume::AnsiFromBstr((helpString ? doc : name).get());
}

std::string TypeName(ITypeInfo* info, const TYPEDESC& t) {
    switch (t.vt) {
    case VT_I4: return "long";
    case VT_BSTR: return "BSTR";
    case VT_DISPATCH: return "IDispatch*";
    case VT_HRESULT: return "HRESULT";
    case VT_VOID: return "void";
    case VT_PTR: return TypeName(info, *t.lptdesc) + "*";
    case VT_USERDEFINED: {
        com_ptr<ITypeInfo> ref;
        if (FAILED(info->GetRefTypeInfo(t.hreftype, ref.put()))) return "?";
        return Documentation(ref.get(), MEMBERID_NIL);
    }
    default: return "vt" + std::to_string(t.vt);
    }
}

// Renders a function's parameters as the tables above write them.
std::string Params(ITypeInfo* info, const FUNCDESC& f) {
    std::vector<BSTR> names(f.cParams + 1);
    UINT got = 0;
    info->GetNames(f.memid, names.data(), f.cParams + 1, &got);
    std::string out;
    for (SHORT i = 0; i < f.cParams; ++i) {
        const ELEMDESC& e = f.lprgelemdescParam[i];
        USHORT flags = e.paramdesc.wParamFlags;
        if (!out.empty()) out += "; ";
        if (flags & PARAMFLAG_FIN) out += "in ";
        if (flags & PARAMFLAG_FOUT) out += "out ";
        if (flags & PARAMFLAG_FRETVAL) out += "retval ";
        out += TypeName(info, e.tdesc) + " ";
        UINT n = static_cast<UINT>(i) + 1;
        out += (n < got && names[n] && *names[n]) ? plume::AnsiFromBstr(names[n]) : "(unnamed)";
    }
    for (UINT k = 0; k < got; ++k) SysFreeString(names[k]);
    return out;
}

class TypeLibTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::wstring path = plume::test::LibraryPathW();
        ASSERT_EQ(S_OK, LoadTypeLibEx(path.c_str(), REGKIND_NONE, lib_.put()));
    }
    com_ptr<ITypeInfo> Find(const char* guid) {
        com_ptr<ITypeInfo> info;
        EXPECT_EQ(S_OK, lib_->GetTypeInfoOfGuid(ParseGuid(guid), info.put())) << guid;
        return info;
    }
    com_ptr<ITypeLib> lib_;
};

TEST_F(TypeLibTest, LibraryAttributesAndResource) {
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(S_OK, lib_->GetLibAttr(&attr));
    EXPECT_TRUE(IsEqualGUID(ParseGuid("{54B89298-879A-4086-B082-854D3EBFDCC3}"), attr->guid));
    EXPECT_EQ(2, attr->wMajorVerNum);
    EXPECT_EQ(6, attr->wMinorVerNum);
    EXPECT_EQ(1033u, attr->lcid);
    EXPECT_EQ(SYS_WIN32, attr->syskind);
    lib_->ReleaseTLibAttr(attr);

    bstr name, doc;
    ASSERT_EQ(S_OK, lib_->GetDocumentation(-1, name.put(), doc.put(), nullptr, nullptr));
    EXPECT_EQ("PLUME", plume::AnsiFromBstr(name.get()));
    EXPECT_EQ("Vexlor PLUME library", plume::AnsiFromBstr(doc.get()));

    // Six classes, twelve interfaces and two enumerations, nothing else.
    EXPECT_EQ(20u, lib_->GetTypeInfoCount());

    // Resource TYPELIB 1 in US English.
    const plume::unique_hmodule module(
        LoadLibraryExW(plume::test::LibraryPathW().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(module);
    EXPECT_NE(nullptr, FindResourceExA(module.get(), "TYPELIB", MAKEINTRESOURCEA(1),
                                       MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)));
}

// Incoming interfaces are dispatchable automation interfaces (not dual) on
// IDispatch, their methods numbered and placed after IDispatch's seven;
// event interfaces are dispinterfaces numbered from 1.
TEST_F(TypeLibTest, InterfacesAndEventInterfaces) {
    for (const bool events : {false, true}) {
        for (const Interface& want : events ? kEvents : kIncoming) {
            SCOPED_TRACE(want.name);
            com_ptr<ITypeInfo> info = Find(want.iid);
            ASSERT_TRUE(info);
            EXPECT_EQ(want.name, Documentation(info.get(), MEMBERID_NIL));
            EXPECT_EQ(std::string(want.name) + (events ? " Interface" : " interface"),
                      Documentation(info.get(), MEMBERID_NIL, true));
            TYPEATTR* attr = nullptr;
            ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
            EXPECT_EQ(events ? TKIND_DISPATCH : TKIND_INTERFACE, attr->typekind);
            EXPECT_FALSE(attr->wTypeFlags & TYPEFLAG_FDUAL);
            EXPECT_EQ(want.methods.size(), static_cast<size_t>(attr->cFuncs));
            if (!events) {
                EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FOLEAUTOMATION);
                EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FDISPATCHABLE);
                EXPECT_EQ(1, attr->cImplTypes);
            }
            const UINT funcs = attr->cFuncs;
            info->ReleaseTypeAttr(attr);

            if (!events) {
                // Derived from IDispatch, which comes from stdole2.
                HREFTYPE base = 0;
                ASSERT_EQ(S_OK, info->GetRefTypeOfImplType(0, &base));
                com_ptr<ITypeInfo> baseInfo;
                ASSERT_EQ(S_OK, info->GetRefTypeInfo(base, baseInfo.put()));
                EXPECT_EQ("IDispatch", Documentation(baseInfo.get(), MEMBERID_NIL));
                com_ptr<ITypeLib> baseLib;
                UINT index = 0;
                ASSERT_EQ(S_OK, baseInfo->GetContainingTypeLib(baseLib.put(), &index));
                bstr libName;
                baseLib->GetDocumentation(-1, libName.put(), nullptr, nullptr, nullptr);
                EXPECT_EQ("stdole", plume::AnsiFromBstr(libName.get()));
            }

            for (UINT n = 0; n < funcs && n < want.methods.size(); ++n) {
                FUNCDESC* f = nullptr;
                ASSERT_EQ(S_OK, info->GetFuncDesc(n, &f));
                SCOPED_TRACE(want.methods[n].name);
                EXPECT_EQ(want.methods[n].name, Documentation(info.get(), f->memid));
                EXPECT_EQ(static_cast<MEMBERID>(events ? n + 1 : 0x60020000 + n), f->memid);
                EXPECT_EQ(events ? FUNC_DISPATCH : FUNC_PUREVIRTUAL, f->funckind);
                if (!events) {
                    EXPECT_EQ(static_cast<SHORT>((7 + n) * sizeof(void*)), f->oVft);
                    EXPECT_EQ(INVOKE_FUNC, f->invkind);
                    EXPECT_EQ(CC_STDCALL, f->callconv);
                    EXPECT_EQ(VT_HRESULT, f->elemdescFunc.tdesc.vt);
                }
                EXPECT_EQ(want.methods[n].params, Params(info.get(), *f));
                info->ReleaseFuncDesc(f);
            }
        }
    }
}

// The SDK header's constants are the type library's DISPIDs (from 1 in the
// order of kEvents, as InterfacesAndEventInterfaces checks), and every event
// has one: each interface's constants in that order.
TEST_F(TypeLibTest, TheSdkHeaderNamesEveryEventDispid) {
    namespace e = plume_events;
    const std::vector<std::vector<DISPID>> constants = {
        {e::root::OnToolbarButtonClicked, e::root::OnMenuItemClicked, e::root::OnFolderSelectionChanged,
         e::root::OnMessageSelectionChanged, e::root::OnCurrentMessageChanged, e::root::OnMessageDownloadStarted,
         e::root::OnMessageDownloadFinished, e::root::OnNewMessageInOutbox, e::root::OnToolbarButtonMsgWndClicked,
         e::root::OnSendButtonMsgWndClicked, e::root::OnNewMsgWnd, e::root::OnMsgWndClosed, e::root::OnDatabaseChange,
         e::root::OnMsgWndMenuItemClicked},
        {e::msg_wnd::OnToolbarButtonClicked, e::msg_wnd::OnMenuItemClicked, e::msg_wnd::OnClose},
        {e::menu::OnItemClicked, e::menu::OnMsgWndItemClicked},
        {e::menu_item::OnClick, e::menu_item::OnMsgWndClick},
        {e::button::OnClick, e::button::OnMsgWndClick},
        {e::toolbar::OnButtonClicked, e::toolbar::OnButtonMsgWndClicked},
    };
    ASSERT_EQ(kEvents.size(), constants.size());
    for (size_t i = 0; i < kEvents.size(); ++i) {
        EXPECT_EQ(kEvents[i].methods.size(), constants[i].size()) << kEvents[i].name << ": an event without a constant";
        for (size_t n = 0; n < constants[i].size() && n < kEvents[i].methods.size(); ++n)
            EXPECT_EQ(static_cast<DISPID>(n + 1), constants[i][n])
                << kEvents[i].name << " " << kEvents[i].methods[n].name;
    }
}

TEST_F(TypeLibTest, ClassesNameTheirDefaultAndSourceInterfaces) {
    for (const Coclass& want : kClasses) {
        SCOPED_TRACE(want.name);
        com_ptr<ITypeInfo> info = Find(want.clsid);
        ASSERT_TRUE(info);
        EXPECT_EQ(want.name, Documentation(info.get(), MEMBERID_NIL));
        EXPECT_EQ(std::string(want.name) + " coclass", Documentation(info.get(), MEMBERID_NIL, true));
        TYPEATTR* attr = nullptr;
        ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
        EXPECT_EQ(TKIND_COCLASS, attr->typekind);
        EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FCANCREATE);
        ASSERT_EQ(2, attr->cImplTypes);
        info->ReleaseTypeAttr(attr);

        std::string incoming, source;
        for (UINT i = 0; i < 2; ++i) {
            INT flags = 0;
            HREFTYPE ref = 0;
            com_ptr<ITypeInfo> impl;
            ASSERT_EQ(S_OK, info->GetImplTypeFlags(i, &flags));
            ASSERT_EQ(S_OK, info->GetRefTypeOfImplType(i, &ref));
            ASSERT_EQ(S_OK, info->GetRefTypeInfo(ref, impl.put()));
            EXPECT_TRUE(flags & IMPLTYPEFLAG_FDEFAULT);
            (flags & IMPLTYPEFLAG_FSOURCE ? source : incoming) = Documentation(impl.get(), MEMBERID_NIL);
        }
        EXPECT_EQ(want.iface, incoming);
        EXPECT_EQ(want.events, source);
    }
}

TEST_F(TypeLibTest, Enumerations) {
    using namespace plume::test::client_numbers;
    struct Enum {
        const char* name;
        std::vector<std::pair<const char*, long>> values;
    };
    const std::vector<Enum> kEnums = {
        {"tagWNDSTYLE",
         {{"OE_MSG_INVALID", 0}, {"OE_MSG_DETAIL_WND", kDetailWnd}, {"OE_MSG_SEND_WND", kSendWnd},
          {"OE_CURRENT_MSG_WND", kCurrentMsgWnd}, {"OE_EMPTY_MSG_WND", kEmptyMsgWnd}, {"OE_OTHER_WND", kOtherWnd},
          {"OE_ALL_MSG_WND", kAllMsgWnd}}},
        {"tagOE_DATABASE_TRANSACTION",
         {{"OE_TR_INSERT_MESSAGE", kInsertMessage}, {"OE_TR_DELETE_MESSAGE", kDeleteMessage},
          {"OE_TR_UNREAD_MESSAGE", kUnreadMessage}, {"OE_TR_READ_MESSAGE", kReadMessage},
          {"OE_TR_INSERT_FOLDER", kInsertFolder}, {"OE_TR_DELETE_FOLDER", kDeleteFolder},
          {"OE_TR_RENAME_FOLDER", kRenameFolder}, {"OE_TR_MOVE_FOLDER", kMoveFolder}}},
    };
    for (const Enum& want : kEnums) {
        SCOPED_TRACE(want.name);
        std::wstring wname(want.name, want.name + strlen(want.name));
        com_ptr<ITypeInfo> info;
        MEMBERID id = 0;
        USHORT found = 1;
        ASSERT_EQ(S_OK, lib_->FindName(wname.data(), 0, info.put(), &id, &found));
        ASSERT_EQ(1, found);
        TYPEATTR* attr = nullptr;
        ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
        EXPECT_EQ(TKIND_ENUM, attr->typekind);
        ASSERT_EQ(want.values.size(), static_cast<size_t>(attr->cVars));
        info->ReleaseTypeAttr(attr);
        for (UINT i = 0; i < want.values.size(); ++i) {
            VARDESC* v = nullptr;
            ASSERT_EQ(S_OK, info->GetVarDesc(i, &v));
            EXPECT_EQ(want.values[i].first, Documentation(info.get(), v->memid));
            ASSERT_EQ(VAR_CONST, v->varkind);
            VARIANT value;
            VariantInit(&value);
            ASSERT_EQ(S_OK, VariantChangeType(&value, v->lpvarValue, 0, VT_I4));
            EXPECT_EQ(want.values[i].second, V_I4(&value));
            info->ReleaseVarDesc(v);
        }
    }
}

}  // namespace
