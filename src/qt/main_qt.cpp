// Tessarbolink on Linux.
#include "qt/drop_app_qt.h"

int main(int argc, char** argv) {
    CDropApp app;
    return app.Run(argc, argv);
}
