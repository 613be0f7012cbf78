// The application-framework pieces the audio engine stands on: the root object class with
// run-time class records, the exceptions, binary files and the archive.
//
// Contract the callers rely on:
// - Exceptions are thrown by value and caught by reference (`catch (CFileException& e)`);
//   the framework's pointer form (`THROW(new ...)`, `e->Delete()`) is not used. Every
//   exception here is also a std::exception whose what() is its message text.
// - CFile is a file handle of the platform (CreateFileA and the calls on a handle); its open
//   modes become the handle's access and share modes as the framework maps them, and every
//   failure is the platform's last error, mapped to a cause by OsErrorToException. So a CFile
//   opened shareExclusive (or shareCompat) makes every other open of the file fail with a
//   sharingViolation while it lasts, from this process or another, and so does a second
//   open while another handle holds the file without sharing.
// - A CFile is used by one thread at a time.
// - Allocation failures surface as std::bad_alloc, the platform's allocation failure.
#pragma once

#include <exception>
#include <string>
#include <vector>

#include "platform/windef.h"

class CArchive;
class CObject;

// The run-time record of a class derived from CObject: name, schema and factory.
struct CRuntimeClass {
    LPCSTR m_lpszClassName;
    int m_nObjectSize;
    UINT m_wSchema;
    CObject* (*m_pfnCreateObject)();  // null when the class cannot be created by name
    const CRuntimeClass* m_pBaseClass;

    CObject* CreateObject() const;
    BOOL IsDerivedFrom(const CRuntimeClass* pBaseClass) const;

    // The registered class of this name, or null. Classes register with AfxClassInit.
    static const CRuntimeClass* FromName(LPCSTR lpszClassName);
    // Creates an object of the registered class of this name, or returns null.
    static CObject* CreateObject(LPCSTR lpszClassName);
};

// Registers a class record so that CRuntimeClass::FromName finds it. Called once per class
// from a static initialiser; the record must live for the whole program.
void AfxClassInit(const CRuntimeClass* pNewClass);

// The root object class. Virtual operations in slot order: GetRuntimeClass, the destructor,
// Serialize.
class CObject {
  public:
    static const CRuntimeClass classCObject;

    virtual const CRuntimeClass* GetRuntimeClass() const;
    virtual ~CObject() = default;
    virtual void Serialize(CArchive& ar);

    BOOL IsKindOf(const CRuntimeClass* pClass) const;
    BOOL IsSerializable() const;

  protected:
    CObject() = default;
    CObject(const CObject&) = default;
    CObject& operator=(const CObject&) = default;
};

// Base of the framework's exceptions.
class CException : public CObject, public std::exception {
  public:
    static const CRuntimeClass classCException;
    const CRuntimeClass* GetRuntimeClass() const override;

    // Copies the message text into lpszError (at most nMaxError bytes with the terminating
    // zero). pnHelpContext, if given, receives 0.
    virtual BOOL GetErrorMessage(LPSTR lpszError, UINT nMaxError,
                                 UINT* pnHelpContext = nullptr) const;
    const char* what() const noexcept override;

  protected:
    virtual std::string Message() const = 0;

  private:
    mutable std::string what_;
};

// A failed file operation: the framework's cause, the OS error (a Win32 error code, -1 when
// the failure is not the operating system's) and the file's name (its last path component).
class CFileException : public CException {
  public:
    enum {
        none = 0,
        genericException = 1,
        fileNotFound = 2,
        badPath = 3,
        tooManyOpenFiles = 4,
        accessDenied = 5,
        invalidFile = 6,
        removeCurrentDir = 7,
        directoryFull = 8,
        badSeek = 9,
        hardIO = 10,
        sharingViolation = 11,
        lockViolation = 12,
        diskFull = 13,
        endOfFile = 14,
    };

    static const CRuntimeClass classCFileException;
    const CRuntimeClass* GetRuntimeClass() const override;

    explicit CFileException(int cause = none, LONG lOsError = -1, std::string strFileName = {});

    // The cause for a Win32 error code, as the framework maps them.
    static int OsErrorToException(LONG lOsError);
    // Throws a CFileException with the cause of the Win32 error code and that code.
    [[noreturn]] static void ThrowOsError(LONG lOsError, const std::string& strFileName = {});

    int m_cause;
    LONG m_lOsError;
    std::string m_strFileName;

  protected:
    std::string Message() const override;
};

// Throws CFileException(cause, lOsError, the last path component of lpszFileName).
[[noreturn]] void AfxThrowFileException(int cause, LONG lOsError = -1,
                                        LPCSTR lpszFileName = nullptr);

// The last path component of a path: what follows its last separator (multibyte-aware).
std::string AfxGetFileName(const std::string& path);

