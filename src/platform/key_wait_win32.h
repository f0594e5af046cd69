// What the Windows key wait makes of one console input event; apart from the
// wait itself so that the rule can be tested without a console.
#pragma once

// For a key event: the key's byte (0 for a key without a character, such as
// an arrow key), or -1 when the event does not end the wait: a key going up,
// or a modifier key (Shift, Ctrl, Alt, the Windows keys, the lock keys) alone.
int keyOfConsoleEvent(bool keyDown, unsigned short virtualKey, char character);
