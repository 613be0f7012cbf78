// ITypeLib and ITypeInfo over a copied description. The type descriptions share the
// library's reference count, so a held ITypeInfo keeps its library alive.
#include <memory>

#include "platform/ext/comobject.h"
#include "platform/ole/typelib/typelib_data.h"
#include "platform/oleauto.h"

namespace talrec::com {

namespace {

HRESULT Out(BSTR* target, const std::u16string& text) {
    if (target == nullptr) return S_OK;
    *target = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *target != nullptr ? S_OK : E_OUTOFMEMORY;
}

std::u16string_view NameOf(const TlbMember& m) {
    return m.name;
}
std::u16string_view ParamName(const TlbParam& p) {
    return p.name;
}

class TypeLib;

// A part of its library rather than an object of its own: it counts on the library's count,
// so it answers QueryInterface itself.
class TypeInfo final : public ITypeInfo {
  public:
    TypeInfo(TypeLib* lib, UINT index) : lib_(lib), index_(index) {}

    HRESULT QueryInterface(REFIID riid, void** out) override;
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT GetTypeAttr(TYPEATTR** attr) override;
    HRESULT GetTypeComp(ITypeComp** comp) override {
        if (comp) *comp = nullptr;
        return E_NOTIMPL;
    }
    HRESULT GetFuncDesc(UINT index, FUNCDESC** desc) override;
    HRESULT GetVarDesc(UINT index, VARDESC** desc) override;
    HRESULT GetNames(MEMBERID memid, BSTR* names, UINT maxNames, UINT* count) override;
    HRESULT GetRefTypeOfImplType(UINT index, HREFTYPE* ref) override;
    HRESULT GetImplTypeFlags(UINT index, INT* flags) override;
    HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) override;
    HRESULT Invoke(void*, MEMBERID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
    HRESULT GetDocumentation(MEMBERID memid, BSTR* name, BSTR* docString, DWORD* helpContext,
                             BSTR* helpFile) override;
    HRESULT GetDllEntry(MEMBERID, INVOKEKIND, BSTR*, BSTR*, WORD*) override { return E_NOTIMPL; }
    HRESULT GetRefTypeInfo(HREFTYPE ref, ITypeInfo** info) override;
    HRESULT AddressOfMember(MEMBERID, INVOKEKIND, void**) override { return E_NOTIMPL; }
    HRESULT CreateInstance(IUnknown*, REFIID, void** object) override {
        if (object) *object = nullptr;
        return E_NOTIMPL;
    }
    HRESULT GetMops(MEMBERID, BSTR* mops) override {
        if (mops) *mops = nullptr;
        return E_NOTIMPL;
    }
    HRESULT GetContainingTypeLib(ITypeLib** lib, UINT* index) override;
    void ReleaseTypeAttr(TYPEATTR* attr) override { delete attr; }
    void ReleaseFuncDesc(FUNCDESC* desc) override {
        if (desc == nullptr) return;
        delete[] desc->lprgelemdescParam;
        delete desc;
    }
    void ReleaseVarDesc(VARDESC* desc) override { delete desc; }

  private:
    const TlbType& Type() const;
    const TlbMember* Member(MEMBERID memid) const;
    // The n-th member of the kind (methods and properties are indexed apart).
    const TlbMember* NthOfKind(TLIBMEMBERKIND kind, UINT n) const;

    TypeLib* const lib_;
    const UINT index_;
};

class TypeLib final : public ComObject<ITypeLib> {
  public:
    explicit TypeLib(TlbLibrary data) : data_(std::move(data)) {
        for (UINT i = 0; i < data_.types.size(); ++i)
            infos_.push_back(std::make_unique<TypeInfo>(this, i));
    }

