#pragma once

#include <QIcon>

/// The program's icon: the drawn SVG where Qt can render SVG, and its PNG renderings otherwise.
[[nodiscard]] QIcon QuarnelIcon();
