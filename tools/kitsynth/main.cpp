// Writes the demo kits into the folder given as the only argument.
#include "Kits.h"
#include "WavFile.h"

#include <cstdio>
#include <filesystem>

namespace fs = std::filesystem;

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: tamborel-kitsynth OUTPUT-FOLDER\n");
        return 2;
    }
    const fs::path out(argv[1]);
    std::error_code error;
    // The user's own kit: made empty, and never touched if it is already there.
    fs::create_directories(out / "custom", error);
    if (error) {
        std::fprintf(stderr, "tamborel-kitsynth: cannot create %s: %s\n", (out / "custom").c_str(),
            error.message().c_str());
        return 1;
    }
    for (const std::string& kit : kitsynth::kitNames()) {
        const fs::path folder = out / kit;
        fs::create_directories(folder, error);
        if (error) {
            std::fprintf(stderr, "tamborel-kitsynth: cannot create %s: %s\n", folder.c_str(),
                error.message().c_str());
            return 1;
        }
        for (const kitsynth::Sample& sample : kitsynth::renderKit(kit)) {
            const std::string failure = kitsynth::writeWav(folder / sample.file, sample);
            if (!failure.empty()) {
                std::fprintf(stderr, "tamborel-kitsynth: cannot write %s: %s\n",
                    (folder / sample.file).c_str(), failure.c_str());
                return 1;
            }
        }
    }
    return 0;
}
