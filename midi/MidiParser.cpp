#include "midi/MidiParser.h"

namespace midi {

namespace {

// How many data bytes follow a status byte.
int dataBytes(std::uint8_t status) noexcept
{
    switch (status & 0xF0) {
    case 0xC0: // program change
    case 0xD0: // channel pressure
        return 1;
    case 0xF0:
        // Song position takes two, time code and song select one, the rest none.
        return status == 0xF2 ? 2 : (status == 0xF1 || status == 0xF3) ? 1 : 0;
    default:
        return 2;
    }
}

} // namespace

bool MidiParser::take(std::uint8_t byte, NoteOn& note) noexcept
{
    // Real-time bytes may come anywhere, even inside another message, and change nothing.
    if (byte >= 0xF8)
        return false;
    if (byte & 0x80) {
        have_ = 0;
        inSysex_ = byte == 0xF0;
        // System messages end running status; End of Exclusive just ends the exclusive.
        status_ = (byte >= 0xF0 && dataBytes(byte) == 0) ? 0 : byte;
        return false;
    }
    if (inSysex_ || status_ == 0)
        return false;
    data_[have_++] = byte;
    if (have_ < dataBytes(status_))
        return false;
    have_ = 0;
    const std::uint8_t status = status_;
    // Running status holds for channel messages only.
    if (status >= 0xF0)
        status_ = 0;
    if ((status & 0xF0) != 0x90 || data_[1] == 0)
        return false;
    note = { static_cast<std::uint8_t>(status & 0x0F), data_[0], data_[1] };
    return true;
}

} // namespace midi
