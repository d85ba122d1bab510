#pragma once

#include <atomic>
#include <string>

// The MD5 text of a stored image: the digest of the file's bytes after its 4-byte size
// header, as 32 lower-case hexadecimal digits. Reads the file in chunks, so memory stays
// flat whatever the image size. False (and `md5` empty) when the file cannot be read, is
// shorter than its header, or `cancel` was set meanwhile.
bool ComputeFileMD5(const std::string& path, std::string& md5,
                    const std::atomic<bool>* cancel = nullptr);

// The MD5 text of any file's whole content, as md5sum prints it; false (and `md5` empty)
// when the file cannot be read.
bool ComputeWholeFileMD5(const std::string& path, std::string& md5);
