#include "drums/KeyCodes.h"

#include <QKeyEvent>

namespace drums {

std::int32_t bindingCode(const QString& binding)
{
    std::uint32_t h = 0;
    for (QChar c : binding)
        h = 31u * h + c.unicode();
    return static_cast<std::int32_t>(h);
}

int keyCodeOf(int qtKey, Qt::KeyboardModifiers modifiers)
{
    // Qt reports the keypad's "." as the main keyboard's, with a flag; the flag stays in.
    if (modifiers.testFlag(Qt::KeypadModifier))
        return qtKey | Qt::KeypadModifier;
    // With Shift held, Qt reports the shifted symbol of a US punctuation key ("<" for ",").
    // Only then is it mapped back, so a layout with a key of its own for "<" keeps its code.
    if (modifiers.testFlag(Qt::ShiftModifier)) {
        switch (qtKey) {
        case Qt::Key_Less:
            return Qt::Key_Comma;
        case Qt::Key_Greater:
            return Qt::Key_Period;
        case Qt::Key_Question:
            return Qt::Key_Slash;
        case Qt::Key_Colon:
            return Qt::Key_Semicolon;
        case Qt::Key_QuoteDbl:
            return Qt::Key_Apostrophe;
        case Qt::Key_BraceLeft:
            return Qt::Key_BracketLeft;
        case Qt::Key_Bar:
            return Qt::Key_Backslash;
        case Qt::Key_BraceRight:
            return Qt::Key_BracketRight;
        default:
            break;
        }
    }
    return qtKey;
}

int keyCodeOf(const QKeyEvent& event)
{
    return keyCodeOf(event.key(), event.modifiers());
}

const QStringList& keyItems()
{
    static const QStringList items {
        "Q", "W", "E", "R", "T", "Y", "U", "I", "O", "P", "[", "]", "\\", //
        "A", "S", "D", "F", "G", "H", "J", "K", "L", ";", "'", //
        "Z", "X", "C", "V", "B", "N", "M", ",", ".", "/", //
    };
    return items;
}

} // namespace drums
