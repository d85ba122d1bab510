#include "families/families.h"

#include "families/maker/maker_family.h"
#include "families/onvif/onvif_family.h"

namespace {

const MakerFamily kMaker;
const OnvifFamily kOnvif;
// A new family is one folder and one line here.
const IDeviceFamily* const kFamilies[] = {&kMaker, &kOnvif};

}  // namespace

std::span<const IDeviceFamily* const> Families() { return kFamilies; }

const IDeviceFamily& FamilyFor(DeviceProtocol protocol) {
    for (const IDeviceFamily* family : kFamilies) {
        if (family->Takes(protocol)) return *family;
    }
    return kMaker;
}
