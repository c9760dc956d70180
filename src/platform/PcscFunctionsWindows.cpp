#include "platform/PcscFunctions.h"

// WinSCard's ANSI functions: the program's texts are UTF-8, which the process's code page is.
const PcscFunctions& SystemPcscFunctions() {
    static const PcscFunctions winScard = {
        SCardEstablishContext, SCardListReadersA, SCardFreeMemory, SCardGetStatusChangeA,
        SCardConnectA,         SCardGetAttrib,    SCardStatusA,    SCardDisconnect,
        SCardReleaseContext,   SCardCancel,
    };
    return winScard;
}
