#include "support/rig/VirtualCard.h"

#include <gtest/gtest.h>
#include <json/json.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kProcessEndWait{5000};
// The longest single wait for a state change, so that a card process that died is
// noticed between two of them.
constexpr std::chrono::milliseconds kChangeSlice{250};

void CheckIndex(int readerIndex) {
    if (readerIndex != 0 && readerIndex != 1) {
        throw std::invalid_argument("the rig has readers 0 and 1 only");
    }
}

std::vector<unsigned char> ParseHex(const std::string& text) {
    std::string digits;
    for (char c : text) {
        if (std::isspace(static_cast<unsigned char>(c)) == 0) {
            if (std::isxdigit(static_cast<unsigned char>(c)) == 0) {
                throw std::invalid_argument("not hexadecimal: " + text);
            }
            digits += c;
        }
    }
    if (digits.empty() || digits.size() % 2 != 0 || digits.size() > 2 * MAX_ATR_SIZE) {
        throw std::invalid_argument("an ATR has 1 to 33 bytes: " + text);
    }
    std::vector<unsigned char> bytes;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        bytes.push_back(static_cast<unsigned char>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

std::string HexText(const std::vector<unsigned char>& bytes) {
    std::string text;
    for (unsigned char byte : bytes) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02X", byte);
        text += digits;
    }
    return text;
}

// A PC/SC context on the rig's pcscd for one helper call.
class RigContext {
public:
    RigContext() {
        LONG result = SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &m_context);
        if (result != SCARD_S_SUCCESS) {
            throw std::runtime_error(
                "the rig's pcscd is not reachable at " + RigSocketPath() + " (" +
                pcsc_stringify_error(result) +
                "); is the test registered with PROPERTIES ${LUMIDOR_RIG_PROPERTIES}?");
        }
    }
    ~RigContext() { SCardReleaseContext(m_context); }
    RigContext(const RigContext&) = delete;
    RigContext& operator=(const RigContext&) = delete;
    SCARDCONTEXT get() const { return m_context; }

private:
    SCARDCONTEXT m_context = 0;
};

bool Reached(const SCARD_READERSTATE& state, bool present, const std::vector<unsigned char>& atr) {
    bool hasCard = (state.dwEventState & SCARD_STATE_PRESENT) != 0;
    if (!present) {
        return !hasCard;
    }
    return hasCard && (atr.empty() || std::equal(atr.begin(), atr.end(), state.rgbAtr,
                                                 state.rgbAtr + state.cbAtr));
}

// Waits for the reader's state; `stillValid` is asked between two waits.
template <typename Check>
bool WaitFor(int readerIndex, bool present, const std::vector<unsigned char>& atr,
             std::chrono::milliseconds bound, Check stillValid) {
    CheckIndex(readerIndex);
    const std::string name = RigReaderName(readerIndex);
    const Clock::time_point deadline = Clock::now() + bound;
    RigContext context;
    SCARD_READERSTATE state{};
    state.szReader = name.c_str();
    state.dwCurrentState = SCARD_STATE_UNAWARE;
    for (;;) {
        auto remaining =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        DWORD timeout = static_cast<DWORD>(
            std::clamp(remaining, std::chrono::milliseconds(0), kChangeSlice).count());
        // Returns at once when the state differs from dwCurrentState, else on a change or
        // at the time-out.
        LONG result = SCardGetStatusChange(context.get(), timeout, &state, 1);
        if (result == SCARD_S_SUCCESS) {
            if (Reached(state, present, atr)) {
                return true;
            }
            state.dwCurrentState = state.dwEventState & ~static_cast<DWORD>(SCARD_STATE_CHANGED);
        } else if (result != SCARD_E_TIMEOUT) {
            state.dwCurrentState = SCARD_STATE_UNAWARE;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (Clock::now() >= deadline || !stillValid()) {
            return false;
        }
    }
}

}  // namespace

std::string RigReaderName(int readerIndex) {
    CheckIndex(readerIndex);
    return readerIndex == 0 ? "Virtual PCD 00 00" : "Virtual PCD 00 01";
}

std::string RigSocketPath() {
    return std::string(LUMIDOR_RIG_DIR) + "/run/pcscd.comm";
}

int RigReaderPort(int readerIndex) {
    CheckIndex(readerIndex);
    std::ifstream in(std::string(LUMIDOR_RIG_DIR) + "/ports");
    int ports[2] = {0, 0};
    if (!(in >> ports[0] >> ports[1])) {
        throw std::runtime_error(std::string("the rig is not running (no ") + LUMIDOR_RIG_DIR +
                                 "/ports); is the test registered with "
                                 "PROPERTIES ${LUMIDOR_RIG_PROPERTIES}?");
    }
    return ports[readerIndex];
}

