// The fuzz target as a plain program: runs every file of the folders (or the files) named on the
// command line through the target once, in name order. The normal and sanitizer builds run each
// target this way on its seed corpus, so its properties are checked on every test run, not only
// while fuzzing.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::vector<std::string> InputFiles(const std::filesystem::path& path) {
    std::vector<std::string> files;
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        for (const auto& entry : std::filesystem::directory_iterator(path, error)) {
            if (entry.is_regular_file(error)) {
                files.push_back(entry.path().string());
            }
        }
    } else if (std::filesystem::is_regular_file(path, error)) {
        files.push_back(path.string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        const std::vector<std::string> files = InputFiles(argv[i]);
        if (files.empty()) {
            std::fprintf(stderr, "%s: no inputs in %s\n", argv[0], argv[i]);
            return 1;
        }
        for (const std::string& file : files) {
            std::ifstream in(file, std::ios::binary);
            const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
            if (!in.good() && !in.eof()) {
                std::fprintf(stderr, "%s: cannot read %s\n", argv[0], file.c_str());
                return 1;
            }
            // A buffer of exactly the input's size, so a read past its end is caught.
            const std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[bytes.size()]);
            std::copy(bytes.begin(), bytes.end(), copy.get());
            LLVMFuzzerTestOneInput(copy.get(), bytes.size());
            ++replayed;
        }
    }
    if (replayed == 0) {
        std::fprintf(stderr, "usage: %s <corpus folder or file>...\n", argv[0]);
        return 1;
    }
    std::printf("%s: %zu inputs replayed\n", argv[0], replayed);
    return 0;
}
