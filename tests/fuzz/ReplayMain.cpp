// The fuzz target as a plain program: runs its entry point once on each file named, and on
// each file inside each folder named, in name order. CTest replays the seeds and every kept
// finding through it in an ordinary build, under that build's sanitizers. A broken invariant
// aborts, as under the fuzzer; finding nothing to replay is a failure too.
//
//   tamborel_fuzz_replay FILE-OR-FOLDER...
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fs = std::filesystem;

int main(int argc, char** argv)
{
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const fs::path given(argv[i]);
        if (fs::is_directory(given)) {
            std::vector<fs::path> inside;
            for (const auto& entry : fs::directory_iterator(given))
                if (entry.is_regular_file())
                    inside.push_back(entry.path());
            std::sort(inside.begin(), inside.end());
            inputs.insert(inputs.end(), inside.begin(), inside.end());
        } else if (fs::is_regular_file(given)) {
            inputs.push_back(given);
        } else {
            std::fprintf(stderr, "tamborel_fuzz_replay: no file or folder %s\n", argv[i]);
            return 2;
        }
    }
    if (inputs.empty()) {
        std::fprintf(stderr, "tamborel_fuzz_replay: nothing to replay\n");
        return 1;
    }
    for (const fs::path& input : inputs) {
        std::ifstream in(input, std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
        std::printf("%s (%zu bytes)\n", input.c_str(), bytes.size());
        std::fflush(stdout); // a crash must not swallow which input it was
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
    std::printf("%zu inputs replayed, every invariant held\n", inputs.size());
    return 0;
}
