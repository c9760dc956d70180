#pragma once

// The real-part PC/SC rig: the rig's own pcscd (CTest fixture `pcscd_rig`, started by
// tools/rig.py) with the two virtual readers, and cards inserted by the project's virtual
// card (tools/vcard.py).
//
// A test that uses it is registered with `PROPERTIES ${LUMIDOR_RIG_PROPERTIES}` (the
// fixture plus a lock on the rig, so that such tests never run at the same time). Every
// test program reaches the rig's pcscd, not the system's: PCSCLITE_CSOCK_NAME is set for
// it before main (RigEnvironment.cpp).

#include <sys/types.h>
#include <winscard.h>

#include <chrono>
#include <string>
#include <vector>

// How long the helpers wait for pcscd to report a change before they give up.
constexpr std::chrono::milliseconds kRigWait{20000};

// "Virtual PCD 00 00" for 0, "Virtual PCD 00 01" for 1.
std::string RigReaderName(int readerIndex);
// The rig pcscd's socket.
std::string RigSocketPath();
// The TCP port of a virtual reader on 127.0.0.1 (read from the running rig).
int RigReaderPort(int readerIndex);

// One reader as pcscd reports it now.
struct RigReaderStatus {
    uint32_t result = 0;  // of the status query; the fields below are valid when 0
    DWORD eventState = 0;
    std::vector<unsigned char> atr;
    bool present() const { return result == 0 && (eventState & SCARD_STATE_PRESENT) != 0; }
};
RigReaderStatus QueryRigReader(int readerIndex);

// Waits until the reader holds a card (with this ATR when `atr` is not empty) or is
// empty. Watches pcscd's state changes, at most `bound`; true when the state was reached.
// Throws std::runtime_error when the rig's pcscd cannot be reached.
bool WaitForRigReader(int readerIndex, bool present, const std::vector<unsigned char>& atr = {},
                      std::chrono::milliseconds bound = kRigWait);

// The virtual OpenPGP card (tools/openpgp_card.py: OpenPGP card application 3.4, RSA 2048
// signing, decryption and authentication keys; PINs 123456 and admin 12345678, 3 tries each;
// the signing PIN holds for one signature). Its keys, PINs and counters live in
// `stateDirectory`, created there on first use with a random serial number and kept from one
// card to the next.
struct OpenPgpCard {
    std::string stateDirectory;
};
// Its ATR, OpenSC's "OpenPGP card v3.x".
constexpr const char* kOpenPgpCardAtr =
    "3B DA 18 FF 81 B1 FE 75 1F 03 00 31 F5 73 C0 01 60 00 90 00 1C";

// What the OpenPGP card's state file (DIR/openpgp-card.json) says now.
struct OpenPgpCardState {
    std::string serial;  // 8 hexadecimal digits (upper case), as in the AID after "FFFF"
    int pw1Retries = -1;
    int pw3Retries = -1;
    long signatureCounter = -1;
};
// Throws std::runtime_error when the file cannot be read or lacks a field.
OpenPgpCardState ReadOpenPgpCardState(const std::string& stateDirectory);

// A card in a virtual reader for the object's lifetime:
//
//     VirtualCard card(1, "3B 02 14 50");   // inserted, pcscd reports it present
//     VirtualCard pgp(0, OpenPgpCard{dir.path() + "/card"});
//     ...
//     card.Remove();                        // or let the destructor remove it
class VirtualCard {
public:
    // Starts the virtual card on reader `readerIndex` (0 or 1) answering with `atrHex`
    // (hexadecimal, blanks allowed) and waits until pcscd reports it present with that ATR.
    // Throws std::runtime_error when that does not happen.
    VirtualCard(int readerIndex, const std::string& atrHex);
    // The same with the OpenPGP card (its ATR is kOpenPgpCardAtr).
    VirtualCard(int readerIndex, const OpenPgpCard& card);
    // Removes the card if it is still in; a failure there is reported as a test failure.
    ~VirtualCard();
    VirtualCard(const VirtualCard&) = delete;
    VirtualCard& operator=(const VirtualCard&) = delete;

    // Ends the card's process (by its id) and waits until pcscd reports the reader empty.
    // Throws std::runtime_error when the reader does not become empty.
    void Remove();

    int readerIndex() const { return m_readerIndex; }
    std::string readerName() const { return RigReaderName(m_readerIndex); }
    const std::vector<unsigned char>& atr() const { return m_atr; }
    pid_t pid() const { return m_pid; }

private:
    // Starts vcard.py with `options` after the reader's port and waits for the card.
    void Insert(const std::vector<std::string>& options);
    void EndProcess();

    int m_readerIndex;
    std::vector<unsigned char> m_atr;
    pid_t m_pid = -1;
};