    UINT GetTypeInfoCount() override { return static_cast<UINT>(data_.types.size()); }
    HRESULT GetTypeInfo(UINT index, ITypeInfo** info) override {
        if (info == nullptr) return E_INVALIDARG;
        *info = nullptr;
        if (index >= infos_.size()) return TYPE_E_ELEMENTNOTFOUND;
        *info = infos_[index].get();
        AddRef();
        return S_OK;
    }
    HRESULT GetTypeInfoType(UINT index, TYPEKIND* kind) override {
        if (kind == nullptr) return E_INVALIDARG;
        if (index >= data_.types.size()) return TYPE_E_ELEMENTNOTFOUND;
        *kind = data_.types[index].kind;
        return S_OK;
    }
    HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** info) override {
        if (info == nullptr) return E_INVALIDARG;
        *info = nullptr;
        for (UINT i = 0; i < data_.types.size(); ++i)
            if (data_.types[i].guid == guid) return GetTypeInfo(i, info);
        return TYPE_E_ELEMENTNOTFOUND;
    }
    HRESULT GetLibAttr(TLIBATTR** attr) override {
        if (attr == nullptr) return E_INVALIDARG;
        *attr = new TLIBATTR{data_.libid, data_.lcid,  sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32,
                             data_.major, data_.minor, data_.flags};
        return S_OK;
    }
    HRESULT GetTypeComp(ITypeComp** comp) override {
        if (comp) *comp = nullptr;
        return E_NOTIMPL;
    }
    HRESULT GetDocumentation(INT index, BSTR* name, BSTR* docString, DWORD* helpContext,
                             BSTR* helpFile) override {
        const std::u16string* n;
        const std::u16string* doc;
        if (index == -1) {
            n = &data_.name;
            doc = &data_.help;
        } else if (index >= 0 && static_cast<UINT>(index) < data_.types.size()) {
            n = &data_.types[static_cast<UINT>(index)].name;
            doc = &data_.types[static_cast<UINT>(index)].help;
        } else {
            return TYPE_E_ELEMENTNOTFOUND;
        }
        return Documentation(*n, *doc, name, docString, helpContext, helpFile);
    }
    HRESULT IsName(LPOLESTR nameBuf, ULONG, BOOL* found) override {
        if (nameBuf == nullptr || found == nullptr) return E_INVALIDARG;
        *found = FALSE;
        const std::u16string* stored = LookUp(nameBuf);
        if (stored != nullptr) {
            // The buffer receives the name as the library spells it (same length).
            stored->copy(nameBuf, stored->size());
            *found = TRUE;
        }
        return S_OK;
    }
    HRESULT FindName(LPOLESTR nameBuf, ULONG, ITypeInfo** infos, MEMBERID* ids,
                     USHORT* found) override {
        if (nameBuf == nullptr || infos == nullptr || ids == nullptr || found == nullptr)
            return E_INVALIDARG;
        USHORT room = *found, n = 0;
        std::u16string_view name(nameBuf);
        for (UINT t = 0; t < data_.types.size() && n < room; ++t) {
            const TlbType& type = data_.types[t];
            MEMBERID id;
            if (EqualNoCase(type.name, name)) {
                id = MEMBERID_NIL;
            } else {
                int m = talrec::com::FindName(type.members, name, NameOf);
                if (m < 0) continue;
                id = type.members[static_cast<UINT>(m)].memid;
            }
            GetTypeInfo(t, &infos[n]);
            ids[n++] = id;
        }
        *found = n;
        return S_OK;
    }
    void ReleaseTLibAttr(TLIBATTR* attr) override { delete attr; }