RigReaderStatus QueryRigReader(int readerIndex) {
    const std::string name = RigReaderName(readerIndex);
    RigContext context;
    SCARD_READERSTATE state{};
    state.szReader = name.c_str();
    state.dwCurrentState = SCARD_STATE_UNAWARE;
    RigReaderStatus status;
    status.result = static_cast<uint32_t>(SCardGetStatusChange(context.get(), 0, &state, 1));
    if (status.result == 0) {
        status.eventState = state.dwEventState;
        status.atr.assign(state.rgbAtr,
                          state.rgbAtr + std::min<DWORD>(state.cbAtr, sizeof state.rgbAtr));
    }
    return status;
}

bool WaitForRigReader(int readerIndex, bool present, const std::vector<unsigned char>& atr,
                      std::chrono::milliseconds bound) {
    return WaitFor(readerIndex, present, atr, bound, [] { return true; });
}

OpenPgpCardState ReadOpenPgpCardState(const std::string& stateDirectory) {
    const std::string path = stateDirectory + "/openpgp-card.json";
    std::ifstream in(path);
    Json::Value parsed;
    Json::CharReaderBuilder builder;
    std::string errors;
    if (!in || !Json::parseFromStream(builder, in, &parsed, &errors) || !parsed.isObject()) {
        throw std::runtime_error("cannot read the OpenPGP card's state " + path + " " + errors);
    }
    const Json::Value& root = parsed;
    const Json::Value& serial = root["serial"];
    const Json::Value& pw1 = root["pw1_retries"];
    const Json::Value& pw3 = root["pw3_retries"];
    const Json::Value& counter = root["signature_counter"];
    if (!serial.isString() || !pw1.isInt() || !pw3.isInt() || !counter.isInt64()) {
        throw std::runtime_error("the OpenPGP card's state " + path + " lacks a field");
    }
    return {serial.asString(), pw1.asInt(), pw3.asInt(), static_cast<long>(counter.asInt64())};
}

VirtualCard::VirtualCard(int readerIndex, const std::string& atrHex)
    : m_readerIndex(readerIndex), m_atr(ParseHex(atrHex)) {
    Insert({"--atr", HexText(m_atr)});
}

VirtualCard::VirtualCard(int readerIndex, const OpenPgpCard& card)
    : m_readerIndex(readerIndex), m_atr(ParseHex(kOpenPgpCardAtr)) {
    if (card.stateDirectory.empty()) {
        throw std::invalid_argument("the OpenPGP card needs a state directory");
    }
    Insert({"--card", "openpgp", "--state", card.stateDirectory});
}

void VirtualCard::Insert(const std::vector<std::string>& options) {
    CheckIndex(m_readerIndex);
    const std::string port = std::to_string(RigReaderPort(m_readerIndex));
    // Everything the child needs is prepared before fork: it only execs.
    std::vector<std::string> arguments = {LUMIDOR_PYTHON, LUMIDOR_VCARD, "--port", port};
    arguments.insert(arguments.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    const pid_t parent = getpid();

    m_pid = fork();
    if (m_pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (m_pid == 0) {
        // A test that dies must not leave its card in the reader.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) {
            _exit(127);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }

    bool ended = false;
    bool inserted = WaitFor(m_readerIndex, true, m_atr, kRigWait, [this, &ended] {
        if (waitpid(m_pid, nullptr, WNOHANG) != 0) {
            m_pid = -1;  // reaped: its id must not be signalled any more
            ended = true;
        }
        return !ended;
    });
    if (!inserted) {
        EndProcess();
        throw std::runtime_error("the virtual card in '" + readerName() + "' was not reported " +
                                 "present with ATR " + HexText(m_atr) +
                                 (ended ? " (the card process ended; see its stderr)" : ""));
    }
}

VirtualCard::~VirtualCard() {
    try {
        Remove();
    } catch (const std::exception& error) {
        ADD_FAILURE() << error.what();
    }
}

void VirtualCard::EndProcess() {
    if (m_pid <= 0) {
        return;
    }
    kill(m_pid, SIGTERM);
    const Clock::time_point deadline = Clock::now() + kProcessEndWait;
    while (waitpid(m_pid, nullptr, WNOHANG) == 0) {
        if (Clock::now() >= deadline) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    m_pid = -1;
}

void VirtualCard::Remove() {
    if (m_pid <= 0) {
        return;
    }
    EndProcess();
    if (!WaitForRigReader(m_readerIndex, false)) {
        throw std::runtime_error("'" + readerName() + "' still reports a card after removal");
    }
}
