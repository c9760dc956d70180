// With the real parts: the rig's pcscd, the virtual reader driver and the virtual card.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "manager/Pcsc.h"
#include "manager/SmartCardManager.h"
#include "support/TempDir.h"
#include "support/rig/VirtualCard.h"

namespace {

const std::vector<std::string> kRigReaders = {"Virtual PCD 00 00", "Virtual PCD 00 01"};

std::vector<std::string> Names(const CSmartCardManager& manager) {
    std::vector<std::string> names;
    for (uint32_t i = 0; i < manager.m_readerCount; ++i) {
        names.emplace_back(manager.m_readers[i].szReader);
    }
    return names;
}

bool Present(const CSmartCardManager& manager, int index) {
    return (manager.m_readers[index].dwEventState & SCARD_STATE_PRESENT) != 0;
}

TEST(PcscRigTest, UpdateReadersFollowsACardInTheSecondReader) {
    TempDir dir;
    CSmartCardManager manager;
    ASSERT_EQ(manager.UpdateReaders(), 0u);
    EXPECT_EQ(Names(manager), kRigReaders);
    EXPECT_FALSE(Present(manager, 0));
    EXPECT_FALSE(Present(manager, 1));

    VirtualCard card(1, "3B 02 14 50");
    ASSERT_EQ(manager.UpdateReaders(), 0u);
    EXPECT_FALSE(Present(manager, 0));
    EXPECT_TRUE(Present(manager, 1));
    // Again: one copy per name (the sanitizer build catches a leak or a double free).
    ASSERT_EQ(manager.UpdateReaders(), 0u);
    EXPECT_EQ(Names(manager), kRigReaders);
    EXPECT_TRUE(Present(manager, 1));

    card.Remove();
    ASSERT_EQ(manager.UpdateReaders(), 0u);
    EXPECT_EQ(Names(manager), kRigReaders);
    EXPECT_FALSE(Present(manager, 1));
}

TEST(PcscRigTest, AtrOfAReaderWithoutTheAttributeComesFromTheStatus) {
    VirtualCard card(0, "3B 8E 80 01 80 31 80 65 49 54 4E 58 50 12 0F FF 82 90 F0");
    SCARDCONTEXT context = 0;
    ASSERT_EQ(PcscEstablishContext(&context), 0u);
    SCARDHANDLE handle = 0;
    ASSERT_EQ(PcscConnect(context, card.readerName().c_str(), &handle), 0u);

    // The virtual reader leaves the attribute to the service, which does not answer it:
    // this is the case the fallback exists for.
    unsigned char buffer[256] = {};
    DWORD length = sizeof buffer;
    EXPECT_EQ(SCardGetAttrib(handle, SCARD_ATTR_ATR_STRING, buffer, &length),
              SCARD_E_UNSUPPORTED_FEATURE);
    length = sizeof buffer;
    EXPECT_EQ(PcscGetAtr(handle, buffer, &length), 0u);
    EXPECT_EQ(std::vector<unsigned char>(buffer, buffer + length), card.atr());

    PcscDisconnect(handle);
    PcscReleaseContext(context);
}

TEST(PcscRigTest, VirtualCardAnswersAnApduWithItsStatusWord) {
    VirtualCard card(1, "3B 02 14 50");
    SCARDCONTEXT context = 0;
    ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context), SCARD_S_SUCCESS);
    SCARDHANDLE handle = 0;
    DWORD protocol = 0;
    ASSERT_EQ(SCardConnect(context, card.readerName().c_str(), SCARD_SHARE_SHARED,
                           SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &handle, &protocol),
              SCARD_S_SUCCESS);
    const unsigned char select[] = {0x00, 0xA4, 0x04, 0x00, 0x02, 0x3F, 0x00};
    unsigned char answer[258] = {};
    DWORD answerLength = sizeof answer;
    const SCARD_IO_REQUEST* pci = protocol == SCARD_PROTOCOL_T0 ? SCARD_PCI_T0 : SCARD_PCI_T1;
    EXPECT_EQ(SCardTransmit(handle, pci, select, sizeof select, nullptr, answer, &answerLength),
              SCARD_S_SUCCESS);
    EXPECT_EQ(std::vector<unsigned char>(answer, answer + answerLength),
              (std::vector<unsigned char>{0x6D, 0x00}));
    SCardDisconnect(handle, SCARD_LEAVE_CARD);
    SCardReleaseContext(context);
}

TEST(PcscRigTest, VirtualReadersListenOnLoopbackOnly) {
    for (int reader = 0; reader < 2; ++reader) {
        const int port = RigReaderPort(reader);
        int listeners = 0;
        for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
            std::ifstream in(table);
            std::string line;
            std::getline(in, line);  // header
            while (std::getline(in, line)) {
                // sl local_address rem_address st ...; addresses as hex "ADDR:PORT"
                std::istringstream fields(line);
                std::string slot, local, remote, state;
                fields >> slot >> local >> remote >> state;
                std::size_t colon = local.find(':');
                if (state != "0A" || colon == std::string::npos ||
                    std::stoi(local.substr(colon + 1), nullptr, 16) != port) {
                    continue;
                }
                ++listeners;
                const std::string address = local.substr(0, colon);
                EXPECT_TRUE(address == "0100007F" || address == "00000000000000000000000001000000")
                    << table << " port " << port << " listens on " << address;
            }
        }
        EXPECT_EQ(listeners, 1) << "port " << port;
    }
}

}  // namespace
