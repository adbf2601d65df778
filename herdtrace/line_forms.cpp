// The reader's line forms, converted to UTF-8 once.
#include "line_forms.h"

#include "herdlab_toolkit.h"

namespace herdtrace {

namespace {

namespace toolkit = herdlab_toolkit;

Utf8Forms ConvertedForms() {
    Utf8Forms converted;
    for (const LineForm& form : kEventForms) {
        converted.events.emplace_back(
            form.kind, toolkit::Utf8FromCp1251(form.format.substr(kEventStamp.size())));
    }
    for (const UntimedForm& form : kUntimedForms) {
        std::string format = toolkit::Utf8FromCp1251(form.format);
        if (form.end == UntimedEnd::kFullStop) {
            format += '.';
        }
        converted.untimed.emplace_back(std::move(format), form.end == UntimedEnd::kTypedAnswer);
    }
    converted.elephantPrefix = toolkit::Utf8FromCp1251(kElephantNamePrefix);
    converted.workerPrefix = toolkit::Utf8FromCp1251(kWorkerNamePrefix);
    return converted;
}

}  // namespace

const Utf8Forms& Utf8LineForms() {
    static const Utf8Forms forms = ConvertedForms();
    return forms;
}

}  // namespace herdtrace
