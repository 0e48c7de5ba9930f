// The methods of a type library's interfaces as late-bound and table calls
// see them, for tests that generate their cases from the library.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "bstr.h"
#include "com_ptr.h"

namespace plume::test {

// How the table call passes a parameter.
enum class Raw { Number, Text, InObject, Pointer };

// How a parameter is passed late-bound.
enum class Kind { Long, Enum, Bstr, BstrRef, Object, OutLong, Other };

struct Param {
    Kind kind;
    std::vector<long> enumValues;  // Kind::Enum: the enumeration's values
};

struct Method {
    std::wstring name;
    DISPID dispid;
    int slot;                  // position in the table
    std::vector<Param> in;     // what Invoke takes, in declaration order
    bool retval;               // ends with an [out, retval] pointer
    std::vector<Raw> raw;      // the table call's arguments, after `this`
};

struct Interface {
    std::wstring name;
    IID iid;
    std::vector<Method> methods;
};

inline Kind KindOf(ITypeInfo* info, const TYPEDESC& t, USHORT flags, std::vector<long>* enumValues) {
    if (t.vt == VT_I4 || t.vt == VT_INT) return Kind::Long;
    if (t.vt == VT_BSTR) return Kind::Bstr;
    if (t.vt == VT_USERDEFINED) {
        com_ptr<ITypeInfo> ref;
        TYPEATTR* attr = nullptr;
        if (FAILED(info->GetRefTypeInfo(t.hreftype, ref.put())) || FAILED(ref->GetTypeAttr(&attr))) return Kind::Other;
        const bool isEnum = attr->typekind == TKIND_ENUM;
        for (WORD i = 0; isEnum && i < attr->cVars; ++i) {
            VARDESC* var = nullptr;
            if (FAILED(ref->GetVarDesc(i, &var))) continue;
            VARIANT value;
            VariantInit(&value);
            if (SUCCEEDED(VariantChangeType(&value, var->lpvarValue, 0, VT_I4))) enumValues->push_back(value.lVal);
            ref->ReleaseVarDesc(var);
        }
        ref->ReleaseTypeAttr(attr);
        return isEnum ? Kind::Enum : Kind::Other;
    }
    if (t.vt == VT_PTR) {
        const TYPEDESC& to = *t.lptdesc;
        if (to.vt == VT_BSTR && (flags & PARAMFLAG_FIN)) return Kind::BstrRef;
        if (to.vt == VT_I4 && (flags & PARAMFLAG_FOUT)) return Kind::OutLong;
        if (to.vt == VT_USERDEFINED || to.vt == VT_DISPATCH || to.vt == VT_UNKNOWN) return Kind::Object;
    }
    return Kind::Other;
}

inline Raw RawOf(const TYPEDESC& t, USHORT flags) {
    if (t.vt == VT_BSTR) return Raw::Text;
    if (t.vt != VT_PTR) return Raw::Number;
    // An interface pointer passed in; every other pointer (out values, the
    // text of SetBody) may be null.
    const VARTYPE to = t.lptdesc->vt;
    if (!(flags & PARAMFLAG_FOUT) && (to == VT_USERDEFINED || to == VT_DISPATCH || to == VT_UNKNOWN)) return Raw::InObject;
    return Raw::Pointer;
}

// Every interface (TKIND_INTERFACE) of the library with its own methods.
inline std::vector<Interface> InterfacesOf(ITypeLib* lib) {
    std::vector<Interface> out;
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
        com_ptr<ITypeInfo> info;
        TYPEATTR* attr = nullptr;
        if (FAILED(lib->GetTypeInfo(i, info.put())) || FAILED(info->GetTypeAttr(&attr))) continue;
        if (attr->typekind == TKIND_INTERFACE) {
            bstr name;
            info->GetDocumentation(MEMBERID_NIL, name.put(), nullptr, nullptr, nullptr);
            Interface itf{name.str(), attr->guid, {}};
            for (WORD f = 0; f < attr->cFuncs; ++f) {
                FUNCDESC* func = nullptr;
                if (FAILED(info->GetFuncDesc(f, &func))) continue;
                bstr method;
                info->GetDocumentation(func->memid, method.put(), nullptr, nullptr, nullptr);
                Method m{method.str(), func->memid, static_cast<int>(func->oVft / sizeof(void*)), {}, false, {}};
                for (SHORT p = 0; p < func->cParams; ++p) {
                    const ELEMDESC& e = func->lprgelemdescParam[p];
                    const USHORT flags = e.paramdesc.wParamFlags;
                    m.raw.push_back(RawOf(e.tdesc, flags));
                    if (flags & PARAMFLAG_FRETVAL) {
                        m.retval = true;
                        continue;
                    }
                    Param param{Kind::Other, {}};
                    param.kind = KindOf(info.get(), e.tdesc, flags, &param.enumValues);
                    m.in.push_back(param);
                }
                itf.methods.push_back(m);
                info->ReleaseFuncDesc(func);
            }
            out.push_back(itf);
        }
        info->ReleaseTypeAttr(attr);
    }
    return out;
}

}  // namespace plume::test
