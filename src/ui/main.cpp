#include "ui/LumidorApp.h"

// The window program reads no command line of its own; Qt gets the arguments only because
// its application object wants them.
int main(int argc, char** argv) {
    return theApp.Run(argc, argv);
}
