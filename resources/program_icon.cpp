#include "resources/program_icon.h"

static void initProgramResources() {
    Q_INIT_RESOURCE(resources);
}

namespace kvx {

QIcon programIcon() {
    initProgramResources();
    // Every size drawn from the one SVG at build time, so each size is sharp as it is.
    QIcon icon;
    for (const int size : {KVX_ICON_SIZES})
        icon.addFile(QStringLiteral(":/orvik_kvx/icon-%1.png").arg(size), QSize(size, size));
    return icon;
}

}  // namespace kvx
