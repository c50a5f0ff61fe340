#pragma once

#include <QIcon>

// The start button's three images, drawn at whatever size the button asks for so that they stay
// sharp when the window is scaled: a green triangle pointing right while up (stopped) and while
// being pressed, a red filled circle while down (started), a gray triangle while disabled.
QIcon StartButtonIcon();
