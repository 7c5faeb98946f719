#include "drums/KeyDispatch.h"

#include "audio/AePlayWave.h"
#include "drums/KeyCodes.h"

#include <QFile>
#include <utility>

namespace drums {

namespace {
void startRealPlayer(const QString& samplePath)
{
    AePlayWave(QFile::encodeName(samplePath).toStdString()).start();
}

PlayerStarter& starterSlot()
{
    static PlayerStarter starter = startRealPlayer;
    return starter;
}
} // namespace

PlayerStarter setPlayerStarter(PlayerStarter starter)
{
    if (!starter)
        starter = startRealPlayer;
    return std::exchange(starterSlot(), std::move(starter));
}

const Drum* dispatchKey(int keyCode)
{
    for (const Drum& drum : drumTable()) {
        for (const Binding& key : drum.keys) {
            if (bindingCode(*key.stored) == keyCode) {
                starterSlot()(samplePath(drum));
                return &drum;
            }
        }
    }
    return nullptr;
}

} // namespace drums
