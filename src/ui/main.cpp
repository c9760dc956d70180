#include "ui/LumidorApp.h"
#include "ui/LumidorResources.h"

// The window program reads no command line of its own; Qt gets the arguments only because
// its application object wants them. The dialog framework gets the program's templates and
// icon before any window.
int main(int argc, char** argv) {
    RegisterLumidorResources();
    return theApp.Run(argc, argv);
}
