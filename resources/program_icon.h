#pragma once
// The program's compiled-in resources: the icon, in every size drawn from orvik-kvx.svg.
#include <QIcon>

namespace kvx {

// The icon of the main window. Also registers the resources, which a static library would
// otherwise leave out of the link.
QIcon programIcon();

}  // namespace kvx
