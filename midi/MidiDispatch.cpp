#include "midi/MidiDispatch.h"

#include "audio/AePlayWave.h"
#include "midi/MidiInput.h"
#include "midi/NoteMap.h"

#include <QCoreApplication>
#include <QFile>
#include <QLoggingCategory>
#include <QMetaObject>
#include <QSocketNotifier>
#include <memory>
#include <sys/eventfd.h>
#include <thread>
#include <utility>

Q_LOGGING_CATEGORY(lcMidi, "tamborel.midi")

namespace midi {

namespace {

void startRealHit(const QString& samplePath, float gainDb)
{
    AePlayWave(QFile::encodeName(samplePath).toStdString(), AePlayWave::Position::NORMAL, gainDb)
        .start();
}

HitStarter& starterSlot()
{
    static HitStarter starter = startRealHit;
    return starter;
}

// [event] Plays every note waiting, and says when the queue had to drop some.
void drain(MidiInput& input)
{
    eventfd_t count = 0;
    (void)::eventfd_read(input.wakeDescriptor(), &count);
    NoteOn note;
    while (input.notes().pop(note))
        dispatchNote(note);
    static std::uint64_t toldDropped = 0;
    if (const std::uint64_t dropped = input.notes().dropped(); dropped != toldDropped) {
        qCWarning(lcMidi, "%llu notes dropped in all: more came at once than the queue holds",
            static_cast<unsigned long long>(dropped));
        toldDropped = dropped;
    }
}

// [event] The input lives as long as the program: its notifier wakes the event thread for
// notes.
void listen(MidiInput* input)
{
    auto* notifier = new QSocketNotifier(
        input->wakeDescriptor(), QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [input] { drain(*input); });
    qCInfo(lcMidi, "MIDI input \"Tamborel\" on PipeWire: every MIDI source is linked to it");
}

} // namespace

HitStarter setHitStarter(HitStarter starter)
{
    if (!starter)
        starter = startRealHit;
    return std::exchange(starterSlot(), std::move(starter));
}

const drums::Drum* dispatchNote(const NoteOn& note)
{
    const drums::Drum* drum = drumForNote(note.note);
    if (drum)
        starterSlot()(drums::samplePath(*drum), velocityGainDb(note.velocity));
    return drum;
}

void startMidiInput()
{
    std::thread([] {
        std::string failure;
        std::unique_ptr<MidiInput> input = MidiInput::open(failure);
        if (!input) {
            qCInfo(lcMidi, "no MIDI input: %s", failure.c_str());
            return;
        }
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [input = input.release()] { listen(input); },
            Qt::QueuedConnection);
    }).detach();
}

} // namespace midi
