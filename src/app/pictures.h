#pragma once

#include <QPixmap>

// Picture resources of the state picture: 101 disconnected (grey plug, apart), 102 connected
// (green plug, joined).
QPixmap StatePicture(int resource, int size);
