#include "platform/PcscFunctions.h"

const PcscFunctions& SystemPcscFunctions() {
    static const PcscFunctions pcscLite = {
        SCardEstablishContext, SCardListReaders, SCardFreeMemory, SCardGetStatusChange,
        SCardConnect,          SCardGetAttrib,   SCardStatus,     SCardDisconnect,
        SCardReleaseContext,   SCardCancel,
    };
    return pcscLite;
}
