#include "platform/foundation/foundation.h"

#include <array>
#include <cstdio>
#include <mutex>

namespace Gatan {

namespace {

// Texts of exceptions handed to the host, keyed by ticket. A fixed ring:
// the host redeems a ticket at once, and an unredeemed one is overwritten.
struct ExceptionTexts {
    struct Entry {
        std::intptr_t ticket = 0;
        std::string text;
    };
    std::mutex mutex;
    std::array<Entry, 64> ring;
    std::intptr_t next_ticket = 1;
};

// The process-wide state below is never destroyed: reports may come while
// other static objects are destroyed at exit.
ExceptionTexts& exception_texts() {
    static ExceptionTexts* const texts = new ExceptionTexts;
    return *texts;
}

struct ReportLog {
    std::mutex mutex;
    std::vector<ErrorReport> reports;
};

ReportLog& report_log() {
    static ReportLog* const log = new ReportLog;
    return *log;
}

void record(std::int32_t code, const char* text, bool continuable) {
    auto& log = report_log();
    std::lock_guard lock(log.mutex);
    log.reports.push_back({code, text ? text : "", continuable});
}

ErrorManager* g_error_manager = nullptr;

}  // namespace

gatan_exception::~gatan_exception() = default;

const char* gatan_exception::what() const noexcept { return "Gatan exception"; }

void gatan_exception::get_error_code(std::int32_t& code, std::intptr_t& parameter) const {
    code = 0;
    parameter = 0;
}

void gatan_exception::get_exception_info(const std::exception& e, std::int32_t& code,
                                         std::intptr_t& parameter) {
    auto& texts = exception_texts();
    std::lock_guard lock(texts.mutex);
    const std::intptr_t ticket = texts.next_ticket++;
    auto& entry = texts.ring[static_cast<std::size_t>(ticket) % texts.ring.size()];
    entry.ticket = ticket;
    entry.text = e.what();
    code = kExceptionTextCode;
    parameter = ticket;
}

bool take_exception_text(std::intptr_t ticket, std::string& text) {
    auto& texts = exception_texts();
    std::lock_guard lock(texts.mutex);
    if (ticket <= 0) return false;
    auto& entry = texts.ring[static_cast<std::size_t>(ticket) % texts.ring.size()];
    if (entry.ticket != ticket) return false;
    text = std::move(entry.text);
    entry.ticket = 0;
    entry.text = std::string();
    return true;
}

std_gatan_exception::std_gatan_exception(std::int32_t code, const char* text)
    : code_(code), text_(text ? text : "") {}

std_gatan_exception::~std_gatan_exception() = default;

const char* std_gatan_exception::what() const noexcept { return text_.c_str(); }

void std_gatan_exception::get_error_code(std::int32_t& code, std::intptr_t& parameter) const {
    code = code_;
    parameter = 0;
}

ErrorManager::ErrorManager() = default;
ErrorManager::~ErrorManager() = default;

void ErrorManager::HandleExceptionError(std::int32_t code, const char* text) { record(code, text, false); }

void ErrorManager::HandleContinuableError(const gatan_exception& error) {
    std::int32_t code = 0;
    std::intptr_t parameter = 0;
    error.get_error_code(code, parameter);
    record(code, error.what(), true);
}

ErrorManager* GetErrorManager() { return g_error_manager; }
void SetErrorManager(ErrorManager* manager) { g_error_manager = manager; }

std::vector<ErrorReport> error_reports() {
    auto& log = report_log();
    std::lock_guard lock(log.mutex);
    return log.reports;
}

void clear_error_reports() {
    auto& log = report_log();
    std::lock_guard lock(log.mutex);
    log.reports.clear();
}

char* char_range_buffer_printf(char* begin, char* end, const char* format, ...) {
    if (begin == nullptr || end <= begin) return begin;
    const auto capacity = static_cast<std::size_t>(end - begin);
    va_list args;
    va_start(args, format);
    const int written = std::vsnprintf(begin, capacity, format, args);
    va_end(args);
    if (written < 0) {
        *begin = '\0';
        return begin;
    }
    const auto length = static_cast<std::size_t>(written) < capacity ? static_cast<std::size_t>(written)
                                                                      : capacity - 1;
    return begin + length;
}

}  // namespace Gatan
