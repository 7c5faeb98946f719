#pragma once

#include <QString>
#include <array>

namespace drums {

// One drum or cymbal of the kit: its shown name, its two bindings in the store and the file
// of its sample inside a kit folder. Every drum plays unpanned.
struct Drum {
    const char* name;
    QString* key1;
    QString* key2;
    const char* sampleFile;
};

inline constexpr std::size_t drumCount = 12;

// The twelve drums in the order the whole program shares: the store declares the bindings in
// it, dispatch tests them in it and the configuration window lists the drums in it.
const std::array<Drum, drumCount>& drumTable();

// "./kits/" + the current kit + the drum's sample file, joined as they are.
QString samplePath(const Drum& drum);

} // namespace drums
