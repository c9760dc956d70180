#include "platform/ProgramFiles.h"

std::string SystemAtrListPath() {
    return "/usr/share/pcsc/smartcard_list.txt";
}
