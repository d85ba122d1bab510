#pragma once

#include <string>
#include <vector>

#include "registry/camera_table.h"

// Which of the listed devices a command works on. The table joins the reports of one
// device under several identifiers (its search id, its MAC, an ONVIF endpoint): any of
// them names the device, which is worked on once, under the key it is listed by.

// Every listed key with `all`, else the listed keys of the `requested` identifiers, each
// once; `missing` receives, once each, the requested identifiers not listed.
std::vector<std::string> ChooseDevices(const CCameraTable& table, bool all,
                                       const std::vector<std::string>& requested,
                                       std::vector<std::string>& missing);

// The listed keys of `keys` now (a log-in may have joined two of them since), each once,
// in order; a key no longer listed stays as it is.
std::vector<std::string> ListedKeys(const CCameraTable& table,
                                    const std::vector<std::string>& keys);
