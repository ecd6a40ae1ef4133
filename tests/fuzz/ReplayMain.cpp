// Replays every file of the folders given (and files given by name) through the fuzz target;
// options starting with "-" are libFuzzer's and are ignored here.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fs = std::filesystem;

namespace {

void Replay(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    const std::string bytes(std::istreambuf_iterator<char>(in), {});
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
    int replayed = 0;
    for (int i = 1; i < argc; ++i) {
        const fs::path path = argv[i];
        if (argv[i][0] == '-') {
            continue;
        }
        if (fs::is_directory(path)) {
            for (const auto& entry : fs::directory_iterator(path)) {
                Replay(entry.path());
                ++replayed;
            }
        } else {
            Replay(path);
            ++replayed;
        }
    }
    std::printf("replayed %d inputs\n", replayed);
    return replayed > 0 ? 0 : 1;
}
