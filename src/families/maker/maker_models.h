#pragma once

#include <string>

// How a model of the maker takes its firmware: the model table.
enum class MakerForm {
    // The NVR form: the log-in form, one cgi_main upload of the front image, then the
    // reboot countdown.
    CgiMain,
    // The "PLX-420S" models: beforeupgrade.cgi, then a firmwareupgrade upload and a
    // return for every image.
    FirmwareCgi,
};

struct MakerModel {
    MakerForm Form = MakerForm::CgiMain;
};

// The table's row for a model name as the device lists it (matched without regard to
// case, anywhere in the name); the NVR form for any model it does not name.
MakerModel MakerModelOf(const std::string& modelName);
