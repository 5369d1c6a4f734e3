#pragma once
// The few Windows calls the plug-in uses, for building it on other systems:
// the performance counter, OLE automation strings and the COM error class.

#include <atomic>
#include <cstdint>

using HRESULT = std::int32_t;
using BOOL = int;
using UINT = unsigned int;
using LONGLONG = std::int64_t;

union LARGE_INTEGER {
    struct {
        std::uint32_t LowPart;
        std::int32_t HighPart;
    } u;
    LONGLONG QuadPart;
};

// A monotonic clock counting nanoseconds: the frequency is 10^9 per second.
BOOL QueryPerformanceCounter(LARGE_INTEGER* count);
BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency);

// OLE automation strings: UTF-16 text behind a 32-bit byte-length prefix.
using OLECHAR = char16_t;
using BSTR = OLECHAR*;

BSTR SysAllocString(const OLECHAR* text);
UINT SysStringLen(BSTR text);
void SysFreeString(BSTR text);

struct IErrorInfo {
    virtual std::uint32_t AddRef() = 0;
    virtual std::uint32_t Release() = 0;
    // A new BSTR the caller frees, or null.
    virtual HRESULT GetDescription(BSTR* description) = 0;

protected:
    ~IErrorInfo() = default;
};

// An error-information object carrying a description (one reference).
IErrorInfo* CreateDescribedErrorInfo(const OLECHAR* description);

// The COM error class: an HRESULT and, optionally, error information.
class _com_error {
public:
    explicit _com_error(HRESULT result, IErrorInfo* info = nullptr, bool add_ref = false) noexcept;
    _com_error(const _com_error& other) noexcept;
    _com_error& operator=(const _com_error& other) noexcept;
    ~_com_error();

    HRESULT Error() const noexcept { return result_; }
    // The error information with a new reference, or null.
    IErrorInfo* ErrorInfo() const noexcept;
    // The description as a new BSTR the caller frees, or null.
    BSTR Description() const;

private:
    HRESULT result_;
    IErrorInfo* info_;
};
