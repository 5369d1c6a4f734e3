#pragma once
// Our stand-in for the host application's foundation library: the error
// manager, the exception base the host understands, and a bounded printf.

#include <cstdarg>
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#define ZORVAN_FOUNDATION_API __attribute__((visibility("default")))

namespace Gatan {

// Code that get_exception_info gives every exception: its parameter is a
// ticket for the exception's text, redeemed once with take_exception_text.
inline constexpr std::int32_t kExceptionTextCode = 0x7081;

class ZORVAN_FOUNDATION_API gatan_exception : public std::exception {
public:
    ~gatan_exception() override;
    const char* what() const noexcept override;
    // The host error code and parameter this exception stands for.
    virtual void get_error_code(std::int32_t& code, std::intptr_t& parameter) const;

    // Gives the code and pointer-sized parameter under which the host can
    // show `e`: kExceptionTextCode and a ticket for e.what(). The text is
    // kept in a small ring, so tickets never redeemed cost nothing lasting.
    static void get_exception_info(const std::exception& e, std::int32_t& code,
                                   std::intptr_t& parameter);
};

// An exception with its own code and text.
class ZORVAN_FOUNDATION_API std_gatan_exception : public gatan_exception {
public:
    std_gatan_exception(std::int32_t code, const char* text);
    ~std_gatan_exception() override;
    const char* what() const noexcept override;
    void get_error_code(std::int32_t& code, std::intptr_t& parameter) const override;

private:
    std::int32_t code_;
    std::string text_;
};

// The text behind a ticket of get_exception_info; false when the ticket is
// unknown or was redeemed already (its slot reused by later exceptions).
ZORVAN_FOUNDATION_API bool take_exception_text(std::intptr_t ticket, std::string& text);

struct ErrorReport {
    std::int32_t code;
    std::string text;
    bool continuable;
};

// Reports go to one process-wide log that the host reads.
class ZORVAN_FOUNDATION_API ErrorManager {
public:
    ErrorManager();
    virtual ~ErrorManager();
    virtual void HandleExceptionError(std::int32_t code, const char* text);
    virtual void HandleContinuableError(const gatan_exception& error);
};

// The host's error manager, or null when the host installed none.
ZORVAN_FOUNDATION_API ErrorManager* GetErrorManager();
ZORVAN_FOUNDATION_API void SetErrorManager(ErrorManager* manager);

ZORVAN_FOUNDATION_API std::vector<ErrorReport> error_reports();
ZORVAN_FOUNDATION_API void clear_error_reports();

// printf into [begin, end): writes at most end - begin - 1 characters and
// answers the position after the last one written, which is always before
// `end`, so the caller can terminate the text there.
ZORVAN_FOUNDATION_API char* char_range_buffer_printf(char* begin, char* end, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

}  // namespace Gatan