// A binary file on disk. Non-copyable; closed by its destructor.
class CFile : public CObject {
  public:
    enum OpenFlags : UINT {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareCompat = 0x0000,     // taken as shareExclusive, as the framework does
        shareExclusive = 0x0010,  // no other open while this one lasts
        shareDenyWrite = 0x0020,  // others may open it for reading only
        shareDenyRead = 0x0030,   // others may open it for writing only
        shareDenyNone = 0x0040,   // others may open it for reading and writing (not delete it)
        modeNoInherit = 0x0080,   // always so: handles are never inherited
        modeCreate = 0x1000,      // create the file, or truncate it if it exists
        modeNoTruncate = 0x2000,  // with modeCreate: keep an existing file's contents
        typeText = 0x4000,        // ignored: every file is binary here
        typeBinary = 0x8000,
    };
    enum SeekPosition : UINT { begin = 0x0, current = 0x1, end = 0x2 };

    static const CRuntimeClass classCFile;
    const CRuntimeClass* GetRuntimeClass() const override;

    CFile();
    // Opens the file or throws CFileException.
    CFile(LPCSTR lpszFileName, UINT nOpenFlags);
    ~CFile() override;
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // Opens the file. On failure returns FALSE and fills *pError when given.
    virtual BOOL Open(LPCSTR lpszFileName, UINT nOpenFlags, CFileException* pError = nullptr);
    // Reads up to nCount bytes; returns the number read, less than nCount only at the end of
    // the file. Throws CFileException when the system refuses the read.
    virtual UINT Read(void* lpBuf, UINT nCount);
    // Writes all nCount bytes or throws CFileException (diskFull for a full disk).
    virtual void Write(const void* lpBuf, UINT nCount);
    virtual ULONGLONG Seek(LONGLONG lOff, UINT nFrom);
    virtual ULONGLONG GetPosition() const;
    virtual ULONGLONG GetLength() const;
    // Cuts or extends the file to dwNewLen bytes and leaves the position there.
    virtual void SetLength(ULONGLONG dwNewLen);
    // Writes the file's data through to the disk (the system refuses it for a file opened
    // for reading only).
    virtual void Flush();
    // Closes the file; throws CFileException if the system reports a failure on close.
    virtual void Close();
    // Closes the file, ignoring every failure.
    virtual void Abort();

    ULONGLONG SeekToBegin() { return Seek(0, begin); }
    ULONGLONG SeekToEnd() { return Seek(0, end); }
    BOOL IsOpen() const { return m_hFile != INVALID_HANDLE_VALUE; }
    std::string GetFileName() const { return AfxGetFileName(m_strFileName); }
    const std::string& GetFilePath() const { return m_strFileName; }
    void SetFilePath(const std::string& path) { m_strFileName = path; }

  protected:
    // Throws the CFileException of the thread's last error for this file.
    [[noreturn]] void ThrowLastError() const;

    HANDLE m_hFile = INVALID_HANDLE_VALUE;
    std::string m_strFileName;
};

// A file held in memory, growing as it is written. It gives the readers and writers that
// take a CFile a file without a disk (tests, fuzzing).
class CMemFile : public CFile {
  public:
    static const CRuntimeClass classCMemFile;
    const CRuntimeClass* GetRuntimeClass() const override;

    CMemFile() = default;
    // A file whose contents are a copy of nBufferSize bytes at lpBuffer, positioned at 0.
    CMemFile(const BYTE* lpBuffer, UINT nBufferSize);

    BOOL Open(LPCSTR lpszFileName, UINT nOpenFlags, CFileException* pError = nullptr) override;
    UINT Read(void* lpBuf, UINT nCount) override;
    void Write(const void* lpBuf, UINT nCount) override;
    ULONGLONG Seek(LONGLONG lOff, UINT nFrom) override;
    ULONGLONG GetPosition() const override { return m_nPosition; }
    ULONGLONG GetLength() const override { return data_.size(); }
    void SetLength(ULONGLONG dwNewLen) override;
    void Flush() override {}
    void Close() override {}
    void Abort() override {}

    const std::vector<BYTE>& GetContents() const { return data_; }

  private:
    std::vector<BYTE> data_;
    std::size_t m_nPosition = 0;
};

// An archive on a file. This archive keeps no buffer of its own: what an object's Serialize
// reads or writes through GetFile() goes straight to the file.
class CArchive {
  public:
    enum Mode : UINT { store = 0, load = 1, bNoFlushOnDelete = 2 };

    CArchive(CFile* pFile, UINT nMode) : m_pFile(pFile), m_nMode(nMode) {}
    CArchive(const CArchive&) = delete;
    CArchive& operator=(const CArchive&) = delete;

    BOOL IsLoading() const { return (m_nMode & load) != 0; }
    BOOL IsStoring() const { return (m_nMode & load) == 0; }
    CFile* GetFile() const { return m_pFile; }
    void Flush() {
        if (IsStoring()) m_pFile->Flush();
    }
    void Close() { Flush(); }

  private:
    CFile* m_pFile;
    UINT m_nMode;
};
