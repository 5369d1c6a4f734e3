#include "plugin/host_refs.h"

namespace Gatan::PlugIn {

void assign_result_slot(DM_Handle* slot, ImageRef image) {
    const ImageRef previous = ImageRef::adopt(*slot);
    *slot = image.release();
}

StringRef make_string(const std::string& text) {
    return StringRef::adopt(host_class(HostClass::String)->CreateFromText(text.data(), text.data() + text.size()));
}

std::string string_text(DM_Handle string) {
    if (string == nullptr) return {};
    DM_ObjectClass* strings = host_class(HostClass::String);
    std::string text(strings->CopyText(string, nullptr, 0), '\0');
    if (!text.empty()) strings->CopyText(string, text.data(), text.size());
    return text;
}

}  // namespace Gatan::PlugIn
