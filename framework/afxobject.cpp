// Run-time class records and their registry, and the root object class.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "framework/afx.h"

namespace {
// Schema of a class that cannot be serialised.
constexpr UINT kNoSchema = 0xFFFF;

struct ClassRegistry {
    std::mutex lock;
    std::vector<const CRuntimeClass*> classes;
};

ClassRegistry& Registry() {
    static ClassRegistry registry;
    return registry;
}
}  // namespace

const CRuntimeClass CObject::classCObject = {"CObject", sizeof(CObject), kNoSchema, nullptr,
                                             nullptr};

CObject* CRuntimeClass::CreateObject() const {
    return m_pfnCreateObject != nullptr ? m_pfnCreateObject() : nullptr;
}

BOOL CRuntimeClass::IsDerivedFrom(const CRuntimeClass* pBaseClass) const {
    for (const CRuntimeClass* c = this; c != nullptr; c = c->m_pBaseClass) {
        if (c == pBaseClass) return TRUE;
    }
    return FALSE;
}

const CRuntimeClass* CRuntimeClass::FromName(LPCSTR lpszClassName) {
    if (lpszClassName == nullptr) return nullptr;
    ClassRegistry& registry = Registry();
    std::lock_guard<std::mutex> hold(registry.lock);
    for (const CRuntimeClass* c : registry.classes) {
        if (std::strcmp(c->m_lpszClassName, lpszClassName) == 0) return c;
    }
    return nullptr;
}

CObject* CRuntimeClass::CreateObject(LPCSTR lpszClassName) {
    const CRuntimeClass* c = FromName(lpszClassName);
    return c != nullptr ? c->CreateObject() : nullptr;
}

void AfxClassInit(const CRuntimeClass* pNewClass) {
    ClassRegistry& registry = Registry();
    std::lock_guard<std::mutex> hold(registry.lock);
    registry.classes.push_back(pNewClass);
}

const CRuntimeClass* CObject::GetRuntimeClass() const {
    return &classCObject;
}

void CObject::Serialize(CArchive&) {}

BOOL CObject::IsKindOf(const CRuntimeClass* pClass) const {
    return GetRuntimeClass()->IsDerivedFrom(pClass);
}

BOOL CObject::IsSerializable() const {
    return GetRuntimeClass()->m_wSchema != kNoSchema;
}

const CRuntimeClass CException::classCException = {"CException", sizeof(CException), kNoSchema,
                                                   nullptr, &CObject::classCObject};

const CRuntimeClass* CException::GetRuntimeClass() const {
    return &classCException;
}

BOOL CException::GetErrorMessage(LPSTR lpszError, UINT nMaxError, UINT* pnHelpContext) const {
    if (pnHelpContext != nullptr) *pnHelpContext = 0;
    if (lpszError == nullptr || nMaxError == 0) return FALSE;
    const std::string text = Message();
    const std::size_t n = std::min<std::size_t>(text.size(), nMaxError - 1);
    std::memcpy(lpszError, text.data(), n);
    lpszError[n] = '\0';
    return TRUE;
}

const char* CException::what() const noexcept {
    try {
        what_ = Message();
    } catch (...) {
        return "exception";
    }
    return what_.c_str();
}
