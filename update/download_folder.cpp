#include "update/download_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace quarnel {

PrivateDownloadFolder::PrivateDownloadFolder(const std::string& base) {
    std::string parent = base;
    if (parent.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        parent = tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp";
    }
    std::string pattern = parent + "/quarnel-update-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        return;
    }
    path_ = pattern;
    folder_.Reset(::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (folder_) {
        ::fchmod(folder_.Get(), 0700);  // whatever the umask took away from the owner
    }
    struct stat info = {};
    // What was opened must be the folder just made: ours, private, not a link put in its place.
    if (!folder_ || ::fstat(folder_.Get(), &info) != 0 || info.st_uid != ::geteuid() ||
        (info.st_mode & 0777) != 0700) {
        folder_.Reset();
        ::rmdir(path_.c_str());
        path_.clear();
    }
}

PrivateDownloadFolder::~PrivateDownloadFolder() {
    if (!folder_) {
        return;
    }
    for (const std::string& name : files_) {
        ::unlinkat(folder_.Get(), name.c_str(), 0);
    }
    folder_.Reset();
    ::rmdir(path_.c_str());
}

UniqueFd PrivateDownloadFolder::CreateFile(const std::string& name) {
    if (!folder_ || name.empty() || name.find('/') != std::string::npos || name == "." ||
        name == "..") {
        return UniqueFd();
    }
    UniqueFd file(::openat(folder_.Get(), name.c_str(),
                           O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (file) {
        files_.push_back(name);
    }
    return file;
}

}  // namespace quarnel
