#include "app/cli/image_file_check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/regular_file.h"
#include "pipeline/image_file.h"

std::string ImageFileProblem(const std::string& path, bool markRequired) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) return "there is no file '" + path + "'";
        return "'" + path + "' cannot be reached: " + std::strerror(errno);
    }
    if (S_ISDIR(st.st_mode)) return "'" + path + "' is a folder, not a firmware image file";
    if (!S_ISREG(st.st_mode)) return "'" + path + "' is not a regular file";
    const int fd = OpenRegularFile(path, O_RDONLY);
    if (fd < 0) return "'" + path + "' cannot be read: " + FileErrorText(errno);
    ::close(fd);
    if (!markRequired) {
        if (st.st_size == 0) return "'" + path + "' is empty";
        return {};
    }
    if (!IsFirmwareImage(path)) {
        return "'" + path +
               "' is not a firmware image (it must start with QRBA, QRBE, QRBI, QRBO or QRBU, "
               "or be an image of the firmware store)";
    }
    return {};
}
