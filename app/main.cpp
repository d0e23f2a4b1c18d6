// velmora: the upgrade dialog.
#include "app/UpgradeApp.h"

int main(int argc, char** argv) {
    velmora::CUpgradeApp app(argc, argv);
    return app.InitInstance();
}
