#include "pictures.h"

// The resources of a static library are registered by hand, outside any namespace.
static void LoadPictures() {
    static bool loaded = false;
    if (!loaded)
        Q_INIT_RESOURCE(resources);
    loaded = true;
}

QIcon ProgramIcon() {
    LoadPictures();
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/pictures/reririduruv-%1.png").arg(size), QSize(size, size));
    return icon;
}

QIcon Picture(const char* name) {
    LoadPictures();
    return QIcon(QStringLiteral(":/pictures/%1.png").arg(QLatin1String(name)));
}
