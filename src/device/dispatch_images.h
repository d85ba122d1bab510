#pragma once

#include <optional>
#include <string>

// The images an Upgrade command's dispatch hands out instead of the firmware store's, as
// the page or the command line chose them. The camera control holds them; the upgrade
// history asks here which image a device was given.
class IDispatchImages {
public:
    virtual ~IDispatchImages() = default;

    // While set, every dispatched device of the maker's is given this one image.
    virtual std::optional<std::string> ManualImage() const = 0;
    // While set, every dispatched ONVIF camera is given this image.
    virtual std::optional<std::string> CameraImage() const = 0;
};
