#include "plugin/errors.h"

#include "platform/win32/win32.h"
#include "plugin/host_functions.h"

#include <cstring>
#include <string>

namespace Gatan::PlugIn {

namespace {

char g_manager_text[512];
char g_assertion_text[1024];

// UTF-16 to 8-bit (UTF-8) text.
std::string narrow(const OLECHAR* text, UINT length) {
    std::string out;
    for (UINT i = 0; i < length; ++i) {
        std::uint32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

void handle_with_error_manager(std::int32_t code, const char* text) {
    if (Gatan::ErrorManager* manager = Gatan::GetErrorManager()) {
        manager->HandleExceptionError(code, text);
    } else {
        Gatan::ErrorManager temporary;
        temporary.HandleExceptionError(code, text);
    }
}

}  // namespace

// ---- dmplugin_exception ---------------------------------------------------

namespace {
char g_what_buffer[1024];  // shared by every exception; overwritten by each what()
}

dmplugin_exception::dmplugin_exception(DM_Handle throwable) : throwable_(throwable) {
    if (throwable_ != nullptr) host_class(HostClass::Throwable)->AddRef(throwable_);
}

dmplugin_exception::dmplugin_exception(const dmplugin_exception& other)
    : Gatan::gatan_exception(other), throwable_(other.throwable_) {
    if (throwable_ != nullptr) host_class(HostClass::Throwable)->AddRef(throwable_);
}

dmplugin_exception::~dmplugin_exception() {
    if (throwable_ != nullptr) host_class(HostClass::Throwable)->Release(throwable_);
}

const char* dmplugin_exception::what() const noexcept {
    if (throwable_ == nullptr) return "";
    try {
        const DM_PlugInEnv context;
        const StringRef message = StringRef::adopt(context->GetThrowableMessage(throwable_));
        const std::string text = string_text(message.get());
        const std::size_t length = text.size() < sizeof g_what_buffer - 1 ? text.size() : sizeof g_what_buffer - 1;
        std::memcpy(g_what_buffer, text.data(), length);
        g_what_buffer[length] = '\0';
    } catch (...) {
        g_what_buffer[0] = '\0';
    }
    return g_what_buffer;
}

void dmplugin_exception::get_error_code(std::int32_t& code, std::intptr_t& parameter) const {
    code = 0;
    parameter = 0;
    if (throwable_ == nullptr) return;
    const DM_PlugInEnv context;
    context->GetThrowableCode(throwable_, &code, &parameter);
}

// ---- reporting ---------------------------------------------------------------

DM_Handle convert_exception_in_flight(DM_ScriptContext* context) {
    try {
        throw;
    } catch (const dmplugin_exception& error) {
        if (error.throwable() != nullptr) host_class(HostClass::Throwable)->AddRef(error.throwable());
        return error.throwable();
    } catch (const std::exception& error) {
        std::int32_t code = 0;
        std::intptr_t parameter = 0;
        Gatan::gatan_exception::get_exception_info(error, code, parameter);
        return context->NewThrowable(code, parameter);
    } catch (const _com_error& error) {
        BSTR description = error.Description();
        const UINT length = SysStringLen(description);
        if (description != nullptr && length > 0) {
            std::string text;
            try {
                text = narrow(description, length);
            } catch (...) {
                SysFreeString(description);
                throw;
            }
            SysFreeString(description);
            return NewThrowableFromString(context, text).release();
        }
        SysFreeString(description);
        return context->NewThrowable(kComErrorCode, static_cast<std::intptr_t>(error.Error()));
    } catch (...) {
        return context->NewThrowable(kUnknownExceptionCode, 0);
    }
}

void report_exception_in_flight(DM_ScriptContext* given_context) {
    const DM_PlugInEnv context(given_context);
    const ThrowableRef throwable = ThrowableRef::adopt(convert_exception_in_flight(context.context()));
    context->RaiseThrowable(throwable.get());
}

void report_to_error_manager(std::int32_t code, const char* text) {
    const std::size_t length = text ? strnlen(text, sizeof g_manager_text - 1) : 0;
    if (length > 0) std::memcpy(g_manager_text, text, length);
    g_manager_text[length] = '\0';
    handle_with_error_manager(code, g_manager_text);
}

bool assertion_report(const char* file, long line, const char* condition, int qualification) {
    char* const end = g_assertion_text + sizeof g_assertion_text;
    char* written = Gatan::char_range_buffer_printf(g_assertion_text, end, "File \"%s\", Line %ld: Assertion \"%s\" Failed!",
                                                    file, line, condition);
    *written = '\0';
    if (qualification < 0) return false;
    if (qualification <= 1) {
        handle_with_error_manager(kErrorManagerCode, g_assertion_text);
    } else if (qualification == 2) {
        const Gatan::std_gatan_exception error(kErrorManagerCode, g_assertion_text);
        if (Gatan::ErrorManager* manager = Gatan::GetErrorManager()) {
            manager->HandleContinuableError(error);
        } else {
            Gatan::ErrorManager temporary;
            temporary.HandleContinuableError(error);
        }
    }
    return false;
}

}  // namespace Gatan::PlugIn
