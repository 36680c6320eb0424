// Feeds files to a fuzz target once each, without the fuzzing toolchain: the
// test run replays the kept corpus and every past crash input this way.
// Usage: replay_<target> FILE_OR_DIRECTORY...
// A directory that does not exist holds no inputs; none at all is an error.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
// Defined by the targets that need a one-time set-up, as libFuzzer expects it.
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> inputsIn(const fs::path& path)
{
    std::vector<fs::path> inputs;
    if (fs::is_regular_file(path)) {
        inputs.push_back(path);
    } else if (fs::is_directory(path)) {
        for (const fs::directory_entry& entry : fs::directory_iterator(path)) {
            if (entry.is_regular_file())
                inputs.push_back(entry.path());
        }
        std::sort(inputs.begin(), inputs.end());
    }
    return inputs;
}

} // namespace

int main(int argc, char** argv)
{
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    std::size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        for (const fs::path& input : inputsIn(argv[i])) {
            std::ifstream file(input, std::ios::binary);
            std::vector<char> bytes(fs::file_size(input));
            if (!file.read(bytes.data(), std::streamsize(bytes.size()))) {
                std::fprintf(stderr, "replay: cannot read %s\n", input.c_str());
                return 1;
            }
            // Printed before the run, so a crash names its input.
            std::printf("replay: %s (%zu bytes)\n", input.c_str(), bytes.size());
            std::fflush(stdout);
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
            ++replayed;
        }
    }
    if (replayed == 0) {
        std::fprintf(stderr, "replay: no inputs found\n");
        return 1;
    }
    std::printf("replay: %zu inputs, no fault\n", replayed);
    return 0;
}
