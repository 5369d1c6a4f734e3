#include "host/prototype.h"

#include <cctype>

namespace zorvan::host {

namespace {

bool is_identifier_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

std::string_view trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    return text;
}

// Folds runs of blanks to one and drops blanks before '*'.
std::string fold_type(std::string_view text) {
    std::string out;
    bool blank = false;
    for (char c : trim(text)) {
        if (std::isspace(static_cast<unsigned char>(c))) {
            blank = true;
            continue;
        }
        if (blank && !out.empty()) out += ' ';
        blank = false;
        out += c;
    }
    return out;
}

// Splits "type name" into its two parts; a lone type has no name.
bool split_declaration(std::string_view text, std::string& type, std::string& name) {
    text = trim(text);
    if (text.empty()) return false;
    std::size_t end = text.size();
    std::size_t begin = end;
    while (begin > 0 && is_identifier_char(text[begin - 1])) --begin;
    const std::string_view before = trim(text.substr(0, begin));
    if (begin == end || before.empty()) {
        type = fold_type(text);
        name.clear();
        return !type.empty();
    }
    type = fold_type(before);
    name = std::string(text.substr(begin));
    return !type.empty();
}

}  // namespace

ScriptType classify_type(std::string_view written) {
    std::string type;
    for (char c : written) {
        if (!std::isspace(static_cast<unsigned char>(c))) type += c;
    }
    if (type == "void") return ScriptType::void_;
    if (type == "long" || type == "int32" || type == "sint32") return ScriptType::long_;
    if (type == "short" || type == "int16") return ScriptType::short_;
    if (type == "double" || type == "number") return ScriptType::double_;
    if (type == "float") return ScriptType::float_;
    if (type == "double*") return ScriptType::double_ref;
    if (type == "ImageRef" || type == "Image*" || type == "BasicImage") return ScriptType::image;
    if (type == "ImageRef*") return ScriptType::image_ref;
    return ScriptType::other;
}

std::optional<Prototype> parse_prototype(std::string_view text) {
    const std::size_t open = text.find('(');
    const std::size_t close = text.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open) return std::nullopt;
    if (!trim(text.substr(close + 1)).empty()) return std::nullopt;

    Prototype prototype;
    std::string result;
    if (!split_declaration(text.substr(0, open), result, prototype.name) || prototype.name.empty()) {
        return std::nullopt;
    }
    prototype.result_type = result;
    prototype.result = classify_type(result);

    std::string_view list = trim(text.substr(open + 1, close - open - 1));
    if (list.size() >= 3 && list.substr(list.size() - 3) == "...") {
        prototype.variadic = true;
        list = trim(list.substr(0, list.size() - 3));
    }
    if (list.empty() || list == "void") return prototype;
    while (true) {
        const std::size_t comma = list.find(',');
        Parameter parameter;
        if (!split_declaration(list.substr(0, comma), parameter.type, parameter.name)) return std::nullopt;
        parameter.script_type = classify_type(parameter.type);
        prototype.parameters.push_back(std::move(parameter));
        if (comma == std::string_view::npos) break;
        list = list.substr(comma + 1);
    }
    return prototype;
}

}  // namespace zorvan::host
