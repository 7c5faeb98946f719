// Writes the demo kits into the folder given as the only argument.
#include <cstdio>
#include <filesystem>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: tamborel-kitsynth OUTPUT-FOLDER\n");
        return 2;
    }
    std::filesystem::create_directories(std::filesystem::path(argv[1]) / "custom");
    return 0;
}
