#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

class QKeyEvent;

namespace drums {

// The code a binding stands for: the 32-bit polynomial hash of its UTF-16 text
// (h = 31 * h + c, wrapping), which for a one-character binding is that character's code.
std::int32_t bindingCode(const QString& binding);

// The code of a pressed key: letters give their upper-case code whatever Shift and Caps Lock
// do, and the eight punctuation keys a binding can name give their unshifted character's code
// also when Shift is held. The keypad's keys are keys of their own, not the main keyboard's
// ".", "/" and ",": their codes keep Qt's keypad flag, so none equals a binding's. Other keys
// keep Qt's code.
int keyCodeOf(const QKeyEvent& event);
int keyCodeOf(int qtKey, Qt::KeyboardModifiers modifiers);

// The 34 keys a binding can name, in keyboard order: the three letter rows of a US keyboard.
const QStringList& keyItems();

} // namespace drums
