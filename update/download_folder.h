#pragma once

#include <string>
#include <vector>

#include "platform/unique_fd.h"

namespace quarnel {

// A folder of its own for one download: made fresh under a base folder with a random name
// (mkdtemp: exclusive, mode 0700), held open so its files are reached through the folder itself
// rather than through a path another user could redirect, and removed with everything it made
// when it goes out of scope, whatever happened meanwhile. A shared temporary folder therefore
// never holds an installer under a name someone else could plant or swap.
class PrivateDownloadFolder {
  public:
    // base: the folder to make it in; empty means $TMPDIR, else /tmp. Valid() tells the result.
    explicit PrivateDownloadFolder(const std::string& base = {});
    ~PrivateDownloadFolder();
    PrivateDownloadFolder(const PrivateDownloadFolder&) = delete;
    PrivateDownloadFolder& operator=(const PrivateDownloadFolder&) = delete;

    bool Valid() const { return folder_.Valid(); }
    const std::string& Path() const { return path_; }

    // Creates the file name (no slashes) in the folder, exclusively (an existing name or a link
    // fails), readable and writable by the owner only; an invalid descriptor on failure.
    UniqueFd CreateFile(const std::string& name);

  private:
    std::string path_;
    UniqueFd folder_;
    std::vector<std::string> files_;
};

}  // namespace quarnel
