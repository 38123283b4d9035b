#include "app/AppIcon.h"

static void InitPelnoraResources() {
    Q_INIT_RESOURCE(pelnora);
}

QIcon PelnoraIcon() {
    static const bool initialised = (InitPelnoraResources(), true);
    (void)initialised;
    QIcon icon;
    icon.addFile(QStringLiteral(":/pelnora/pelnora-64.png"), QSize(64, 64));
    icon.addFile(QStringLiteral(":/pelnora/pelnora-256.png"), QSize(256, 256));
    return icon;
}
