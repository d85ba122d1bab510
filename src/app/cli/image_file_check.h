#pragma once

#include <string>

// What is wrong with `path` as a firmware image to upload, in the user's terms: there is
// no file, it is a folder, it cannot be read (with the system's reason), or it is not a
// firmware image. Empty when it is one. A camera of another maker (`markRequired`
// false) takes its maker's images, which carry no mark: any file with bytes in it.
std::string ImageFileProblem(const std::string& path, bool markRequired = true);
