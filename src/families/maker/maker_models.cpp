#include "families/maker/maker_models.h"

#include "base/text.h"

namespace {

struct Row {
    const char* NamePart;
    MakerModel Model;
};

// A new model that takes another form is one row here.
constexpr Row kModels[] = {
    {"PLX-420S", {MakerForm::FirmwareCgi}},
};

}  // namespace

MakerModel MakerModelOf(const std::string& modelName) {
    for (const Row& row : kModels) {
        if (ContainsNoCase(modelName, row.NamePart)) return row.Model;
    }
    return {};
}
