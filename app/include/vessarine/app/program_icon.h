// The program icon (icon group 128): a magnifier over a network plug, drawn
// at 16, 32 and 48 pixels.
#pragma once

#include <QIcon>
#include <QImage>

inline constexpr int kIconSizes[] = {16, 32, 48};

QImage DrawProgramIcon(int size);
QIcon ProgramIcon();