    HRESULT Documentation(const std::u16string& n, const std::u16string& doc, BSTR* name,
                          BSTR* docString, DWORD* helpContext, BSTR* helpFile) {
        if (name) *name = nullptr;
        if (docString) *docString = nullptr;
        if (helpFile) *helpFile = nullptr;
        if (helpContext) *helpContext = data_.helpContext;
        if (FAILED(Out(name, n)) || FAILED(Out(docString, doc)) ||
            FAILED(Out(helpFile, data_.helpFile))) {
            if (name) SysFreeString(*name);
            if (docString) SysFreeString(*docString);
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }

    const TlbLibrary& Data() const { return data_; }

  private:
    ~TypeLib() = default;

    // The stored spelling of a type, member or parameter name, case ignored.
    const std::u16string* LookUp(std::u16string_view name) {
        for (const TlbType& type : data_.types) {
            if (EqualNoCase(type.name, name)) return &type.name;
            for (const TlbMember& m : type.members) {
                if (EqualNoCase(m.name, name)) return &m.name;
                for (const TlbParam& p : m.params)
                    if (EqualNoCase(p.name, name)) return &p.name;
            }
        }
        return nullptr;
    }

    IUnknown* Interface(REFIID riid) override {
        return riid == IID_ITypeLib ? static_cast<ITypeLib*>(this) : nullptr;
    }

    TlbLibrary data_;
    std::vector<std::unique_ptr<TypeInfo>> infos_;
};

HRESULT TypeInfo::QueryInterface(REFIID riid, void** out) {
    if (out == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ITypeInfo) {
        *out = static_cast<ITypeInfo*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}
ULONG TypeInfo::AddRef() {
    return lib_->AddRef();
}
ULONG TypeInfo::Release() {
    return lib_->Release();
}

const TlbType& TypeInfo::Type() const {
    return lib_->Data().types[index_];
}

const TlbMember* TypeInfo::Member(MEMBERID memid) const {
    for (const TlbMember& m : Type().members)
        if (m.memid == memid) return &m;
    return nullptr;
}

const TlbMember* TypeInfo::NthOfKind(TLIBMEMBERKIND kind, UINT n) const {
    for (const TlbMember& m : Type().members) {
        if (m.kind != kind) continue;
        if (n-- == 0) return &m;
    }
    return nullptr;
}

HRESULT TypeInfo::GetTypeAttr(TYPEATTR** attr) {
    if (attr == nullptr) return E_INVALIDARG;
    const TlbType& type = Type();
    auto* a = new TYPEATTR{};
    a->guid = type.guid;
    a->lcid = lib_->Data().lcid;
    a->memidConstructor = MEMBERID_NIL;
    a->memidDestructor = MEMBERID_NIL;
    a->typekind = type.kind;
    for (const TlbMember& m : type.members) {
        if (m.kind == TLIBMEMBER_METHOD)
            ++a->cFuncs;
        else
            ++a->cVars;
    }
    a->cImplTypes = static_cast<WORD>(type.impls.size());
    a->cbSizeVft = type.kind == TKIND_COCLASS ? 0 : static_cast<WORD>(7 * sizeof(void*));
    a->cbAlignment = static_cast<WORD>(sizeof(void*));
    a->wTypeFlags = type.flags;
    a->wMajorVerNum = lib_->Data().major;
    a->wMinorVerNum = lib_->Data().minor;
    a->tdescAlias.vt = VT_EMPTY;
    *attr = a;
    return S_OK;
}

HRESULT TypeInfo::GetFuncDesc(UINT index, FUNCDESC** desc) {
    if (desc == nullptr) return E_INVALIDARG;
    *desc = nullptr;
    const TlbMember* m = NthOfKind(TLIBMEMBER_METHOD, index);
    if (m == nullptr) return TYPE_E_ELEMENTNOTFOUND;
    auto* d = new FUNCDESC{};
    d->memid = m->memid;
    d->funckind = FUNC_DISPATCH;
    d->invkind = INVOKE_FUNC;
    d->callconv = CC_STDCALL;
    d->cParams = static_cast<SHORT>(m->params.size());
    d->elemdescFunc.tdesc.vt = m->vt == VT_EMPTY ? static_cast<VARTYPE>(VT_VOID) : m->vt;
    d->wFuncFlags = m->flags;
    if (!m->params.empty()) {
        d->lprgelemdescParam = new ELEMDESC[m->params.size()]{};
        for (std::size_t i = 0; i < m->params.size(); ++i) {
            d->lprgelemdescParam[i].tdesc.vt = m->params[i].vt;
            d->lprgelemdescParam[i].paramdesc.wParamFlags = PARAMFLAG_FIN;
        }
    }
    *desc = d;
    return S_OK;
}

HRESULT TypeInfo::GetVarDesc(UINT index, VARDESC** desc) {
    if (desc == nullptr) return E_INVALIDARG;
    *desc = nullptr;
    const TlbMember* m = NthOfKind(TLIBMEMBER_PROPERTY, index);
    if (m == nullptr) return TYPE_E_ELEMENTNOTFOUND;
    auto* d = new VARDESC{};
    d->memid = m->memid;
    d->elemdescVar.tdesc.vt = m->vt;
    d->wVarFlags = m->flags;
    d->varkind = VAR_DISPATCH;
    *desc = d;
    return S_OK;
}

HRESULT TypeInfo::GetNames(MEMBERID memid, BSTR* names, UINT maxNames, UINT* count) {
    if (names == nullptr || count == nullptr) return E_INVALIDARG;
    *count = 0;
    const TlbMember* m = Member(memid);
    if (m == nullptr) return TYPE_E_ELEMENTNOTFOUND;
    std::vector<const std::u16string*> all{&m->name};
    for (const TlbParam& p : m->params) all.push_back(&p.name);
    UINT n = 0;
    for (; n < maxNames && n < all.size(); ++n) {
        if (FAILED(Out(&names[n], *all[n]))) {
            for (UINT k = 0; k < n; ++k) SysFreeString(names[k]);
            return E_OUTOFMEMORY;
        }
    }
    *count = n;
    return S_OK;
}

HRESULT TypeInfo::GetRefTypeOfImplType(UINT index, HREFTYPE* ref) {
    if (ref == nullptr) return E_INVALIDARG;
    if (index >= Type().impls.size()) return TYPE_E_ELEMENTNOTFOUND;
    *ref = Type().impls[index].typeIndex;
    return S_OK;
}

HRESULT TypeInfo::GetImplTypeFlags(UINT index, INT* flags) {
    if (flags == nullptr) return E_INVALIDARG;
    if (index >= Type().impls.size()) return TYPE_E_ELEMENTNOTFOUND;
    *flags = Type().impls[index].flags;
    return S_OK;
}

HRESULT TypeInfo::GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) {
    if (names == nullptr || ids == nullptr || count == 0) return E_INVALIDARG;
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    if (names[0] == nullptr) return E_INVALIDARG;
    const auto& members = Type().members;
    int found = FindName(members, std::u16string_view(names[0]), NameOf);
    if (found < 0) return DISP_E_UNKNOWNNAME;
    const TlbMember& m = members[static_cast<UINT>(found)];
    ids[0] = m.memid;
    HRESULT hr = S_OK;
    for (UINT i = 1; i < count; ++i) {
        int p = names[i] ? FindName(m.params, std::u16string_view(names[i]), ParamName) : -1;
        if (p < 0) {
            hr = DISP_E_UNKNOWNNAME;
        } else {
            ids[i] = p;
        }
    }
    return hr;
}

HRESULT TypeInfo::GetDocumentation(MEMBERID memid, BSTR* name, BSTR* docString, DWORD* helpContext,
                                   BSTR* helpFile) {
    if (memid == MEMBERID_NIL)
        return lib_->Documentation(Type().name, Type().help, name, docString, helpContext,
                                   helpFile);
    const TlbMember* m = Member(memid);
    if (m == nullptr) return TYPE_E_ELEMENTNOTFOUND;
    return lib_->Documentation(m->name, m->help, name, docString, helpContext, helpFile);
}

HRESULT TypeInfo::GetRefTypeInfo(HREFTYPE ref, ITypeInfo** info) {
    if (info == nullptr) return E_INVALIDARG;
    *info = nullptr;
    if (ref >= lib_->GetTypeInfoCount()) return TYPE_E_ELEMENTNOTFOUND;
    return lib_->GetTypeInfo(ref, info);
}

HRESULT TypeInfo::GetContainingTypeLib(ITypeLib** lib, UINT* index) {
    if (lib == nullptr) return E_INVALIDARG;
    lib_->AddRef();
    *lib = lib_;
    if (index != nullptr) *index = index_;
    return S_OK;
}

}  // namespace

HRESULT MakeTypeLib(TlbLibrary library, ITypeLib** lib) {
    if (lib == nullptr) return E_INVALIDARG;
    *lib = new TypeLib(std::move(library));
    return S_OK;
}

}  // namespace talrec::com

HRESULT DispGetIDsOfNames(ITypeInfo* info, LPOLESTR* names, UINT count, DISPID* ids) {
    if (info == nullptr) return E_INVALIDARG;
    return info->GetIDsOfNames(names, count, ids);
}
