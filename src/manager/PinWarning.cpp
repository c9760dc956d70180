#include "manager/PinWarning.h"

std::string PinWarningText(CK_FLAGS tokenFlags) {
    if ((tokenFlags & CKF_USER_PIN_LOCKED) != 0) {
        return "Attenzione: il PIN e' bloccato, il test non potra' accedere alla carta";
    }
    if ((tokenFlags & CKF_USER_PIN_FINAL_TRY) != 0) {
        return "Attenzione: resta un solo tentativo per il PIN, poi la carta si blocca";
    }
    if ((tokenFlags & CKF_USER_PIN_COUNT_LOW) != 0) {
        return "Attenzione: il PIN e' gia' stato digitato in modo errato, restano pochi "
               "tentativi";
    }
    return {};
}
