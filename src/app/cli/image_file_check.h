#pragma once

#include <string>

// What is wrong with `path` as a firmware image to upload, in the user's terms: there is
// no file, it is a folder, it cannot be read (with the system's reason), or it is not a
// firmware image. Empty when it is one.
std::string ImageFileProblem(const std::string& path);
