#include "resources/program_icon.h"

static void initProgramResources() {
    Q_INIT_RESOURCE(resources);
}

namespace kvx {

QIcon programIcon() {
    initProgramResources();
    return QIcon(QStringLiteral(":/orvik_kvx/icon_105.png"));
}

}  // namespace kvx
