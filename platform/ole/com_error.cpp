// The error table of the platform: every code it publishes, its name and its meaning.
#include <cstdint>

#include "platform/ext/comerror.h"

namespace {

struct HResultEntry {
    HRESULT code;
    const char* name;
    const char* text;
};

struct Win32Entry {
    DWORD code;
    const char* name;
    const char* text;
};

const HResultEntry kHResults[] = {
    {S_OK, "S_OK", "success"},
    {S_FALSE, "S_FALSE", "success, with a negative answer"},
    {E_NOTIMPL, "E_NOTIMPL", "not implemented"},
    {E_NOINTERFACE, "E_NOINTERFACE", "no such interface supported"},
    {E_POINTER, "E_POINTER", "invalid pointer"},
    {E_FAIL, "E_FAIL", "unspecified failure"},
    {E_UNEXPECTED, "E_UNEXPECTED", "catastrophic failure"},
    {E_OUTOFMEMORY, "E_OUTOFMEMORY", "out of memory"},
    {E_INVALIDARG, "E_INVALIDARG", "one or more arguments are invalid"},
    {E_ACCESSDENIED, "E_ACCESSDENIED", "access denied"},
    {CLASS_E_NOAGGREGATION, "CLASS_E_NOAGGREGATION", "the class does not support aggregation"},
    {CLASS_E_CLASSNOTAVAILABLE, "CLASS_E_CLASSNOTAVAILABLE",
     "the module does not serve this class"},
    {REGDB_E_READREGDB, "REGDB_E_READREGDB", "the registry could not be read"},
    {REGDB_E_WRITEREGDB, "REGDB_E_WRITEREGDB", "the registry could not be written"},
    {REGDB_E_KEYMISSING, "REGDB_E_KEYMISSING", "a registry key is missing"},
    {REGDB_E_CLASSNOTREG, "REGDB_E_CLASSNOTREG", "class not registered"},
    {SELFREG_E_TYPELIB, "SELFREG_E_TYPELIB", "the type library could not be registered"},
    {SELFREG_E_CLASS, "SELFREG_E_CLASS", "the class could not be registered"},
    {CONNECT_E_NOCONNECTION, "CONNECT_E_NOCONNECTION", "no such connection"},
    {CONNECT_E_ADVISELIMIT, "CONNECT_E_ADVISELIMIT", "no more connections allowed"},
    {CONNECT_E_CANNOTCONNECT, "CONNECT_E_CANNOTCONNECT",
     "the sink does not support the outgoing interface"},
    {CAT_E_CATIDNOEXIST, "CAT_E_CATIDNOEXIST", "the category does not exist"},
    {CAT_E_NODESCRIPTION, "CAT_E_NODESCRIPTION", "the category has no description"},
    {CO_E_NOTINITIALIZED, "CO_E_NOTINITIALIZED", "the component runtime is not initialised"},
    {CO_E_CLASSSTRING, "CO_E_CLASSSTRING", "invalid class string or unknown ProgID"},
    {CO_E_DLLNOTFOUND, "CO_E_DLLNOTFOUND", "the server module could not be loaded"},
    {CO_E_ERRORINDLL, "CO_E_ERRORINDLL", "the server module has no class object entry"},
    {DISP_E_UNKNOWNINTERFACE, "DISP_E_UNKNOWNINTERFACE", "unknown interface"},
    {DISP_E_MEMBERNOTFOUND, "DISP_E_MEMBERNOTFOUND", "member not found"},
    {DISP_E_PARAMNOTFOUND, "DISP_E_PARAMNOTFOUND", "parameter not found"},
    {DISP_E_TYPEMISMATCH, "DISP_E_TYPEMISMATCH", "type mismatch"},
    {DISP_E_UNKNOWNNAME, "DISP_E_UNKNOWNNAME", "unknown name"},
    {DISP_E_NONAMEDARGS, "DISP_E_NONAMEDARGS", "no named arguments"},
    {DISP_E_BADVARTYPE, "DISP_E_BADVARTYPE", "bad variable type"},
    {DISP_E_EXCEPTION, "DISP_E_EXCEPTION", "exception occurred"},
    {DISP_E_OVERFLOW, "DISP_E_OVERFLOW", "out of present range"},
    {DISP_E_UNKNOWNLCID, "DISP_E_UNKNOWNLCID", "unknown locale"},
    {DISP_E_BADPARAMCOUNT, "DISP_E_BADPARAMCOUNT", "invalid number of parameters"},
    {DISP_E_PARAMNOTOPTIONAL, "DISP_E_PARAMNOTOPTIONAL", "parameter not optional"},
    {TYPE_E_INVDATAREAD, "TYPE_E_INVDATAREAD", "the type library description is malformed"},
    {TYPE_E_REGISTRYACCESS, "TYPE_E_REGISTRYACCESS", "error accessing the registry"},
    {TYPE_E_LIBNOTREGISTERED, "TYPE_E_LIBNOTREGISTERED", "library not registered"},
    {TYPE_E_ELEMENTNOTFOUND, "TYPE_E_ELEMENTNOTFOUND", "element not found"},
    {TYPE_E_CANTLOADLIBRARY, "TYPE_E_CANTLOADLIBRARY", "the type library could not be loaded"},
};

const Win32Entry kWin32[] = {
    {ERROR_SUCCESS, "ERROR_SUCCESS", "the operation completed successfully"},
    {ERROR_INVALID_FUNCTION, "ERROR_INVALID_FUNCTION", "incorrect function"},
    {ERROR_FILE_NOT_FOUND, "ERROR_FILE_NOT_FOUND", "the file or key was not found"},
    {ERROR_PATH_NOT_FOUND, "ERROR_PATH_NOT_FOUND", "the path was not found"},
    {ERROR_TOO_MANY_OPEN_FILES, "ERROR_TOO_MANY_OPEN_FILES", "too many open files"},
    {ERROR_ACCESS_DENIED, "ERROR_ACCESS_DENIED", "access denied"},
    {ERROR_INVALID_HANDLE, "ERROR_INVALID_HANDLE", "the handle is invalid"},
    {ERROR_NOT_ENOUGH_MEMORY, "ERROR_NOT_ENOUGH_MEMORY", "not enough memory"},
    {ERROR_NO_MORE_FILES, "ERROR_NO_MORE_FILES", "there are no more files"},
    {ERROR_SHARING_VIOLATION, "ERROR_SHARING_VIOLATION", "the file is in use"},
    {ERROR_HANDLE_EOF, "ERROR_HANDLE_EOF", "reached the end of the file"},
    {ERROR_FILE_EXISTS, "ERROR_FILE_EXISTS", "the file exists"},
    {ERROR_INVALID_PARAMETER, "ERROR_INVALID_PARAMETER", "the parameter is incorrect"},
    {ERROR_DISK_FULL, "ERROR_DISK_FULL", "there is not enough space on the disk"},
    {ERROR_INSUFFICIENT_BUFFER, "ERROR_INSUFFICIENT_BUFFER", "the buffer is too small"},
    {ERROR_INVALID_NAME, "ERROR_INVALID_NAME", "the name is invalid"},
    {ERROR_MOD_NOT_FOUND, "ERROR_MOD_NOT_FOUND", "the module was not found"},
    {ERROR_PROC_NOT_FOUND, "ERROR_PROC_NOT_FOUND", "the procedure was not found"},
    {ERROR_DIR_NOT_EMPTY, "ERROR_DIR_NOT_EMPTY", "the directory is not empty"},
    {ERROR_ALREADY_EXISTS, "ERROR_ALREADY_EXISTS", "it already exists"},
    {ERROR_FILENAME_EXCED_RANGE, "ERROR_FILENAME_EXCED_RANGE", "the file name is too long"},
    {ERROR_MORE_DATA, "ERROR_MORE_DATA", "more data is available than the buffer holds"},
    {ERROR_NO_MORE_ITEMS, "ERROR_NO_MORE_ITEMS", "no more items"},
    {ERROR_BADDB, "ERROR_BADDB", "the registry file is damaged"},
    {ERROR_BADKEY, "ERROR_BADKEY", "the registry key is invalid"},
    {ERROR_CANTOPEN, "ERROR_CANTOPEN", "the registry key could not be opened"},
    {ERROR_CANTREAD, "ERROR_CANTREAD", "the registry could not be read"},
    {ERROR_CANTWRITE, "ERROR_CANTWRITE", "the registry could not be written"},
    {ERROR_KEY_DELETED, "ERROR_KEY_DELETED", "the registry key has been deleted"},
    {ERROR_NO_UNICODE_TRANSLATION, "ERROR_NO_UNICODE_TRANSLATION",
     "no mapping for the character in the target code page"},
    {ERROR_INVALID_WINDOW_HANDLE, "ERROR_INVALID_WINDOW_HANDLE", "invalid window handle"},
};

}  // namespace

bool DescribeWin32Error(DWORD code, const char** name, const char** text) {
    for (const Win32Entry& e : kWin32) {
        if (e.code != code) continue;
        if (name) *name = e.name;
        if (text) *text = e.text;
        return true;
    }
    return false;
}

bool DescribeHResult(HRESULT hr, const char** name, const char** text) {
    for (const HResultEntry& e : kHResults) {
        if (e.code != hr) continue;
        if (name) *name = e.name;
        if (text) *text = e.text;
        return true;
    }
    auto bits = static_cast<std::uint32_t>(hr);
    if ((bits & 0xFFFF0000u) == 0x80070000u) return DescribeWin32Error(bits & 0xFFFFu, name, text);
    return false;
}
