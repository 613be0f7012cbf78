// Replays inputs through a fuzz target's input function without libFuzzer: each argument is a
// file or a folder of files; arguments starting with '-' are ignored, so the libFuzzer command
// line works too. Fails when there was nothing to replay.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::size_t Replay(const std::filesystem::path& path) {
    if (std::filesystem::is_directory(path)) {
        std::size_t count = 0;
        for (const auto& entry : std::filesystem::directory_iterator(path)) {
            if (entry.is_regular_file()) count += Replay(entry.path());
        }
        return count;
    }
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in),
                                  std::istreambuf_iterator<char>()};
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t count = 0;
    for (int i = 1; i < argc; ++i) {
        if (argv[i][0] != '-') count += Replay(argv[i]);
    }
    std::printf("replayed %zu inputs\n", count);
    return count > 0 ? 0 : 1;
}
