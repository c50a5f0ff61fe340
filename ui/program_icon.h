#pragma once

#include <QIcon>

// The logo as the windows' icon, drawn from the SVG at the usual icon sizes, so no icon plugin is
// needed.
QIcon ProgramIcon();
