#include "platform/win32/win32.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>

BOOL QueryPerformanceCounter(LARGE_INTEGER* count) {
    if (count == nullptr) return 0;
    count->QuadPart = std::chrono::duration_cast<std::chrono::nanoseconds>(
                          std::chrono::steady_clock::now().time_since_epoch())
                          .count();
    return 1;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
    if (frequency == nullptr) return 0;
    frequency->QuadPart = 1'000'000'000;
    return 1;
}

BSTR SysAllocString(const OLECHAR* text) {
    if (text == nullptr) return nullptr;
    std::size_t length = 0;
    while (text[length] != 0) ++length;
    const std::size_t bytes = length * sizeof(OLECHAR);
    auto* block = static_cast<unsigned char*>(std::malloc(sizeof(std::uint32_t) + bytes + sizeof(OLECHAR)));
    if (block == nullptr) return nullptr;
    const auto prefix = static_cast<std::uint32_t>(bytes);
    std::memcpy(block, &prefix, sizeof prefix);
    auto* chars = reinterpret_cast<OLECHAR*>(block + sizeof prefix);
    std::memcpy(chars, text, bytes + sizeof(OLECHAR));
    return chars;
}

UINT SysStringLen(BSTR text) {
    if (text == nullptr) return 0;
    std::uint32_t bytes = 0;
    std::memcpy(&bytes, reinterpret_cast<unsigned char*>(text) - sizeof bytes, sizeof bytes);
    return bytes / sizeof(OLECHAR);
}

void SysFreeString(BSTR text) {
    if (text != nullptr) std::free(reinterpret_cast<unsigned char*>(text) - sizeof(std::uint32_t));
}

namespace {

class DescribedErrorInfo final : public IErrorInfo {
public:
    explicit DescribedErrorInfo(const OLECHAR* description) : description_(SysAllocString(description)) {}

    std::uint32_t AddRef() override { return ++references_; }
    std::uint32_t Release() override {
        const std::uint32_t left = --references_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT GetDescription(BSTR* description) override {
        if (description == nullptr) return static_cast<HRESULT>(0x80004003);  // E_POINTER
        *description = description_ ? SysAllocString(description_) : nullptr;
        return 0;
    }

private:
    ~DescribedErrorInfo() { SysFreeString(description_); }
    std::atomic<std::uint32_t> references_{1};
    BSTR description_;
};

}  // namespace

IErrorInfo* CreateDescribedErrorInfo(const OLECHAR* description) {
    return new (std::nothrow) DescribedErrorInfo(description);
}

_com_error::_com_error(HRESULT result, IErrorInfo* info, bool add_ref) noexcept : result_(result), info_(info) {
    if (info_ != nullptr && add_ref) info_->AddRef();
}

_com_error::_com_error(const _com_error& other) noexcept : result_(other.result_), info_(other.info_) {
    if (info_ != nullptr) info_->AddRef();
}

_com_error& _com_error::operator=(const _com_error& other) noexcept {
    if (this != &other) {
        if (other.info_ != nullptr) other.info_->AddRef();
        if (info_ != nullptr) info_->Release();
        result_ = other.result_;
        info_ = other.info_;
    }
    return *this;
}

_com_error::~_com_error() {
    if (info_ != nullptr) info_->Release();
}

IErrorInfo* _com_error::ErrorInfo() const noexcept {
    if (info_ != nullptr) info_->AddRef();
    return info_;
}

BSTR _com_error::Description() const {
    if (info_ == nullptr) return nullptr;
    BSTR description = nullptr;
    if (info_->GetDescription(&description) != 0) return nullptr;
    return description;
}
