#include "layout/control_style.h"

#include <limits>
#include <vector>

#include "base/text.h"
#include "layout/layout_language.h"

namespace {

constexpr size_t kStyleFields = 7;

int FieldInt(const std::vector<std::string_view>& fields, size_t index) {
    if (index >= fields.size()) return 0;
    int64_t value = ParseDecimal(fields[index]);
    if (value > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
    if (value < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
    return static_cast<int>(value);
}

}  // namespace

void ParseControlStyle(std::string_view value, int fontChoice, ControlStyle& style) {
    // Empty fields keep their place ("10,,30" is left 10, top 0, width 30); the face,
    // the seventh field, takes the rest of the value.
    std::vector<std::string_view> fields;
    size_t start = 0;
    while (fields.size() < kStyleFields && start <= value.size()) {
        size_t comma = value.find(',', start);
        if (comma == std::string_view::npos || fields.size() + 1 == kStyleFields) {
            comma = value.size();
        }
        fields.push_back(value.substr(start, comma - start));
        start = comma + 1;
    }
    style.Left = FieldInt(fields, 0);
    style.Top = FieldInt(fields, 1);
    style.Width = FieldInt(fields, 2);
    style.Height = FieldInt(fields, 3);
    style.Bold = FieldInt(fields, 4) > 0;
    style.FontSize = FieldInt(fields, 5);
    style.FaceName = fields.size() > 6 ? Trim(fields[6]) : std::string();
    if (fontChoice == font::kArial) style.FaceName = std::string(FontFaceName(font::kArial));
}

std::string_view TextSectionOf(std::string_view styleSection) {
    return styleSection.substr(0, styleSection.find('.'));
}
